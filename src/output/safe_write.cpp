#include "output/safe_write.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what, const QString& path, const QString& reason)
{
    throw EFCreateError(std::string(what) + " \"" + QDir::toNativeSeparators(path).toStdString() +
                        "\". " + reason.toStdString());
}

[[noreturn]] void Fail(const char* what, const QString& path, int error)
{
    Fail(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

// Whether this process may write path, by the ids it opens files with (not
// the real ids plain access() asks about). errno says why not.
bool MayWrite(const char* path)
{
    return ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// Closes a descriptor however the writing ends.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Fd() const { return FFd; }
    // 0, or the errno of a failed close (where some file systems report a
    // failed write).
    int Close()
    {
        const int rc = ::close(FFd);
        FFd = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int FFd;
};

// Writes all of bytes from the start of the file, or fails with the
// system's reason.
void WriteAll(int fd, const QByteArray& bytes, const QString& path)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    off_t at = 0;
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(left), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("Cannot write file", path, n < 0 ? errno : ENOSPC);
        data += n;
        at += n;
        left -= n;
    }
}

// Writes over the existing file itself, for the cases a new file renamed
// into place would get wrong. The space is reserved before the first byte
// changes, so a full disk is found while the old picture is still whole.
void WriteInPlace(const QString& path, const std::string& target, const QByteArray& bytes, off_t oldSize)
{
    TDescriptor file(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (file.Fd() < 0)
        Fail("Cannot create file", path, errno);
    if (bytes.size() > oldSize && ::fallocate(file.Fd(), 0, 0, off_t(bytes.size())) != 0 &&
        errno != EOPNOTSUPP) {
        const int error = errno;
        // A reservation that got part of the way may have lengthened the file.
        (void)::ftruncate(file.Fd(), oldSize);
        Fail("Cannot write file", path, error);
    }
    WriteAll(file.Fd(), bytes, path);
    if (::ftruncate(file.Fd(), off_t(bytes.size())) != 0 || (::fsync(file.Fd()) != 0 && errno != EINVAL))
        Fail("Cannot write file", path, errno);
    if (const int error = file.Close())
        Fail("Cannot write file", path, error);
}

} // namespace

void WriteFileReplacing(const QString& fileName, const QByteArray& bytes)
{
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    const std::string target = QFile::encodeName(absolute).toStdString();

    // An existing file we could not open for writing stays as it is. stat
    // and access follow links: it is the file a link names that counts.
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        Fail("Cannot create file", absolute, EISDIR);
    if (exists && !MayWrite(target.c_str()))
        Fail("Cannot create file", absolute, errno);

    if (exists) {
        // A new file renamed over the old one would split a hard link, and
        // cannot be made at all in a folder the user may not write. Such a
        // file is written where it is.
        const QString folder = QFileInfo(QFileInfo(absolute).canonicalFilePath()).absolutePath();
        if (existing.st_nlink > 1 || !MayWrite(QFile::encodeName(folder).constData())) {
            WriteInPlace(absolute, target, bytes, existing.st_size);
            return;
        }
    }

    // Otherwise a fresh file beside the target takes its name once every
    // byte is on disk. QSaveFile writes beside the file a link names, keeps
    // the old file's permissions and removes the fresh file on failure.
    QSaveFile file(absolute);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        Fail("Cannot create file", absolute, file.errorString());
    if (exists && ::fchown(file.handle(), existing.st_uid, existing.st_gid) != 0) {
        // The file belongs to someone else, as we may not make a file of
        // ours belong: writing in place keeps owner and group. The fresh
        // file goes first, so it takes no room from the old one.
        file.cancelWriting();
        (void)file.commit();
        WriteInPlace(absolute, target, bytes, existing.st_size);
        return;
    }
    // Straight to the descriptor, so a full disk is reported by its reason.
    WriteAll(file.handle(), bytes, absolute);
    if (::fsync(file.handle()) != 0 && errno != EINVAL)
        Fail("Cannot write file", absolute, errno);
    if (!file.commit())
        Fail("Cannot write file", absolute, file.errorString());
}
