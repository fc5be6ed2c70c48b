#include "output/safe_write.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Whether this process may write path, by the ids it opens files with (not
// the real ids plain access() asks about). errno says why not.
bool MayWrite(const char* path)
{
    return ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// The file path names once its links are followed; a dangling link names
// the file to create.
QString LinkedFile(const QString& path)
{
    QString file = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40 && QFileInfo(file).isSymLink(); ++hops)
        file = QFileInfo(file).symLinkTarget();
    return file;
}

// Writes all of size bytes at the descriptor's offset (or from `at` when
// given), or returns the system's reason.
int WriteAll(int fd, const char* data, qsizetype size, off_t at = -1)
{
    while (size > 0) {
        const ssize_t n = at < 0 ? ::write(fd, data, std::size_t(size)) : ::pwrite(fd, data, std::size_t(size), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= n;
        if (at >= 0)
            at += n;
    }
    return 0;
}

// The writer callback's view of the file: sequential, and buffered so rows
// written one by one go out in pieces of a useful size.
class TOutputDevice final : public QIODevice {
public:
    explicit TOutputDevice(TOutputFile& file)
        : FFile(file)
    {
        open(QIODevice::WriteOnly);
    }

    bool isSequential() const override { return true; }

    bool Flush()
    {
        const bool written = FFile.Write(FHeld);
        FHeld.clear();
        return written;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }

    qint64 writeData(const char* data, qint64 size) override
    {
        constexpr qsizetype Piece = 64 * 1024;
        FHeld.append(data, qsizetype(size));
        if (FHeld.size() >= Piece && !Flush())
            return -1;
        return size;
    }

private:
    TOutputFile& FFile;
    QByteArray FHeld;
};

} // namespace

TOutputFile::TOutputFile(const QString& fileName)
    : FPath(fileName)
{
    Open();
}

TOutputFile::TOutputFile(int fd)
    : FFd(fd)
{
}

TOutputFile::~TOutputFile()
{
    if (FFd >= 0 && FMode != TMode::Descriptor)
        ::close(FFd);
    if (!FFresh.isEmpty())
        ::unlink(FFresh.constData());
}

void TOutputFile::Open()
{
    FTarget = QFile::encodeName(LinkedFile(FPath));

    // stat and access follow links: it is the file a link names that counts.
    struct stat existing {};
    const bool exists = ::stat(FTarget.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        Fail(EISDIR, true);
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        OpenInPlace(TMode::Device);
        return;
    }
    // An existing file we could not open for writing stays as it is.
    if (exists && !MayWrite(FTarget.constData())) {
        Fail(errno, true);
        return;
    }
    const QFileInfo target(QFile::decodeName(FTarget));
    // A new file renamed over the old one would split a hard link, and
    // cannot be made at all in a folder the user may not write. Such a file
    // is written where it is.
    if (exists && (existing.st_nlink > 1 || !MayWrite(QFile::encodeName(target.absolutePath()).constData()))) {
        OpenInPlace(TMode::InPlace);
        return;
    }

    // A hidden name beside the target, so nobody takes the fresh file for
    // the finished one. Made as the shell's > makes a file: with the umask.
    for (int tries = 0; FFd < 0 && tries < 100; ++tries) {
        const QString suffix = QString::number(QRandomGenerator::global()->generate() % 0x1000000, 36);
        FFresh = QFile::encodeName(target.dir().filePath(QStringLiteral(".%1.%2").arg(target.fileName(), suffix)));
        FFd = ::open(FFresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (FFd < 0 && errno != EEXIST)
            break;
    }
    if (FFd < 0) {
        FFresh.clear();
        Fail(errno, true);
        return;
    }
    FMode = TMode::Fresh;
    if (!exists)
        return;
    if (::fchown(FFd, existing.st_uid, existing.st_gid) != 0) {
        // The file belongs to someone else, as we may not make a file of
        // ours belong: writing in place keeps owner and group. The fresh
        // file goes first, so it takes no room from the old one.
        ::close(FFd);
        FFd = -1;
        ::unlink(FFresh.constData());
        FFresh.clear();
        OpenInPlace(TMode::InPlace);
        return;
    }
    // After the owner: a change of owner drops the set-id bits.
    if (::fchmod(FFd, existing.st_mode & 07777) != 0)
        Fail(errno, true);
}

void TOutputFile::OpenInPlace(TMode mode)
{
    FMode = mode;
    FFd = ::open(FTarget.constData(), O_WRONLY | O_CLOEXEC);
    if (FFd < 0)
        Fail(errno, true);
}

bool TOutputFile::Fail(int error, bool creating)
{
    if (FError == 0) {
        FError = error;
        FFailedToCreate = creating;
    }
    return false;
}

QString TOutputFile::ErrorText() const
{
    return QString::fromLocal8Bit(std::strerror(FError));
}

bool TOutputFile::Write(const char* data, qsizetype size)
{
    if (Failed())
        return false;
    if (FMode == TMode::InPlace) {
        FHeld.append(data, size);
        return true;
    }
    // Written at once, not kept in a buffer: a device's reader has each
    // piece when it is written, and a failure is seen when it happens.
    if (const int error = WriteAll(FFd, data, size))
        return Fail(error);
    return true;
}

bool TOutputFile::Commit()
{
    if (Failed())
        return false;
    if (FCommitted)
        return true;
    switch (FMode) {
    case TMode::Descriptor:
        break;
    case TMode::Device:
        // A device reports a lost write at the latest when closed.
        if (::close(std::exchange(FFd, -1)) != 0)
            return Fail(errno);
        break;
    case TMode::Fresh:
        if ((::fsync(FFd) != 0 && errno != EINVAL) || ::close(std::exchange(FFd, -1)) != 0
            || ::rename(FFresh.constData(), FTarget.constData()) != 0)
            return Fail(errno);
        FFresh.clear();
        break;
    case TMode::InPlace:
        if (!WriteFileInPlace())
            return false;
        break;
    }
    FCommitted = true;
    return true;
}

// Writes over the existing file itself, for the cases a new file renamed
// into place would get wrong. The space is reserved before the first byte
// changes, so a full disk is found while the old file is still whole.
bool TOutputFile::WriteFileInPlace()
{
    struct stat old {};
    if (::fstat(FFd, &old) != 0)
        return Fail(errno);
    const off_t size = off_t(FHeld.size());
    if (size > old.st_size && ::fallocate(FFd, 0, 0, size) != 0 && errno != EOPNOTSUPP) {
        const int error = errno;
        // A reservation that got part of the way may have lengthened the file.
        (void)::ftruncate(FFd, old.st_size);
        return Fail(error);
    }
    if (const int error = WriteAll(FFd, FHeld.constData(), FHeld.size(), 0))
        return Fail(error);
    if (::ftruncate(FFd, size) != 0 || (::fsync(FFd) != 0 && errno != EINVAL))
        return Fail(errno);
    if (::close(std::exchange(FFd, -1)) != 0)
        return Fail(errno);
    return true;
}

void WriteFileReplacing(const QString& fileName, const QByteArray& bytes)
{
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    TOutputFile file(absolute);
    if (file.Write(bytes) && file.Commit())
        return;
    throw EFCreateError(std::string(file.FailedToCreate() ? "Cannot create file" : "Cannot write file") + " \""
                        + QDir::toNativeSeparators(absolute).toStdString() + "\". " + file.ErrorText().toStdString());
}

bool WriteFileWhole(const QString& fileName, const std::function<bool(QIODevice&)>& write, QString* error)
{
    TOutputFile file(fileName);
    bool written = !file.Failed();
    if (written) {
        TOutputDevice device(file);
        written = write(device) && device.Flush();
    }
    written = written && file.Commit();
    if (!written && error)
        *error = file.Failed() ? file.ErrorText() : QStringLiteral("the writing stopped before the end");
    return written;
}

bool WriteFileWhole(const QString& fileName, const QByteArray& bytes, QString* error)
{
    TOutputFile file(fileName);
    const bool written = file.Write(bytes) && file.Commit();
    if (!written && error)
        *error = file.ErrorText();
    return written;
}
