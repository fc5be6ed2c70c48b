// The printing commands as a module the monitor loads on first use.
#include "output/printing_commands.h"

extern "C" __attribute__((visibility("default"))) const TPrintingCommands* TirvanePrintingCommands()
{
    return &PrintingCommands();
}
