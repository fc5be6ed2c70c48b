#include "recorder/router_turn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

QString RouterFileName(const QString& host, int port)
{
    QString name;
    for (const char c : host.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        name += plain ? QString(QLatin1Char(c)) : QStringLiteral("%%1").arg(int(static_cast<unsigned char>(c)), 2, 16, QLatin1Char('0'));
    }
    // "..": a name of dots alone could still be read as a folder.
    if (name == QLatin1String("..") || name == QLatin1String("."))
        name.replace(QLatin1Char('.'), QStringLiteral("%2e"));
    return name + QStringLiteral("_%1").arg(port);
}

QString TRouterTurn::LockPath(const QString& host, int port)
{
    // The session's runtime folder; without one (cron, a bare ssh) a folder
    // of the user's own in /tmp, as every program of the user finds it alike.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty()
        ? QDir(runtime).filePath(QStringLiteral("tirvane"))
        : QDir::temp().filePath(QStringLiteral("tirvane-%1").arg(::getuid()));
    return QDir(folder).filePath(RouterFileName(host, port) + QStringLiteral(".turn"));
}

std::optional<TRouterTurn> TRouterTurn::Take(const QString& host, int port, TClock::time_point deadline,
    const std::function<bool()>& wait, QString* error)
{
    const QString path = LockPath(host, port);
    const QString folder = QFileInfo(path).path();
    if (QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return TRouterTurn(fd);
        if (errno != EWOULDBLOCK && errno != EINTR) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (TClock::now() >= deadline || (wait && !wait())) {
            if (error)
                *error = QStringLiteral("another Tirvane program holds a session to %1 port %2").arg(host).arg(port);
            break;
        }
        // Short against a session of seconds; a holder that ends is followed at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return std::nullopt;
}

TRouterTurn::TRouterTurn(TRouterTurn&& other) noexcept
    : FFd(std::exchange(other.FFd, -1))
{
}

TRouterTurn& TRouterTurn::operator=(TRouterTurn&& other) noexcept
{
    if (this != &other) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = std::exchange(other.FFd, -1);
    }
    return *this;
}

TRouterTurn::~TRouterTurn()
{
    // Closing the only descriptor gives the lock back.
    if (FFd >= 0)
        ::close(FFd);
}
