// Start-up: the socket layer first, then the picture formats, then the
// application object and the two windows; the message loop runs until the
// main window closes, and the socket layer goes down last. No sampling
// cycle runs at start-up: empty chart, red lamp, timer off.
#include "app/application.h"
#include "app/help_window.h"
#include "app/main_window.h"
#include "output/jpeg.h"
#include "telnet/socket_api.h"

#include <cstdio>
#include <exception>

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
        TApplication application(argc, argv);
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
