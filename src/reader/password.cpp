#include "reader/password.h"

#include <QFile>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Asks on the terminal itself, so the answer never passes through standard
// input or output, which may be a pipe into another program.
TPasswordResult AskOnTerminal()
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        return {std::nullopt, QStringLiteral("no password: set %1, give --password-file, or run on a terminal")
                                  .arg(QLatin1String(PasswordVariable))};
    }
    termios saved{};
    const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    constexpr char Ask[] = "Password: ";
    [[maybe_unused]] const auto asked = ::write(tty, Ask, sizeof Ask - 1);

    QByteArray line;
    char c = 0;
    ssize_t n = 0;
    while ((n = ::read(tty, &c, 1)) == 1 && c != '\n')
        line += c;
    const int readError = n < 0 ? errno : 0;
    if (isTerminal)
        ::tcsetattr(tty, TCSAFLUSH, &saved);
    ::close(tty);
    if (readError != 0)
        return {std::nullopt, QStringLiteral("cannot read the password: ") + QString::fromLocal8Bit(std::strerror(readError))};
    if (line.endsWith('\r'))
        line.chop(1);
    return {line, {}};
}

} // namespace

TPasswordResult ReadPassword(const QString& passwordFile)
{
    TPasswordResult result;
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly))
            return {std::nullopt, QStringLiteral("cannot read %1: %2").arg(passwordFile, file.errorString())};
        QByteArray line = file.readLine(64 * 1024);
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        result.Password = line;
    } else if (qEnvironmentVariableIsSet(PasswordVariable)) {
        result.Password = qgetenv(PasswordVariable);
    } else {
        result = AskOnTerminal();
    }
    if (result.Password && result.Password->isEmpty()) {
        result.Password.reset();
        result.Error = QStringLiteral("Password required!");
    }
    return result;
}
