// Where the common dialogs appear: the arithmetic, and a dialog placed on
// showing.
#include "output/dialog_placement.h"

#include <QApplication>
#include <QDialog>
#include <QScreen>

#include <gtest/gtest.h>

TEST(DialogPlacement, CentredAcrossAndAThirdDown)
{
    const struct {
        QRect Monitor;
        QSize Dialog;
        QPoint Expected;
    } cases[] = {
        {{0, 0, 1920, 1040}, {800, 500}, {560, 180}},
        {{1920, 0, 1280, 984}, {801, 501}, {1920 + 239, 161}}, // remainders dropped
        {{0, 30, 1024, 738}, {600, 400}, {212, 30 + 112}},
        {{0, 0, 800, 600}, {1000, 900}, {-100, -100}},         // larger than the monitor
    };
    for (const auto& c : cases)
        EXPECT_EQ(DialogPosition(c.Monitor, c.Dialog), c.Expected);
}

TEST(DialogPlacement, ADialogIsMovedToItsPlaceWhenItShows)
{
    QDialog dialog;
    dialog.setGeometry(3, 5, 641, 479);
    PlaceOnActiveMonitor(dialog);
    dialog.show();
    const QRect monitor = ActiveMonitor(dialog)->availableGeometry();
    EXPECT_EQ(dialog.pos(), DialogPosition(monitor, dialog.frameGeometry().size()));
    EXPECT_NE(dialog.pos(), QPoint(3, 5));
}
