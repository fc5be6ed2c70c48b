// Puts what the monitor starts with into its window: the remembered fields
// with the command line over them, the password for --plot, a first cycle
// once the window is on screen, and the fields remembered again as they
// change and when the window closes. Without options on a first run none of this changes
// anything: the window stays as it was designed.
#pragma once

#include "app/start_options.h"

class TForm1;

// The boxes and the range choice. Choosing a range this way runs no cycle.
void ApplyStartFields(TForm1& form, const TStartFields& fields);

// What the boxes and the range choice hold now.
TStartFields StartFieldsOf(const TForm1& form);

// Everything the program does to its window before showing it: the fields
// remembered in settingsFile with the options' fields over them, the
// password and the first cycle when --plot asks for them, and the fields
// kept in settingsFile (KeepStartFields).
void PrepareWindow(TForm1& form, const TStartOptions& options, const QString& settingsFile);

// How long typing pauses before the boxes are written.
inline constexpr int SettingsSettleMs = 500;

// Writes the boxes, range and router to settingsFile whenever one changes
// (once typing pauses) and when the window closes.
void KeepStartFields(TForm1& form, const QString& settingsFile);
