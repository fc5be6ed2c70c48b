// Start-up: the socket layer first, then the picture formats, then the
// application object (the font configuration is read alongside it) and the
// two windows; the message loop runs until the main window closes, and the
// socket layer goes down last. No sampling cycle runs at start-up: empty
// chart, red lamp, timer off.
#include "app/application.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "output/jpeg.h"
#include "telnet/socket_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <thread>

namespace {

// The first window to measure a caption reads the system's whole font
// configuration, a few milliseconds of parsing before any text can be laid
// out. It needs nothing from the application object, so a second thread
// reads it while the application connects to the display; the windows then
// find it ready. Looked up at run time: the font library is the toolkit's,
// loaded with it, and where there is none the toolkit simply reads it later.
std::jthread StartFontConfigurationWarmUp()
{
    using TInit = int (*)();
    const auto init = reinterpret_cast<TInit>(::dlsym(RTLD_DEFAULT, "FcInit"));
    if (!init)
        return {};
    return std::jthread([init] { init(); });
}

} // namespace

int main(int argc, char** argv)
{
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
        std::jthread fontWarmUp = StartFontConfigurationWarmUp();
        TApplication application(argc, argv);
        // The windows use the fonts from here on. The configuration is read
        // once per process; asked for while the thread is still reading, the
        // font library would read it a second time, so the windows wait.
        if (fontWarmUp.joinable())
            fontWarmUp.join();
        TForm1 form1;
        TForm2 form2;
        Form2 = &form2;
        form1.show();
        result = application.exec();
        Form2 = nullptr;
    }

    UnregisterJpegPictureFormat();
    SocketLayerShutdown();
    return result;
}
