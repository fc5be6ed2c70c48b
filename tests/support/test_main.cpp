#include "support/test_main.h"

#include "support/private_mounts.h"
#include "support/x_session.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

std::string ScreenName;

// Points the home and every XDG folder Qt looks at into `home`, before any
// application object reads them; child processes inherit the same.
bool KeepAwayFromUserFiles(const QTemporaryDir& home)
{
    if (!home.isValid())
        return false;
    qputenv("HOME", QFile::encodeName(home.path()));
    for (const char* folder : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(folder).toLower());
        if (!QDir().mkpath(path))
            return false;
        qputenv(folder, QFile::encodeName(path));
    }
    // The runtime folder holds the routers' turns: a test's are its own.
    const QString runtime = home.filePath(QStringLiteral("xdg_runtime_dir"));
    if (!QDir().mkpath(runtime) || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    return true;
}

} // namespace

const std::string& TestScreenName()
{
    return ScreenName;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TTestMain setUp = TestMainSetUp();
    if (setUp.PrivateMounts)
        EnterPrivateMountNamespace(); // before anything starts a thread

    // Test discovery only lists the cases: no server for that.
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    // The X server outlives the application object, and its output goes
    // nowhere: if the test dies, the runner must not wait on a pipe it holds.
    support::Xvfb server;
    if (setUp.Screen != TTestMain::Offscreen && !listing) {
        if (server.Start(setUp.ScreenWidth, setUp.ScreenHeight)) {
            ScreenName = server.Display();
            qputenv("DISPLAY", QByteArray::fromStdString(ScreenName));
            qputenv("QT_QPA_PLATFORM", "xcb");
        } else if (setUp.Screen == TTestMain::XServer) {
            std::fprintf(stderr, "Xvfb: %s\n", server.error.c_str());
            return 1;
        }
    }
    if (ScreenName.empty() && (setUp.Screen != TTestMain::Offscreen || qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    const QTemporaryDir home;
    if (!KeepAwayFromUserFiles(home)) {
        std::fprintf(stderr, "no private home for the test\n");
        return 1;
    }
    if (setUp.BeforeApplication)
        setUp.BeforeApplication();
    const std::unique_ptr<QCoreApplication> application = setUp.MakeApplication
        ? setUp.MakeApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (setUp.AfterApplication)
        setUp.AfterApplication();
    const int result = RUN_ALL_TESTS();
    if (setUp.AtEnd)
        setUp.AtEnd();
    return result;
}
