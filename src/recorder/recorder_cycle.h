// The recorder's one reading of a line: a session with the router, the
// reading the history keeps, and the failure words the window would show.
// The one place the recorder asks a router for its line.
#pragma once

#include "line/reading.h"
#include "recorder/recorder_config.h"

#include <QString>

#include <chrono>

struct TRecorderReading {
    TReading Reading;
    QString Failure;            // empty when the reading completed
    bool LoginRefused = false;  // the router did not accept the user name or password
};

// previous: the line's last reading, so QLN and Hlog are read again only
// after the line retrained.
TRecorderReading TakeRecorderReading(const TRecorderLine& line, std::chrono::milliseconds deadline,
    const TReading* previous = nullptr);
