// Writing the saved picture over an existing file: what the file keeps
// (links, owner, permissions), the folders only its file may be written in,
// and the failures that must leave the old file as it was with the error
// text the user sees. Read-only, full and foreign places are real: private
// mounts, and file access as an ordinary user through the file-system uid.
#include "support/jpeg_probe.h"
#include "support/private_mounts.h"
#include "support/qt_print.h"
#include "support/test_chart.h"

#include "output/jpeg.h"
#include "output/safe_write.h"
#include "output/chart_pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;

QStringList FolderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

struct stat Stat(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// File access on this thread as an ordinary user: with a file-system uid
// other than 0 the kernel drops root's permission overrides.
class TAsNobody {
public:
    TAsNobody()
    {
        ::setfsgid(Nobody);
        ::setfsuid(Nobody);
    }
    ~TAsNobody()
    {
        ::setfsuid(0);
        ::setfsgid(0);
    }
    TAsNobody(const TAsNobody&) = delete;
    TAsNobody& operator=(const TAsNobody&) = delete;
};

void Chown(const QString& path, uid_t owner, gid_t group)
{
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), owner, group), 0);
}

// A picture that compresses badly: far more than a small disk holds.
QByteArray NoisyJpeg()
{
    QImage noise(696, 237, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xFF000000U);
    TJPEGImage jpeg;
    jpeg.Assign(noise);
    jpeg.Compress();
    return jpeg.Data();
}

std::string SaveError(const QString& path, const QByteArray& bytes, bool asNobody = false)
{
    try {
        if (asNobody) {
            TAsNobody nobody;
            WriteFileReplacing(path, bytes);
        } else {
            WriteFileReplacing(path, bytes);
        }
    } catch (const EFCreateError& error) {
        return error.what();
    }
    return "";
}

const QByteArray Old("old picture");
const QByteArray New("new picture, longer than the old one");

} // namespace

// ------------------------------------------------ what the file keeps

struct KeepCase {
    const char* Name;
    bool AsNobody;
    // Prepares dir and returns the name saved to.
    QString (*Prepare)(const QString& dir);
    // Checks dir after the save.
    void (*Check)(const QString& dir);
};

class SafeWriteKeepTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(SafeWriteKeepTest, SavesAndKeepsWhatTheFileWas)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of other owners";
    QTemporaryDir dir;
    // An ordinary user must be able to reach the folder.
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const QString target = GetParam().Prepare(dir.path());
    QStringList expected = FolderEntries(dir.path());
    if (QFileInfo(target).absolutePath() == dir.path() && !expected.contains(QFileInfo(target).fileName()))
        expected = QStringList(expected) << QFileInfo(target).fileName();
    expected.sort();
    EXPECT_EQ(SaveError(target, New, GetParam().AsNobody), "");
    GetParam().Check(dir.path());
    EXPECT_EQ(FolderEntries(dir.path()), expected) << "no stray file";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SafeWriteKeepTest,
    ::testing::Values(
        KeepCase{"LinkToAFile", false,
                 [](const QString& dir) {
                     QDir(dir).mkdir("pictures");
                     WriteFile(dir + "/pictures/real.jpg", Old);
                     QFile::link("pictures/real.jpg", dir + "/chart.jpg");
                     return dir + "/chart.jpg";
                 },
                 [](const QString& dir) {
                     EXPECT_EQ(QFileInfo(dir + "/chart.jpg").symLinkTarget(), dir + "/pictures/real.jpg");
                     EXPECT_EQ(ReadFileBytes(dir + "/pictures/real.jpg"), New);
                 }},
        KeepCase{"HardLink", false,
                 [](const QString& dir) {
                     WriteFile(dir + "/a.jpg", Old);
                     ::link(QFile::encodeName(dir + "/a.jpg").constData(),
                            QFile::encodeName(dir + "/b.jpg").constData());
                     return dir + "/a.jpg";
                 },
                 [](const QString& dir) {
                     EXPECT_EQ(Stat(dir + "/a.jpg").st_ino, Stat(dir + "/b.jpg").st_ino);
                     EXPECT_EQ(Stat(dir + "/a.jpg").st_nlink, 2U);
                     EXPECT_EQ(ReadFileBytes(dir + "/b.jpg"), New);
                 }},
        KeepCase{"OwnerGroupAndPermissions", false,
                 [](const QString& dir) {
                     WriteFile(dir + "/chart.jpg", Old);
                     Chown(dir + "/chart.jpg", 1234, 5678);
                     ::chmod(QFile::encodeName(dir + "/chart.jpg").constData(), 0640);
                     return dir + "/chart.jpg";
                 },
                 [](const QString& dir) {
                     const struct stat st = Stat(dir + "/chart.jpg");
                     EXPECT_EQ(st.st_uid, 1234U);
                     EXPECT_EQ(st.st_gid, 5678U);
                     EXPECT_EQ(st.st_mode & 07777, 0640U);
                     EXPECT_EQ(ReadFileBytes(dir + "/chart.jpg"), New);
                 }},
        KeepCase{"AnotherUsersFileTheUserMayWrite", true,
                 [](const QString& dir) {
                     QDir(dir).mkdir("shared");
                     Chown(dir + "/shared", Nobody, Nobody);
                     WriteFile(dir + "/shared/chart.jpg", Old);
                     ::chmod(QFile::encodeName(dir + "/shared/chart.jpg").constData(), 0666);
                     return dir + "/shared/chart.jpg";
                 },
                 [](const QString& dir) {
                     EXPECT_EQ(Stat(dir + "/shared/chart.jpg").st_uid, 0U);
                     EXPECT_EQ(ReadFileBytes(dir + "/shared/chart.jpg"), New);
                     EXPECT_EQ(FolderEntries(dir + "/shared"), QStringList{"chart.jpg"});
                 }},
        KeepCase{"WritableFileInAFolderTheUserMayNotWrite", true,
                 [](const QString& dir) {
                     QDir(dir).mkdir("locked");
                     WriteFile(dir + "/locked/chart.jpg", Old);
                     Chown(dir + "/locked/chart.jpg", Nobody, Nobody);
                     return dir + "/locked/chart.jpg";
                 },
                 [](const QString& dir) {
                     EXPECT_EQ(ReadFileBytes(dir + "/locked/chart.jpg"), New);
                     EXPECT_EQ(FolderEntries(dir + "/locked"), QStringList{"chart.jpg"});
                 }},
        KeepCase{"NewFileGetsTheUsualPermissions", false,
                 [](const QString& dir) { return dir + "/new.jpg"; },
                 [](const QString& dir) {
                     const mode_t mask = ::umask(0);
                     ::umask(mask);
                     EXPECT_EQ(Stat(dir + "/new.jpg").st_mode & 07777, 0666U & ~mask);
                     EXPECT_EQ(ReadFileBytes(dir + "/new.jpg"), New);
                 }}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------- failures keep the old file

struct UnwritableCase {
    const char* Name;
    bool NeedsMounts;
    // Prepares dir and returns the path to save to.
    QString (*Prepare)(const QString& dir);
    const char* SystemText;
};

class SafeWriteUnwritableTest : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(SafeWriteUnwritableTest, GivesCannotCreateFileAndNoFile)
{
    if (GetParam().NeedsMounts && !HavePrivateMounts())
        GTEST_SKIP() << "no private mount namespace";
    QTemporaryDir dir;
    const QString target = GetParam().Prepare(dir.path());
    const QStringList before = FolderEntries(dir.path());
    TTestChart chart;
    TJPEGImage jpeg;
    jpeg.Assign(CreateChartBitmap(chart, chart.BackColor(), chart.GetChartRectangle()));
    try {
        jpeg.SaveToFile(target);
        ADD_FAILURE() << "saved into an unwritable place";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot create file \"" + target.toStdString() + "\". " + GetParam().SystemText);
    }
    EXPECT_FALSE(QFileInfo::exists(target) && QFileInfo(target).size() == jpeg.Data().size());
    EXPECT_EQ(FolderEntries(dir.path()), before);
    Unmount(dir.filePath("ro"));
}

INSTANTIATE_TEST_SUITE_P(
    Places, SafeWriteUnwritableTest,
    ::testing::Values(
        UnwritableCase{"UnderARegularFile", false,
                       [](const QString& dir) {
                           QFile f(dir + "/plain");
                           (void)f.open(QIODevice::WriteOnly);
                           return dir + "/plain/chart.jpg";
                       },
                       "Not a directory"},
        UnwritableCase{"MissingFolder", false, [](const QString& dir) { return dir + "/gone/chart.jpg"; },
                       "No such file or directory"},
        UnwritableCase{"ReadOnlyFolder", true,
                       [](const QString& dir) {
                           QDir(dir).mkdir("ro");
                           MountReadOnly(dir + "/ro");
                           return dir + "/ro/chart.jpg";
                       },
                       "Read-only file system"},
        UnwritableCase{"ExistingFileInReadOnlyFolder", true,
                       [](const QString& dir) {
                           QDir(dir).mkdir("ro");
                           QFile f(dir + "/ro/chart.jpg");
                           (void)f.open(QIODevice::WriteOnly);
                           f.write("old");
                           f.close();
                           MountReadOnly(dir + "/ro");
                           return dir + "/ro/chart.jpg";
                       },
                       "Read-only file system"},
        UnwritableCase{"NameIsAFolder", false,
                       [](const QString& dir) {
                           QDir(dir).mkdir("chart.jpg");
                           return dir + "/chart.jpg";
                       },
                       "Is a directory"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SafeWrite, AFailedWriteLeavesTheExistingFileAsItWas)
{
    if (!HavePrivateMounts())
        GTEST_SKIP() << "no private mount namespace";
    QTemporaryDir outer;
    const QString dir = outer.filePath("small");
    QDir().mkdir(dir);
    ASSERT_TRUE(MountSmallTmpfs(dir, 16));
    const QByteArray old(6000, 'o');
    {
        QFile f(dir + "/chart.jpg");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    // A noisy picture compresses badly: far more than the 10 KB left.
    QImage noise(696, 237, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random->generate() | 0xFF000000U);
    TJPEGImage jpeg;
    jpeg.Assign(noise);
    try {
        jpeg.SaveToFile(dir + "/chart.jpg");
        ADD_FAILURE() << "a full disk took the picture";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot write file \"" + (dir + "/chart.jpg").toStdString() + "\". No space left on device");
    }
    EXPECT_EQ(ReadFileBytes(dir + "/chart.jpg"), old);
    EXPECT_EQ(FolderEntries(dir), QStringList{"chart.jpg"});
    Unmount(dir);
}


struct FullDiskCase {
    const char* Name;
    bool AsNobody;
    bool HardLinked;
};

class SafeWriteFullDiskTest : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(SafeWriteFullDiskTest, LeavesTheOldFileWholeAndSaysSo)
{
    if (!HavePrivateMounts())
        GTEST_SKIP() << "no private mount namespace";
    QTemporaryDir outer;
    QFile::setPermissions(outer.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadOther | QFile::ExeOther);
    const QString dir = outer.filePath("small");
    QDir().mkdir(dir);
    ASSERT_TRUE(MountSmallTmpfs(dir, 16));
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    const QString path = dir + "/chart.jpg";
    const QByteArray old(6000, 'o');
    WriteFile(path, old);
    if (GetParam().AsNobody)
        Chown(path, Nobody, Nobody);
    if (GetParam().HardLinked)
        ::link(QFile::encodeName(path).constData(), QFile::encodeName(dir + "/other.jpg").constData());
    const QStringList before = FolderEntries(dir);

    EXPECT_EQ(SaveError(path, NoisyJpeg(), GetParam().AsNobody),
              "Cannot write file \"" + path.toStdString() + "\". No space left on device");
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(FolderEntries(dir), before);
    Unmount(dir);
}

INSTANTIATE_TEST_SUITE_P(Disks, SafeWriteFullDiskTest,
                         ::testing::Values(FullDiskCase{"HardLinkWrittenInPlace", false, true},
                                           FullDiskCase{"FolderTheUserMayNotWrite", true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SafeWrite, AFileTheUserMayNotWriteIsLeftAsItWas)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther);
    const QString path = WriteFile(dir.filePath("chart.jpg"), Old);
    ::chmod(QFile::encodeName(path).constData(), 0644);
    EXPECT_EQ(SaveError(path, New, true),
              "Cannot create file \"" + path.toStdString() + "\". Permission denied");
    EXPECT_EQ(ReadFileBytes(path), Old);
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{"chart.jpg"});
}
