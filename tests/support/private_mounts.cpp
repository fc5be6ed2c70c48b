#include "support/private_mounts.h"

#include <QFile>

#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace {
bool Entered = false;
}

bool EnterPrivateMountNamespace()
{
    Entered = ::unshare(CLONE_NEWNS) == 0 &&
              ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return Entered;
}

bool HavePrivateMounts()
{
    return Entered;
}

bool MountReadOnly(const QString& dir)
{
    const std::string path = QFile::encodeName(dir).toStdString();
    return ::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           ::mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool MountSmallTmpfs(const QString& dir, int kilobytes)
{
    const std::string path = QFile::encodeName(dir).toStdString();
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    return ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

void Unmount(const QString& dir)
{
    ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
}
