// The history tests need a mount namespace of their own for read-only and
// full disks.
#include "support/test_main.h"

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.PrivateMounts = true;
    return setUp;
}
