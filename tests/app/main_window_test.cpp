// The main window's wiring on Qt's offscreen platform: its controls with their
// names, places and first contents, the tab order, the anchoring when the
// window is resized, its minimum size, the Help and About commands, and what
// closing it does. Nothing here talks to a router.
#include "app/help_window.h"
#include "app/main_window.h"
#include "app/shape.h"
#include "app/window_rules.h"
#include "chart/chart.h"
#include "support/modal_catcher.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct ControlCase {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text; // nullptr: the control has no text to compare
};

QString TextOf(QWidget* widget)
{
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    return {};
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Form2 = &FHelp;
        FForm.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FForm));
    }
    void TearDown() override { Form2 = nullptr; }

    // Sets the client area to width x height by sizing the window around it.
    void ResizeClient(int width, int height)
    {
        FForm.resize(width, height + FForm.MainMenu1->height());
        QCoreApplication::processEvents();
    }

    TForm1 FForm;
    TForm2 FHelp;
};

TEST_F(MainWindowTest, ControlsStandWhereTheyWerePlacedWithTheirFirstContents)
{
    const ControlCase cases[] = {
        {"Label1", "QLabel", {24, 284, 49, 14}, "Username"},
        {"Label2", "QLabel", {24, 316, 50, 14}, "Password"},
        {"Label3", "QLabel", {24, 252, 22, 14}, "Host"},
        {"Label4", "QLabel", {376, 399, 206, 14}, CreditLine},
        {"Shape1", "TShape", {36, 387, 13, 13}, nullptr},
        {"Label5", "QLabel", {28, 348, 33, 14}, "Prompt"},
        {"Image1", "QLabel", {344, 356, 278, 36}, nullptr},
        {"Chart21", "TChart", {0, 0, 696, 237}, nullptr},
        {"edUsername", "QLineEdit", {88, 280, 153, 22}, ""},
        {"edPassword", "QLineEdit", {88, 312, 153, 22}, ""},
        {"Button1", "QPushButton", {88, 380, 75, 25}, "Plot"},
        {"edHost", "QLineEdit", {88, 248, 153, 22}, "192.168.1.1"},
        {"rb1", "QRadioButton", {352, 244, 65, 17}, "0 - 255"},
        {"rb2", "QRadioButton", {448, 244, 73, 17}, "256 - 512"},
        {"rb3", "QRadioButton", {544, 244, 69, 17}, "0 - 512"},
        {"Panel35", "QFrame", {380, 267, 189, 81}, nullptr},
        {"Button2", "QPushButton", {168, 380, 75, 25}, "Stop"},
        {"edPrompt", "QLineEdit", {88, 344, 153, 22}, ">"},
    };
    QWidget* area = FForm.ClientArea();
    ASSERT_EQ(area->size(), QSize(699, 421));
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto* widget = area->findChild<QWidget*>(QString::fromLatin1(c.name), Qt::FindDirectChildrenOnly);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), c.kind);
        if (auto* label = qobject_cast<QLabel*>(widget); label && c.text) {
            // Captions size themselves to their text, never below the
            // designed width, and are never cut off.
            EXPECT_EQ(widget->pos(), c.geometry.topLeft());
            EXPECT_EQ(widget->height(), c.geometry.height());
            EXPECT_GE(widget->width(), c.geometry.width());
            EXPECT_GE(widget->width(), label->fontMetrics().horizontalAdvance(label->text()));
        } else {
            EXPECT_EQ(widget->geometry(), c.geometry);
        }
        EXPECT_TRUE(widget->isVisible());
        if (c.text) {
            EXPECT_EQ(TextOf(widget), QString::fromUtf8(c.text));
        }
    }

    // The read-out inside its panels, and the capture buffer, which is no
    // widget at all.
    EXPECT_EQ(FForm.Panel36->parentWidget(), FForm.Panel35);
    EXPECT_EQ(FForm.Panel36->geometry(), QRect(5, 8, 180, 69));
    const struct {
        QLabel* label;
        QPoint pos;
        const char* text;
    } readout[] = {{FForm.Label56, {12, 8}, "Tone number: "},
        {FForm.Label57, {12, 28}, "Frequency:"},
        {FForm.Label58, {12, 48}, "Bits:"}};
    for (const auto& r : readout) {
        EXPECT_EQ(r.label->parentWidget(), FForm.Panel36);
        EXPECT_EQ(r.label->pos(), r.pos);
        EXPECT_EQ(r.label->text(), QString::fromLatin1(r.text));
    }
    EXPECT_EQ(FForm.findChild<QWidget*>(QStringLiteral("Memo1")), nullptr);
}

TEST_F(MainWindowTest, StartsIdleWithAnEmptyChart)
{
    EXPECT_EQ(FForm.windowTitle(), QStringLiteral("ZyXEL Tirvane"));
    // The offscreen screen is 800 x 800 and the window's frame 703 x 443:
    // at its designed place (382, 403) it would stand out at the right and
    // the bottom, so it is moved by the least amount that brings it in.
    ASSERT_EQ(FForm.screen()->availableGeometry(), QRect(0, 0, 800, 800));
    ASSERT_EQ(FForm.frameGeometry().size(), QSize(703, 443));
    EXPECT_EQ(FForm.pos(), QPoint(97, 357));
    EXPECT_FALSE(FForm.Timer1->isActive());
    EXPECT_EQ(FForm.Timer1->interval(), 60000);
    EXPECT_FALSE(FForm.Timer1->isSingleShot());
    EXPECT_EQ(FForm.Shape1->BrushColor(), QColor(255, 0, 0));
    EXPECT_TRUE(FForm.rb1->isChecked());
    EXPECT_FALSE(FForm.rb2->isChecked());
    EXPECT_FALSE(FForm.rb3->isChecked());
    EXPECT_EQ(FForm.LineSeries18, &FForm.Chart21->Series());
    EXPECT_EQ(FForm.LineSeries18->Count(), 0);
    EXPECT_EQ(FForm.Chart21->BottomAxis().Minimum(), 5.0);
    EXPECT_EQ(FForm.Chart21->BottomAxis().Maximum(), 512.0);
    EXPECT_TRUE(FForm.Panel35->isVisible());
    // The password is readable while it is typed.
    EXPECT_EQ(FForm.edPassword->echoMode(), QLineEdit::Normal);
    EXPECT_FALSE(FHelp.isVisible());
}

TEST_F(MainWindowTest, FontsAndColoursAsDesigned)
{
    // Controls take the window's Arial 11 px unless they say otherwise.
    EXPECT_EQ(FForm.edHost->font().pixelSize(), 11);
    EXPECT_TRUE(FForm.Label4->font().bold());
    EXPECT_FALSE(FForm.Label1->font().bold());
    EXPECT_EQ(FForm.Label4->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_TRUE(FForm.Panel36->autoFillBackground());
    EXPECT_EQ(FForm.Panel36->palette().color(QPalette::Window),
        FForm.palette().color(QPalette::ToolTipBase));
    ASSERT_NE(FForm.Image1->pixmap().size(), QSize());
    EXPECT_EQ(FForm.Image1->pixmap().size(), QSize(278, 36));

    // The lamp: a filled square with a black outline.
    const QImage lamp = FForm.Shape1->grab().toImage();
    ASSERT_EQ(lamp.size(), QSize(13, 13));
    EXPECT_EQ(lamp.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(lamp.pixelColor(12, 12), QColor(Qt::black));
    EXPECT_EQ(lamp.pixelColor(6, 6), QColor(255, 0, 0));
}

TEST_F(MainWindowTest, TabGoesThroughTheFocusableControlsInTheirDesignedOrder)
{
    const char* const expected[] = {"edUsername", "edPassword", "Button1", "edHost", "rb1", "rb2",
        "rb3", "Button2", "edPrompt"};
    std::vector<std::string> order;
    QWidget* w = FForm.edUsername;
    for (int guard = 0; guard < 200 && order.size() < std::size(expected); ++guard) {
        if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus) && w->window() == &FForm)
            order.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    }
    ASSERT_EQ(order.size(), std::size(expected));
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(order[i], expected[i]) << "place " << i;
    EXPECT_EQ(FForm.Chart21->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindowTest, MenusCarryTheirCaptionsAndSeparators)
{
    const auto captions = [](const QList<QAction*>& actions) {
        std::vector<std::string> out;
        for (QAction* action : actions)
            out.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        return out;
    };
    // The Router menu comes before Help; one checkable item per family, the ZyXEL checked.
    EXPECT_EQ(captions(FForm.MainMenu1->actions()), std::vector<std::string>({"Router", "Help"}));
    EXPECT_EQ(captions(FForm.Router1->actions()), std::vector<std::string>({"ZyXEL P-660HW-T1",
                                                      "Broadcom (xdslctl)", "Lantiq (dsl_cpe_pipe)", "DrayTek Vigor"}));
    for (QAction* item : FForm.Router1->actions())
        EXPECT_EQ(item->isChecked(), item == FForm.RouterItems[0]) << item->text().toStdString();
    EXPECT_EQ(captions(FForm.Help1->actions()),
        std::vector<std::string>({"Help...", "-", "About..."}));
    EXPECT_EQ(captions(FForm.PopupMenu1->actions()),
        std::vector<std::string>(
            {"Save As...", "-", "Copy to clipboard", "-", "Printer setup...", "Print", "-", "History...",
                "Notify of line events", "-", "Bits", "SNR", "QLN", "Hlog", "-", "Line figures...",
                "Read line figures"}));
    // On unless the settings turned it off; a check mark says which.
    EXPECT_TRUE(FForm.NotifyEvents1->isCheckable() && FForm.NotifyEvents1->isChecked());
    EXPECT_EQ(FForm.N3->objectName(), QStringLiteral("N3"));
    EXPECT_EQ(FForm.Print1->objectName(), QStringLiteral("Print1"));
}

struct ResizeCase {
    int width, height; // client area
};

TEST_F(MainWindowTest, GrowingMovesBottomControlsDownAndGrowsTheChart)
{
    const ResizeCase cases[] = {{699, 421}, {799, 521}, {699, 600}, {1200, 421}, {900, 528}, {900, 529}};
    struct Tracked {
        QWidget* widget;
        QPoint design;
        bool followsBottom;
    };
    const Tracked tracked[] = {
        {FForm.Label1, {24, 284}, true},   {FForm.Label4, {376, 399}, true},
        {FForm.Shape1, {36, 387}, true},   {FForm.edHost, {88, 248}, true},
        {FForm.Button1, {88, 380}, true},  {FForm.Button2, {168, 380}, true},
        {FForm.rb3, {544, 244}, true},     {FForm.Panel35, {380, 267}, true},
        // Prompt's box, its label and the banner keep their distance from
        // the bottom edge like their neighbours, so the chart never covers them.
        {FForm.Label5, {28, 348}, true},  {FForm.edPrompt, {88, 344}, true},
        {FForm.Image1, {344, 356}, true},
    };
    for (const ResizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        ResizeClient(c.width, c.height);
        ASSERT_EQ(FForm.ClientArea()->size(), QSize(c.width, c.height));
        const int dy = c.height - 421;
        for (const Tracked& t : tracked)
            EXPECT_EQ(t.widget->pos(), t.design + QPoint(0, t.followsBottom ? dy : 0))
                << t.widget->objectName().toStdString();
        EXPECT_EQ(FForm.Chart21->geometry(), QRect(0, 0, 696 + c.width - 699, 237 + dy));
        // However far it grows, the chart's lower edge stays above every
        // other control.
        for (QWidget* widget : FForm.ClientArea()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (widget != FForm.Chart21 && widget->isVisible()) {
                EXPECT_LT(FForm.Chart21->geometry().bottom(), widget->y()) << widget->objectName().toStdString();
            }
        }
    }
}

TEST_F(MainWindowTest, RefusesToShrinkBelowItsMinimum)
{
    const ResizeCase cases[] = {{300, 200}, {698, 421}, {699, 409}, {100, 100}, {699, 410}};
    for (const ResizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        ResizeClient(c.width, c.height);
        const QSize area = FForm.ClientArea()->size();
        EXPECT_GE(area.width(), 699);
        EXPECT_GE(area.height(), 410);
        EXPECT_EQ(area, QSize(std::max(c.width, 699), std::max(c.height, 410)));
        // The anchored controls never leave the client area's design share.
        EXPECT_GE(FForm.Button1->y(), 380 - 11);
    }
}

TEST_F(MainWindowTest, HelpOpensModallyBesideTheMainWindowsMiddle)
{
    // An outer width of 707 at left 382: 382 + 353 - 190.
    FForm.resize(707, FForm.height());
    FForm.move(382, 403);
    QCoreApplication::processEvents();
    const QRect frame = FForm.frameGeometry();
    ModalCatcher catcher;
    FForm.Help2Click();
    ASSERT_EQ(catcher.Seen().size(), 1u);
    const TModalSeen& seen = catcher.Seen().front();
    EXPECT_EQ(seen.Title, "Kestrine Monitor Help");
    EXPECT_EQ(seen.Frame.topLeft(), QPoint(HelpWindowLeft(frame.left(), frame.width()), frame.top() + 100));
    if (frame == QRect(382, 403, 707, frame.height())) {
        EXPECT_EQ(seen.Frame.left(), 545);
    }
    EXPECT_FALSE(FHelp.isVisible());

    // Each showing reuses the window, placed anew.
    FForm.move(100, 50);
    QCoreApplication::processEvents();
    const QRect moved = FForm.frameGeometry();
    FForm.Help2Click();
    ASSERT_EQ(catcher.Seen().size(), 2u);
    EXPECT_EQ(catcher.Seen().back().Frame.topLeft(),
        QPoint(HelpWindowLeft(moved.left(), moved.width()), moved.top() + 100));
}

TEST_F(MainWindowTest, HelpWindowHasItsSevenLinesAndClosesOnOk)
{
    EXPECT_EQ(FHelp.size(), QSize(372, 228));
    EXPECT_EQ(FHelp.minimumSize(), FHelp.maximumSize());
    const QStringList lines = FHelp.Memo1->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], QStringLiteral("Enter your router's address in the Host box."));
    EXPECT_EQ(lines[2], QStringLiteral("Press 'Plot' to start the 60 second timer."));
    EXPECT_TRUE(lines[4].isEmpty());
    EXPECT_TRUE(lines[5].isEmpty());
    EXPECT_EQ(lines[6], QStringLiteral("Right-click on the graph for it's popup menu."));
    EXPECT_TRUE(FHelp.Memo1->isReadOnly());
    EXPECT_EQ(FHelp.Memo1->geometry(), QRect(4, 4, 361, 169));
    EXPECT_EQ(FHelp.Button1->geometry(), QRect(152, 188, 75, 25));
    EXPECT_EQ(FHelp.Button1->text(), QStringLiteral("OK"));

    // OK ends the modal showing from inside it.
    bool clicked = false;
    QTimer::singleShot(0, &FHelp, [&] {
        clicked = true;
        FHelp.Button1->click();
    });
    FHelp.exec();
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(FHelp.isVisible());
}

TEST_F(MainWindowTest, AboutShowsItsTextInAPlainBoxTitledWithTheApplication)
{
    ModalCatcher catcher;
    FForm.About1Click();
    ASSERT_EQ(catcher.Seen().size(), 1u);
    EXPECT_EQ(catcher.Seen()[0].Title, "Tirvane");
    EXPECT_EQ(catcher.Seen()[0].Text, AboutText().toStdString());
    EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::NoIcon);
}

TEST_F(MainWindowTest, AnErrorInACycleIsShownAndTheWindowCarriesOn)
{
    // A minimum above every range's maximum: the axis refuses the cycle's
    // first step. The error box shows it; nothing else of the cycle runs.
    FForm.Chart21->BottomAxis().SetMinimum(300.0);
    FForm.edPassword->setText(QStringLiteral("1234"));
    FForm.edHost->setText(QStringLiteral("127.0.0.1"));
    ModalCatcher catcher;
    FForm.Button1->click();
    ASSERT_EQ(catcher.Seen().size(), 1u);
    EXPECT_EQ(catcher.Seen()[0].Text, "Axis Maximum Value must be >= Minimum.");
    EXPECT_EQ(catcher.Seen()[0].Title, "Tirvane");
    EXPECT_EQ(catcher.Seen()[0].Icon, QMessageBox::Critical);
    EXPECT_FALSE(FForm.Timer1->isActive());
    EXPECT_EQ(FForm.Shape1->BrushColor(), QColor(255, 0, 0));
    EXPECT_EQ(FForm.LineSeries18->Count(), 0);
    EXPECT_TRUE(FForm.isVisible());
}

} // namespace

namespace {

// Enter in any box reads the line as Plot does; without a password that is
// the message, and the focus then goes where the password is typed.
TEST_F(MainWindowTest, EnterInABoxRunsPlotAndAMissingPasswordTakesTheFocus)
{
    FForm.edHost->setText(QStringLiteral("127.0.0.1"));
    for (QLineEdit* box : {FForm.edHost, FForm.edUsername, FForm.edPassword, FForm.edPrompt}) {
        SCOPED_TRACE(box->objectName().toStdString());
        box->setFocus();
        ModalCatcher catcher;
        QTest::keyClick(box, Qt::Key_Return);
        ASSERT_EQ(catcher.Seen().size(), 1u);
        EXPECT_EQ(catcher.Seen()[0].Text, "Password required!");
        QCoreApplication::processEvents();
        EXPECT_EQ(FForm.focusWidget(), FForm.edPassword);
    }
}

// Each box is named by its label, for the keyboard and for screen readers;
// the lamp and the range choices say what they mean.
TEST_F(MainWindowTest, BoxesCarryTheirLabelsAndTheLampAndRangesDescribeThemselves)
{
    const struct {
        QLabel* label;
        QLineEdit* box;
        const char* name;
    } boxes[] = {{FForm.Label3, FForm.edHost, "Host"}, {FForm.Label1, FForm.edUsername, "Username"},
        {FForm.Label2, FForm.edPassword, "Password"}, {FForm.Label5, FForm.edPrompt, "Prompt"}};
    for (const auto& b : boxes) {
        EXPECT_EQ(b.label->buddy(), b.box) << b.name;
        EXPECT_EQ(b.box->accessibleName(), QString::fromLatin1(b.name));
    }
    const struct {
        QWidget* control;
        const char* says;
    } described[] = {{FForm.Shape1, "every 60 s"}, {FForm.rb1, "0 to 255"}, {FForm.rb2, "256 to 512"},
        {FForm.rb3, "0 to 512"}};
    for (const auto& d : described) {
        SCOPED_TRACE(d.control->objectName().toStdString());
        EXPECT_TRUE(d.control->toolTip().contains(QString::fromLatin1(d.says))) << d.control->toolTip().toStdString();
        EXPECT_EQ(d.control->accessibleDescription(), d.control->toolTip());
    }
    // The lamp says it is red now, and that nothing was read yet.
    EXPECT_TRUE(FForm.Shape1->toolTip().contains(QStringLiteral("Now red")));
    EXPECT_TRUE(FForm.Shape1->toolTip().contains(QStringLiteral("No reading yet")));
}

} // namespace
