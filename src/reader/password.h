// Where tirvane-read finds the router's password: a file the user names, the
// environment, or the terminal with echo off. Never the command line.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The name of the environment variable that may hold the password.
inline constexpr char PasswordVariable[] = "TIRVANE_PASSWORD";

struct TPasswordResult {
    std::optional<QByteArray> Password; // bytes as typed; none: see Error
    QString Error;
};

// The first line of passwordFile when one is named (its line end dropped);
// else TIRVANE_PASSWORD when it is set; else a prompt on the controlling
// terminal with echo off. An empty password is an error, as in the window.
TPasswordResult ReadPassword(const QString& passwordFile);
