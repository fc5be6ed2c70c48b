// The main of the history tests: a mount namespace of their own for the
// read-only and full-disk cases, and Qt's test locations so nothing here
// touches the user's own history.
#include "support/private_mounts.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Before anything starts a thread.
    EnterPrivateMountNamespace();
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
