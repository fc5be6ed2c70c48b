// The picture-output tests: widgets, clipboard and printing need an
// application object, the file tests a mount namespace of their own, and the
// JPEG picture format is registered as the program registers it at start-up.
#include "output/jpeg.h"
#include "support/test_main.h"

#include <QApplication>

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.PrivateMounts = true;
    setUp.MakeApplication = MakeTestApplication<QApplication>;
    setUp.BeforeApplication = [] { RegisterJpegPictureFormat(); };
    setUp.AtEnd = UnregisterJpegPictureFormat;
    return setUp;
}
