// `cmake --install` into a scratch prefix, then what a desktop's menu does
// with the result: read the desktop entry, find the program its Exec line
// names on the installed PATH, and find and draw the icon its Icon line
// names in the hicolor theme.
#include "history/window/history_window_maker.h"
#include "output/printing_commands.h"
#include "support/x_session.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLibrary>
#include <QMap>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTextStream>

using namespace support;

namespace {

constexpr char CMakeCommand[] = TIRVANE_CMAKE_COMMAND;
constexpr char BuildDir[] = TIRVANE_BUILD_DIR;
constexpr bool MonitorBuilt = TIRVANE_MONITOR_BUILT;

// The keys of the [Desktop Entry] group; a key seen twice or a line outside
// any group is an error a menu would reject.
struct DesktopEntry {
    QMap<QString, QString> keys;
    QString firstGroup;
    QStringList errors;
};

DesktopEntry ReadDesktopEntry(const QString& path)
{
    DesktopEntry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        entry.errors << "cannot open " + path;
        return entry;
    }
    QTextStream in(&file);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = line.mid(1, line.size() - 2);
            if (entry.firstGroup.isEmpty())
                entry.firstGroup = group;
            continue;
        }
        const auto eq = line.indexOf('=');
        if (group.isEmpty() || eq <= 0) {
            entry.errors << "stray line: " + line;
            continue;
        }
        if (group != QLatin1String("Desktop Entry"))
            continue;
        const QString key = line.left(eq).trimmed();
        if (entry.keys.contains(key))
            entry.errors << "key twice: " + key;
        entry.keys[key] = line.mid(eq + 1).trimmed();
    }
    return entry;
}

QGuiApplication& App()
{
    static int argc = 1;
    static char name[] = "install_layout_test";
    static char* argv[] = {name, nullptr};
    // Nothing here needs a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

class InstallLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        prefix = new QTemporaryDir();
        const CommandResult r = RunCommand(
            {CMakeCommand, "--install", BuildDir, "--prefix", prefix->path().toStdString()}, {},
            Milliseconds(120000));
        installOutput = new std::string(r.output);
        installed = r.exitCode == 0;
    }
    static void TearDownTestSuite()
    {
        delete prefix;
        delete installOutput;
    }
    void SetUp() override { ASSERT_TRUE(installed) << *installOutput; }

    static QString Path(const QString& relative) { return prefix->path() + "/" + relative; }

    static QTemporaryDir* prefix;
    static std::string* installOutput;
    static bool installed;
};

QTemporaryDir* InstallLayout::prefix = nullptr;
std::string* InstallLayout::installOutput = nullptr;
bool InstallLayout::installed = false;

} // namespace

TEST_F(InstallLayout, DesktopEntryStartsTheInstalledProgram)
{
    const DesktopEntry entry = ReadDesktopEntry(Path("share/applications/tirvane.desktop"));
    EXPECT_TRUE(entry.errors.isEmpty()) << entry.errors.join('\n').toStdString();
    EXPECT_EQ(entry.firstGroup, "Desktop Entry");

    struct Required {
        const char* key;
        const char* value; // nullptr: any non-empty value
    };
    const Required required[] = {
        {"Type", "Application"}, {"Name", nullptr},  {"Exec", nullptr},
        {"Icon", "tirvane"},     {"Terminal", "false"}, {"Categories", nullptr},
    };
    for (const Required& r : required) {
        SCOPED_TRACE(r.key);
        ASSERT_TRUE(entry.keys.contains(r.key));
        if (r.value)
            EXPECT_EQ(entry.keys[r.key].toStdString(), r.value);
        else
            EXPECT_FALSE(entry.keys[r.key].isEmpty());
    }
    // Lists end in a semicolon and name a main category, or a menu files
    // the program under "Other".
    const QString categories = entry.keys["Categories"];
    EXPECT_TRUE(categories.endsWith(';'));
    EXPECT_TRUE(categories.split(';').contains("Network")) << categories.toStdString();

    // Exec starts the program with no options and no field codes, so the menu
    // opens the window as remembered, and its program is the one in bin/.
    const QString exec = entry.keys["Exec"];
    EXPECT_FALSE(exec.contains('%')) << exec.toStdString();
    EXPECT_EQ(exec.split(' ').size(), 1) << exec.toStdString();
    const QString program = exec.split(' ').first();
    if (!MonitorBuilt) {
        GTEST_SKIP() << "the monitor is not built, so it is not installed";
    }
    const QFileInfo binary(Path("bin/" + program));
    EXPECT_TRUE(binary.isFile() && binary.isExecutable()) << binary.filePath().toStdString();
    EXPECT_EQ(entry.keys["TryExec"], program);
}

// The command-line reader goes beside the monitor and runs from there.
TEST_F(InstallLayout, ReaderIsInstalledBesideTheMonitor)
{
    const QFileInfo reader(Path("bin/tirvane-read"));
    ASSERT_TRUE(reader.isFile() && reader.isExecutable()) << reader.filePath().toStdString();
    const CommandResult version = RunCommand({reader.filePath().toStdString(), "--version"}, {}, Milliseconds(30000));
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "tirvane-read 1.0\n");
}

// The recorder's user unit starts the recorder installed beside it.
TEST_F(InstallLayout, RecorderUnitStartsTheInstalledRecorder)
{
    QFile unit(Path(QStringLiteral("share/systemd/user/tirvane-recorder.service")));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(unit.readAll());
    const QRegularExpressionMatch exec = QRegularExpression(QStringLiteral("(?m)^ExecStart=(\\S+)$")).match(text);
    ASSERT_TRUE(exec.hasMatch()) << text.toStdString();
    EXPECT_EQ(QFileInfo(exec.captured(1)).canonicalFilePath(), QFileInfo(Path(QStringLiteral("bin/tirvane-recorder"))).canonicalFilePath());
    const CommandResult version = RunCommand({exec.captured(1).toStdString(), "--version"}, {}, Milliseconds(30000));
    EXPECT_EQ(version.output, "tirvane-recorder 1.0\n");
}

// The modules lie where the installed program looks for them, and offer
// their entry points.
TEST_F(InstallLayout, ModulesAreWhereTheProgramLooks)
{
    if (!MonitorBuilt)
        GTEST_SKIP() << "the monitor is not built, so it is not installed";
    App();
    const std::pair<const char*, const char*> modules[] = {
        {"tirvane-history.so", HistoryModuleEntry}, {"tirvane-printing.so", PrintingModuleEntry}};
    for (const auto& [file, entry] : modules) {
        QLibrary module(Path(QStringLiteral("bin/" TIRVANE_MODULE_DIR "/") + file));
        EXPECT_NE(module.resolve(entry), nullptr) << module.errorString().toStdString();
    }
}

TEST_F(InstallLayout, IconIsInTheThemeAtEverySizeItClaims)
{
    App();
    // The scalable picture draws something of both bar colours.
    QSvgRenderer svg(Path("share/icons/hicolor/scalable/apps/tirvane.svg"));
    ASSERT_TRUE(svg.isValid());
    QImage drawn(64, 64, QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        svg.render(&painter);
    }
    bool green = false, blue = false;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QColor c = drawn.pixelColor(x, y);
            green |= c.green() > 100 && c.red() < 60 && c.blue() < 60;
            blue |= c.blue() > 200 && c.red() < 60 && c.green() < 60;
        }
    EXPECT_TRUE(green && blue);

    // Each fixed-size picture, where made, decodes at the size its folder
    // names: a theme lookup trusts the folder.
    int found = 0;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QString path = Path(QStringLiteral("share/icons/hicolor/%1x%1/apps/tirvane.png").arg(size));
        if (!QFileInfo::exists(path))
            continue;
        ++found;
        const QImage png(path);
        ASSERT_FALSE(png.isNull());
        EXPECT_EQ(png.size(), QSize(size, size));
    }
    if (!FindOnPath("rsvg-convert").empty()) {
        EXPECT_EQ(found, 7);
    }
}
