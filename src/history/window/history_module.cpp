// The History window as a module the monitor loads on first use.
#include "history/window/history_window_maker.h"

extern "C" __attribute__((visibility("default"))) THistoryWindowMaker TirvaneHistoryWindowMaker()
{
    return &MakeHistoryWindow;
}
