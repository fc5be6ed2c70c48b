// The window tests run on the program's own application object, so errors
// escaping handlers go where they go in the program.
#include "app/application.h"
#include "support/test_main.h"

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<TApplication>;
    return setUp;
}
