// tirvane-recorder (and tirvane-read) as a user runs them, for the recorder's
// tests: a real process with a configuration and a history of the test's
// own, its standard error read line by line.
#pragma once

#include "support/loopback_peer.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>

struct TRecorderProcess {
    std::unique_ptr<QProcess> Process = std::make_unique<QProcess>();
    QByteArray Err;

    void Start(const QString& program, const QStringList& args, const QStringList& env = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TIRVANE_CYCLE_DEADLINE_MS"), QStringLiteral("3000"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        for (const QString& pair : env)
            environment.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        Process->setProcessEnvironment(environment);
        Process->start(program, args);
        Process->waitForStarted();
    }
    // True once standard error holds `needle`, within timeoutMs.
    bool WaitFor(const QByteArray& needle, int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!Err.contains(needle) && clock.elapsed() < timeoutMs) {
            Process->waitForReadyRead(50);
            Err += Process->readAllStandardError();
        }
        return Err.contains(needle);
    }
    // The exit status after TERM (-1 when it did not end in time).
    int Terminate(int timeoutMs = 60000)
    {
        Process->terminate();
        const bool ended = Process->waitForFinished(timeoutMs);
        Err += Process->readAllStandardError();
        return ended && Process->exitStatus() == QProcess::NormalExit ? Process->exitCode() : -1;
    }
    ~TRecorderProcess()
    {
        if (Process->state() != QProcess::NotRunning) {
            Process->kill();
            Process->waitForFinished(10000);
        }
    }
};

// The status and the body of one HTTP answer on the connection, read to its
// Content-Length (the server keeps the connection); status 0 when none came whole.
inline std::pair<int, std::string> HttpAnswer(LoopbackClient& client, int timeoutMs = 20000)
{
    const std::optional<std::string> head = client.ReceiveUntil("\r\n\r\n", timeoutMs);
    if (!head)
        return {0, {}};
    const QRegularExpressionMatch length
        = QRegularExpression(QStringLiteral("(?i)content-length: *(\\d+)")).match(QString::fromStdString(*head));
    const std::size_t size = length.hasMatch() ? length.captured(1).toULongLong() : 0;
    client.ReadAtLeast(size, timeoutMs);
    if (client.Pending().size() < size)
        return {0, {}};
    return {std::atoi(head->substr(9, 3).c_str()), client.Pending().substr(0, size)};
}

// Lines of the simulator's --served file that are `words` or start with
// them and a space.
inline int CountServed(const std::string& path, const std::string& words)
{
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line == words || line.rfind(words + ' ', 0) == 0 ? 1 : 0;
    return count;
}

// A file of the test's folder with the given permissions.
inline QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text,
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
    file.close();
    QFile::setPermissions(path, permissions);
    return path;
}
