// The application's default error handling: an exception escaping any
// handler is shown in an error box titled with the application's title, with
// the full stop rule applied, and the program carries on.
#include "app/application.h"
#include "support/modal_catcher.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct EscapeCase {
    const char* thrown;
    const char* shown;
};

// An error escaping an event handler reaches notify(), which shows it; the
// event loop goes on with the next event.
TEST(Application, ErrorsEscapingAnEventAreShownAndTheProgramCarriesOn)
{
    const EscapeCase cases[] = {
        {"Printing in progress", "Printing in progress."},
        {"Cannot open clipboard.", "Cannot open clipboard."},
        {"Password required!", "Password required!"},
        {"JPEG error #42", "JPEG error #42."},
        {"Cannot create file \"/no/such/dir/chart.jpg\". No such file or directory",
            "Cannot create file \"/no/such/dir/chart.jpg\". No such file or directory."},
    };
    QObject target;
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.thrown);
        ModalCatcher catcher;
        bool after = false;
        QTimer::singleShot(0, &target, [&] { throw std::runtime_error(c.thrown); });
        QTimer::singleShot(50, &target, [&] { after = true; });
        QEventLoop loop;
        QTimer::singleShot(400, &loop, &QEventLoop::quit);
        loop.exec();
        ASSERT_EQ(catcher.Seen().size(), 1u);
        EXPECT_EQ(catcher.Seen()[0].Text, c.shown);
        EXPECT_EQ(catcher.Seen()[0].Title, "Tirvane");
        EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::Critical);
        EXPECT_TRUE(after) << "the event loop stopped after the error";
    }
}

// The window's handlers run through RunHandler: the error is shown where it
// arises and the code after the handler still runs.
TEST(Application, AGuardedHandlerShowsItsErrorAndReturns)
{
    ModalCatcher catcher;
    bool returned = false;
    RunHandler([] { throw std::runtime_error("Printer selected is not valid"); });
    returned = true;
    EXPECT_TRUE(returned);
    ASSERT_EQ(catcher.Seen().size(), 1u);
    EXPECT_EQ(catcher.Seen()[0].Text, "Printer selected is not valid.");
    EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::Critical);
}

TEST(Application, AnErrorOfNoKnownKindIsStillShown)
{
    ModalCatcher catcher;
    QObject target;
    QTimer::singleShot(0, &target, [] { throw 42; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(catcher.Seen().size(), 1u);
    EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::Critical);
    EXPECT_FALSE(catcher.Seen()[0].Text.empty());
}

} // namespace
