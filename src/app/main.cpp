// Start-up: the command line first (a usage error, --help or --version ends
// here, before anything else starts), then the socket layer, the picture
// formats, the application object and the main window; the message loop
// runs until the main window closes, and the socket layer goes down last.
// No sampling cycle runs at start-up unless --plot asks for one: empty
// chart, red lamp, timer off.
#include "app/application.h"
#include "app/main_window.h"
#include "app/report_command.h"
#include "app/window_rules.h"
#include "app/start_options.h"
#include "app/start_up.h"
#include "history/store/reading_store.h"
#include "output/jpeg.h"
#include "telnet/socket_api.h"

#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Until the window system answers, Qt's words about not reaching it are held
// back, and its fatal end becomes one line and status 1: a start without a
// display is a user's mistake to be told plainly, not a crash.
void StartUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fputs("tirvane: the window needs a display, and none could be opened (is DISPLAY or "
                   "WAYLAND_DISPLAY set?); tirvane --report and tirvane-read need none\n", stderr);
        std::_Exit(1);
    }
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

// TERM (a logout, a kill) closes the window as the user would: the history
// is closed cleanly, its log emptied, not left for the next start. The
// handler only writes a byte; the event loop does the rest.
int GTermPipe[2] = {-1, -1};

void OnTerm(int)
{
    const char byte = 1;
    (void)!::write(GTermPipe[1], &byte, 1);
}

void CloseOnTerm(QApplication& application)
{
    if (::pipe2(GTermPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(GTermPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnTerm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const TCommandLine commandLine = ParseCommandLine(arguments, qEnvironmentVariable("TIRVANE_PASSWORD"));
    if (commandLine.Report) {
        // A scheduled job has no display: draw offscreen unless one is there.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
            && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication application(argc, argv);
        // The history is where the window keeps it.
        QGuiApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
        return WriteReportCommand(*commandLine.Report, TReadingStore::DefaultPath());
    }
    if (!commandLine.Start) {
        std::fputs(qPrintable(commandLine.Text), commandLine.ExitStatus == 0 ? stdout : stderr);
        return commandLine.ExitStatus;
    }

    try {
        SocketLayerStartup();
    } catch (const std::exception& error) {
        // There is no window to show it in yet.
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    RegisterJpegPictureFormat();

    int result = 0;
    {
        const QtMessageHandler qtMessages = qInstallMessageHandler(StartUpMessages);
        TApplication application(argc, argv);
        qInstallMessageHandler(qtMessages);
        CloseOnTerm(application);
        TForm1 form1;
        // The help window is made the first time Help... asks for it (the
        // main window owns it then): hidden until that moment anyway, it
        // would only cost every start its dialog, text box and layout.
        PrepareWindow(form1, commandLine.Options, SettingsFilePath());
        form1.show();
        result = application.exec();
    }

    UnregisterJpegPictureFormat();
    SocketLayerShutdown();
    return result;
}
