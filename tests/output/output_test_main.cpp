// The main of the picture-output tests: one application object for the
// whole binary (widgets, clipboard and printing need it), and the JPEG
// picture format registered as the program registers it at start-up.
#include "output/jpeg.h"
#include "support/private_mounts.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    RegisterJpegPictureFormat();
    // Before the application object starts any thread.
    EnterPrivateMountNamespace();
    // Test discovery runs this binary without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int result = RUN_ALL_TESTS();
    UnregisterJpegPictureFormat();
    return result;
}
