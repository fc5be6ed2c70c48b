// The history tests' main: a mount namespace of their own for read-only and
// full disks, and Qt's test locations, never the user's own history.
#include "support/private_mounts.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    EnterPrivateMountNamespace(); // before anything starts a thread
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
