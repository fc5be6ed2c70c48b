#include "output/safe_write.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemText(int error)
{
    return std::strerror(error);
}

[[noreturn]] void Fail(const char* what, const QString& path, int error)
{
    throw EFCreateError(std::string(what) + " \"" + QDir::toNativeSeparators(path).toStdString() +
                        "\". " + SystemText(error));
}

// Closes the descriptor and removes the half-made file unless released.
class TTempFile {
public:
    TTempFile(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}
    ~TTempFile()
    {
        if (FFd >= 0)
            ::close(FFd);
        if (!FPath.empty())
            ::unlink(FPath.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    int Fd() const { return FFd; }
    const std::string& Path() const { return FPath; }
    // Closes the descriptor; returns 0 or the errno of a failed close (which
    // on some file systems is where a write error shows up).
    int Close()
    {
        const int rc = ::close(FFd);
        FFd = -1;
        return rc == 0 ? 0 : errno;
    }
    void Keep() { FPath.clear(); }

private:
    int FFd;
    std::string FPath;
};

} // namespace

void WriteFileReplacing(const QString& fileName, const QByteArray& bytes)
{
    const QFileInfo info(fileName);
    const QString absolute = info.absoluteFilePath();
    const std::string target = QFile::encodeName(absolute).toStdString();

    // An existing file we could not open for writing stays as it is.
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        Fail("Cannot create file", absolute, EISDIR);
    if (exists && ::access(target.c_str(), W_OK) != 0)
        Fail("Cannot create file", absolute, errno);

    const std::string dir = QFile::encodeName(info.absolutePath()).toStdString();
    std::string pattern = dir + "/." + QFile::encodeName(info.fileName()).toStdString() + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        Fail("Cannot create file", absolute, errno);
    TTempFile temp(fd, pattern);

    // The new file gets the old one's permissions, or those a freshly
    // created file would get.
    mode_t mode;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(temp.Fd(), mode);

    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(temp.Fd(), data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("Cannot write file", absolute, n < 0 ? errno : ENOSPC);
        data += n;
        left -= n;
    }
    if (::fsync(temp.Fd()) != 0 && errno != EINVAL)
        Fail("Cannot write file", absolute, errno);
    if (const int err = temp.Close())
        Fail("Cannot write file", absolute, err);
    if (::rename(temp.Path().c_str(), target.c_str()) != 0)
        Fail("Cannot create file", absolute, errno);
    temp.Keep();
}
