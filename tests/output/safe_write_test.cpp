// Writing the saved picture over an existing file: what the file keeps
// (links, owner, permissions), the folders only its file may be written in,
// and the failures that must leave the old file as it was with the error
// text the user sees; a streamed file in each kind of place. Read-only, full
// and foreign places are real: private mounts, device nodes, and file access
// as an ordinary user through the file-system uid.
#include "support/jpeg_probe.h"
#include "support/private_mounts.h"
#include "support/qt_print.h"
#include "support/test_chart.h"

#include "output/chart_pictures.h"
#include "output/jpeg.h"
#include "output/safe_write.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList FolderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// What a shell command run in dir prints.
std::string Shell(const QString& dir, const char* command)
{
    QProcess sh;
    sh.setWorkingDirectory(dir);
    sh.start("sh", {"-c", command});
    sh.waitForFinished(30000);
    return sh.readAllStandardOutput().toStdString();
}

// File access on this thread as the user nobody: with a file-system uid
// other than 0 the kernel drops root's permission overrides.
class TAsNobody {
public:
    explicit TAsNobody(bool on) : FOn(on)
    {
        if (FOn) {
            ::setfsgid(65534);
            ::setfsuid(65534);
        }
    }
    ~TAsNobody()
    {
        if (FOn) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }

private:
    bool FOn;
};

} // namespace

// ------------------------------------------ what the file keeps, or why not

struct KeepCase {
    const char* Name;
    bool AsNobody;
    bool SmallDisk;   // a 16 KB file system, a 40 KB picture
    const char* Prepare; // shell, in the folder; the picture goes to chart.jpg
    const char* Error;   // the message, %1 the path; empty: saved
    const char* Check;   // shell, in the folder afterwards
    const char* Printed; // what Check prints
};

class SafeWriteKeepTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(SafeWriteKeepTest, SavesKeepingWhatTheFileWasOrLeavesItWhole)
{
    const KeepCase& c = GetParam();
    if (::geteuid() != 0 || (c.SmallDisk && !HavePrivateMounts()))
        GTEST_SKIP() << "needs root and private mounts";
    QTemporaryDir outer;
    ::chmod(QFile::encodeName(outer.path()).constData(), 0755);
    const QString dir = outer.filePath("d");
    QDir().mkdir(dir);
    if (c.SmallDisk) {
        ASSERT_TRUE(MountSmallTmpfs(dir, 16));
    }
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    Shell(dir, c.Prepare);
    const QString path = dir + "/chart.jpg";
    const QByteArray picture = c.SmallDisk ? QByteArray(40000, 'n') : QByteArray("NEW");
    std::string error;
    try {
        TAsNobody nobody(c.AsNobody);
        WriteFileReplacing(path, picture);
    } catch (const EFCreateError& e) {
        error = e.what();
    }
    EXPECT_EQ(error, QString(c.Error).arg(path).toStdString());
    EXPECT_EQ(Shell(dir, c.Check), c.Printed);
    if (c.SmallDisk)
        Unmount(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SafeWriteKeepTest,
    ::testing::Values(
        KeepCase{"LinkToAFile", false, false, "printf old > real.jpg; ln -s real.jpg chart.jpg", "",
                 "stat -c %F chart.jpg; cat real.jpg; ls -A | wc -l", "symbolic link\nNEW2\n"},
        KeepCase{"HardLink", false, false, "printf old > chart.jpg; ln chart.jpg other.jpg", "",
                 "stat -c %h chart.jpg; cat other.jpg", "2\nNEW"},
        KeepCase{"OwnerGroupAndPermissions", false, false,
                 "printf old > chart.jpg; chown 1234:5678 chart.jpg; chmod 640 chart.jpg", "",
                 "stat -c '%u:%g %a' chart.jpg; cat chart.jpg", "1234:5678 640\nNEW"},
        KeepCase{"WritableFileInAFolderTheUserMayNotWrite", true, false,
                 "printf old > chart.jpg; chown nobody chart.jpg", "", "cat chart.jpg; ls -A", "NEWchart.jpg\n"},
        KeepCase{"AnotherUsersFileInTheUsersFolder", true, false,
                 "printf old > chart.jpg; chmod 666 chart.jpg; chown nobody .", "",
                 "stat -c %U chart.jpg; cat chart.jpg; ls -A", "root\nNEWchart.jpg\n"},
        KeepCase{"FileTheUserMayNotWrite", true, false, "printf old > chart.jpg",
                 R"(Cannot create file "%1". Permission denied)", "cat chart.jpg; ls -A", "oldchart.jpg\n"},
        // Too little room for the new picture: the old file stays whole, no
        // half-written copy beside it.
        KeepCase{"FullDisk", false, true, "head -c 6000 /dev/zero > chart.jpg",
                 R"(Cannot write file "%1". No space left on device)",
                 "head -c 6000 /dev/zero | cmp -s - chart.jpg && ls -A", "chart.jpg\n"},
        KeepCase{"FullDiskUnderAHardLink", false, true,
                 "head -c 6000 /dev/zero > chart.jpg; ln chart.jpg other.jpg",
                 R"(Cannot write file "%1". No space left on device)",
                 "head -c 6000 /dev/zero | cmp -s - chart.jpg && ls -A", "chart.jpg\nother.jpg\n"},
        KeepCase{"FullDiskInAFolderTheUserMayNotWrite", true, true,
                 "head -c 6000 /dev/zero > chart.jpg; chown nobody chart.jpg",
                 R"(Cannot write file "%1". No space left on device)",
                 "head -c 6000 /dev/zero | cmp -s - chart.jpg && ls -A", "chart.jpg\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------- unwritable places

struct UnwritableCase {
    const char* Name;
    bool NeedsMounts;
    // Prepares dir and returns the path to save to.
    QString (*Prepare)(const QString& dir);
    const char* SystemText;
};

// chart.jpg in a folder "ro" of dir mounted read-only, there already or not.
static QString InReadOnlyFolder(const QString& dir, bool existing)
{
    QDir(dir).mkdir("ro");
    QFile f(dir + "/ro/chart.jpg");
    if (existing && f.open(QIODevice::WriteOnly))
        f.write("old");
    f.close();
    MountReadOnly(dir + "/ro");
    return f.fileName();
}

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
        UnwritableCase{"ReadOnlyFolder", true, [](const QString& dir) { return InReadOnlyFolder(dir, false); },
                       "Read-only file system"},
        UnwritableCase{"ExistingFileInReadOnlyFolder", true,
                       [](const QString& dir) { return InReadOnlyFolder(dir, true); }, "Read-only file system"},
        UnwritableCase{"NameIsAFolder", false,
                       [](const QString& dir) {
                           QDir(dir).mkdir("chart.jpg");
                           return dir + "/chart.jpg";
                       },
                       "Is a directory"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------ a streamed file, wherever it is going

struct StreamCase {
    const char* Name;
    bool AsNobody;
    const char* Prepare; // shell, in the folder; the output goes to "out"
    bool StopsPartWay;   // the writer gives up after its first piece
    const char* Error;   // empty: written
    const char* Check;   // shell, in the folder afterwards
    const char* Printed; // what Check prints
};

class SafeWriteStreamTest : public ::testing::TestWithParam<StreamCase> {};

// The writer callback's output takes the rules every caller shares: a
// regular file replaced whole, a link written through, a FIFO or a device
// written where it is, a file in a folder the user may not write written in
// place, and nothing of a writer that stopped part-way.
TEST_P(SafeWriteStreamTest, WritesByTheRulesOfItsPlace)
{
    const StreamCase& c = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for device nodes and another user";
    QTemporaryDir outer;
    ::chmod(QFile::encodeName(outer.path()).constData(), 0755);
    const QString dir = outer.filePath("d");
    QDir().mkdir(dir);
    Shell(dir, c.Prepare);
    const QByteArray out = QFile::encodeName(dir + "/out");
    // A FIFO's reader is there first, so the writer's open returns.
    struct stat made {};
    const bool fifo = ::stat(out.constData(), &made) == 0 && S_ISFIFO(made.st_mode);
    const int reader = fifo ? ::open(out.constData(), O_RDONLY | O_NONBLOCK) : -1;
    QString error;
    bool written = false;
    {
        TAsNobody nobody(c.AsNobody);
        written = WriteFileWhole(dir + "/out", [&c](QIODevice& file) {
            return file.write("NE") == 2 && !c.StopsPartWay && file.write("W") == 1;
        }, &error);
    }
    EXPECT_EQ(written, *c.Error == 0);
    EXPECT_EQ(error.toStdString(), c.Error);
    std::string check = Shell(dir, c.Check);
    if (reader >= 0) {
        char buffer[64];
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        check += std::string(buffer, std::size_t(std::max<ssize_t>(n, 0)));
        ::close(reader);
    }
    EXPECT_EQ(check, c.Printed);
}

INSTANTIATE_TEST_SUITE_P(
    Places, SafeWriteStreamTest,
    ::testing::Values(
        StreamCase{"RegularFile", false, "printf old > out", false, "", "cat out; ls -A", "NEWout\n"},
        StreamCase{"NewFile", false, ":", false, "", "cat out; ls -A", "NEWout\n"},
        StreamCase{"Link", false, "printf old > real; ln -s real out", false, "",
                   "stat -c %F out; cat real; ls -A | wc -l", "symbolic link\nNEW2\n"},
        StreamCase{"Fifo", false, "mkfifo out", false, "", "stat -c %F out", "fifo\nNEW"},
        StreamCase{"NullDevice", false, "mknod out c 1 3", false, "", "test -c out && ls -A", "out\n"},
        StreamCase{"FullDevice", false, "mknod out c 1 7", false, "No space left on device", "test -c out && ls -A",
                   "out\n"},
        StreamCase{"FolderNotWritable", true, "printf old > out; chown nobody out", false, "", "cat out; ls -A",
                   "NEWout\n"},
        StreamCase{"StoppedPartWay", false, "printf old > out", true, "the writing stopped before the end",
                   "cat out; ls -A", "oldout\n"},
        StreamCase{"StoppedPartWayInPlace", true, "printf old > out; chown nobody out", true,
                   "the writing stopped before the end", "cat out; ls -A", "oldout\n"}),
    [](const auto& info) { return std::string(info.param.Name); });
