// The recorder's configuration: one INI section a line, named by the line's
// name, with the router's address, family, login and the line's interval.
// Read whole before anything runs, so every mistake is one clear line at
// start-up, never a line that silently goes unrecorded for months. QtCore
// only.
#pragma once

#include "line/router_family.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

struct TRecorderLine {
    QString Name;
    QString Host;
    int Port = 23;
    TRouterFamily Router = TRouterFamily::Zyxel;
    QString Username;
    QString PasswordFile;
    QByteArray Password; // read from PasswordFile when the file is loaded
    QString Prompt = QStringLiteral(">");
    int IntervalSeconds = 60;
    bool Figures = false;
};

struct TRecorderConfig {
    QString Path;
    std::vector<TRecorderLine> Lines;
};

struct TRecorderConfigResult {
    std::optional<TRecorderConfig> Config;
    QString Error; // one line: the file, the line number and what is wrong
};

// <AppConfigLocation>/recorder.conf.
QString DefaultRecorderConfigPath();

// Parses text as if read from path (for the messages and for password files
// named relative to the configuration's folder); each password file is read
// and refused when its group or others may read it, unless only the lines'
// names and routers are wanted (readPasswords false).
TRecorderConfigResult ParseRecorderConfig(const QByteArray& text, const QString& path, bool readPasswords = true);
// Reads and parses the file at path.
TRecorderConfigResult LoadRecorderConfig(const QString& path, bool readPasswords = true);

// The host of the line called `name` in the configuration at path, as the
// programs' --line options take it; none, with one line for the user in
// `error` ("--line NAME: ..."), when the file cannot be read or has no such line.
std::optional<QString> ConfiguredLineHost(const QString& name, const QString& path, QString& error);
// Each configured host with the names of its lines ("home"; "home, office"
// for two ports of one router); empty without a configuration that reads.
std::map<QString, QString> ConfiguredLineNames(const QString& path);
