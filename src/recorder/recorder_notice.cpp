#include "recorder/recorder_notice.h"

#include "output/safe_write.h"
#include "recorder/router_turn.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {

QString LivePath(const QString& folder, const QString& name)
{
    return QDir(folder).filePath(name + QStringLiteral(".live"));
}

QString NoticePath(const QString& folder, const QString& name)
{
    return QDir(folder).filePath(name + QStringLiteral(".notice"));
}

} // namespace

QString RecorderNoticeFolder(const QString& historyPath)
{
    return QFileInfo(historyPath).dir().filePath(QStringLiteral("recorder"));
}

TRecorderNoticeBoard::TRecorderNoticeBoard(QString folder)
    : FFolder(std::move(folder))
{
}

TRecorderNoticeBoard::~TRecorderNoticeBoard()
{
    for (const auto& [name, fd] : FLive) {
        QFile::remove(NoticePath(FFolder, name));
        ::close(fd);
    }
}

bool TRecorderNoticeBoard::Post(const TRecorderNotice& notice)
{
    const QString name = RouterFileName(notice.Host, notice.Port);
    if (!FLive.count(name)) {
        if (!QDir().mkpath(FFolder))
            return false;
        const int fd = ::open(QFile::encodeName(LivePath(FFolder, name)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        FLive[name] = fd;
    }
    const QJsonObject object{
        {QStringLiteral("line"), notice.Line},
        {QStringLiteral("host"), notice.Host},
        {QStringLiteral("port"), notice.Port},
        {QStringLiteral("interval"), notice.IntervalSeconds},
        {QStringLiteral("last_time_ms"), qint64(notice.LastTimeMs)},
        {QStringLiteral("last_outcome"), int(notice.LastOutcome)},
        {QStringLiteral("last_failure"), notice.LastFailure},
    };
    // Whole or not at all: the window never reads half a notice.
    return WriteFileWhole(NoticePath(FFolder, name), QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<TRecorderNotice> ReadRecorderNotice(const QString& folder, const QString& host, int port)
{
    const QString name = RouterFileName(host, port);
    const int fd = ::open(QFile::encodeName(LivePath(folder, name)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // An exclusive lock granted means no recorder holds its shared one.
    const bool live = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (!live)
        return std::nullopt;
    QFile file(NoticePath(folder, name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    if (object.value(QStringLiteral("host")).toString() != host)
        return std::nullopt;
    TRecorderNotice notice;
    notice.Line = object.value(QStringLiteral("line")).toString();
    notice.Host = host;
    notice.Port = port;
    notice.IntervalSeconds = object.value(QStringLiteral("interval")).toInt(60);
    notice.LastTimeMs = object.value(QStringLiteral("last_time_ms")).toInteger();
    notice.LastOutcome = TReadingOutcome(object.value(QStringLiteral("last_outcome")).toInt());
    notice.LastFailure = object.value(QStringLiteral("last_failure")).toString();
    return notice;
}
