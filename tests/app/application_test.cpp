// The application's default error handling: an exception escaping any
// handler is shown in an error box titled with the application's title, with
// the full stop rule applied, and the program carries on.
#include "app/application.h"
#include "modal_catcher.h"

#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(Application, TitleIsTheProgramsName)
{
    EXPECT_EQ(QApplication::applicationDisplayName(), QStringLiteral("Tirvane"));
    EXPECT_NE(qobject_cast<TApplication*>(qApp), nullptr);
}

struct EscapeCase {
    const char* thrown;
    const char* shown;
};

// A handler raises from inside a clicked signal, delivered through the
// event loop the way a real click is.
TEST(Application, ErrorsEscapingAHandlerAreShownAndTheProgramCarriesOn)
{
    const EscapeCase cases[] = {
        {"Printing in progress", "Printing in progress."},
        {"Cannot open clipboard.", "Cannot open clipboard."},
        {"Password required!", "Password required!"},
        {"JPEG error #42", "JPEG error #42."},
        {"Cannot create file \"/no/such/dir/chart.jpg\". No such file or directory",
            "Cannot create file \"/no/such/dir/chart.jpg\". No such file or directory."},
    };
    QPushButton button;
    const char* toThrow = nullptr;
    int handled = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++handled;
        throw std::runtime_error(toThrow);
    });
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.thrown);
        ModalCatcher catcher;
        toThrow = c.thrown;
        const int before = handled;
        bool after = false;
        QTimer::singleShot(0, &button, [&] { button.click(); });
        QTimer::singleShot(50, &button, [&] { after = true; });
        QEventLoop loop;
        QTimer::singleShot(400, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(handled, before + 1);
        ASSERT_EQ(catcher.Seen().size(), 1u);
        EXPECT_EQ(catcher.Seen()[0].Text, c.shown);
        EXPECT_EQ(catcher.Seen()[0].Title, "Tirvane");
        EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::Critical);
        EXPECT_TRUE(after) << "the event loop stopped after the error";
    }
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
