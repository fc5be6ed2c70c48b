// The main of the window tests: the program's own application object, so
// errors escaping handlers go where they go in the program.
#include "app/application.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs the binary without the test environment; it still
    // needs a platform to build the application object on.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every cycle is recorded into the user's history: these tests keep
    // theirs in a data folder of their own, gone when they end.
    QTemporaryDir data;
    if (!data.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    TApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
