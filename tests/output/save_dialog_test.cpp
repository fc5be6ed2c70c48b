// The save dialog's wiring: the name it hands back (default extension,
// remembered path), its overwrite question, its place on the monitor, and
// the preview pane on good and broken files.
#include "support/qt_print.h"
#include "support/test_chart.h"

#include "output/jpeg.h"
#include "output/dialog_placement.h"
#include "output/save_picture_dialog.h"
#include "output/chart_pictures.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace {

// Plays a person at the keyboard: each step waits for a modal window of its
// kind to be on top, then acts on it.
class TModalScript {
public:
    using TStep = std::function<bool(QWidget*)>; // true when it acted
    // A step that opens another modal window must do so queued: a timer
    // does not fire again while its own slot is still running.

    template <class TWindow>
    void Then(std::function<void(TWindow*)> act)
    {
        FSteps.push_back([act](QWidget* w) {
            auto* window = qobject_cast<TWindow*>(w);
            if (window == nullptr || !window->isVisible())
                return false;
            act(window);
            return true;
        });
    }

    void Start()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (!FSteps.empty() && FSteps.front()(QApplication::activeModalWidget()))
                FSteps.pop_front();
        });
        FTimer.start(20);
    }

    bool Done() const { return FSteps.empty(); }

private:
    std::deque<TStep> FSteps;
    QTimer FTimer;
};

// Types a name into the dialog's file-name box, as a person would.
void TypeName(QFileDialog* dialog, const QString& name)
{
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
}

QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QByteArray ChartJpeg(int width, int height)
{
    TTestChart chart(width, height);
    TJPEGImage jpeg;
    jpeg.Assign(CreateChartBitmap(chart, clWhite, chart.GetChartRectangle()));
    jpeg.Compress();
    return jpeg.Data();
}

} // namespace

TEST(SaveDialog, ANameWithoutExtensionGetsJpgAndIsRememberedForNextTime)
{
    QTemporaryDir dir;
    TSavePictureDialog dialog;
    dialog.SetFileName(dir.filePath("start.jpg"));
    QPoint placedAt;
    QPoint expectedAt;
    TModalScript script;
    script.Then<TSavePictureDialog>([&](TSavePictureDialog* d) {
        placedAt = d->pos();
        expectedAt = DialogPosition(d->screen()->availableGeometry(), d->frameGeometry().size());
        TypeName(d, "typed");
        QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
    });
    QString offered;
    script.Then<TSavePictureDialog>([&](TSavePictureDialog* d) {
        offered = d->selectedFiles().value(0);
        d->reject();
    });
    script.Start();

    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), dir.filePath("typed.jpg"));
    EXPECT_EQ(dialog.FilterIndex(), 1);
    EXPECT_EQ(placedAt, expectedAt);

    // The second use opens on the same path; cancelling keeps it.
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(offered, dir.filePath("typed.jpg"));
    EXPECT_EQ(dialog.FileName(), dir.filePath("typed.jpg"));
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(QFile::exists(dir.filePath("typed.jpg")));
}

TEST(SaveDialog, AnExistingFileIsOverwrittenOnlyAfterTheQuestion)
{
    QTemporaryDir dir;
    const QString existing = WriteFile(dir.filePath("old.jpg"), "old");
    for (const bool yes : {false, true}) {
        TSavePictureDialog dialog;
        dialog.SetFileName(existing);
        TModalScript script;
        script.Then<TSavePictureDialog>([](TSavePictureDialog* d) {
            TypeName(d, "old.jpg");
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        });
        int questions = 0;
        script.Then<QMessageBox>([&](QMessageBox* box) {
            ++questions;
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        if (!yes)
            script.Then<TSavePictureDialog>([](TSavePictureDialog* d) { d->reject(); });
        script.Start();
        EXPECT_EQ(dialog.Execute(), yes);
        EXPECT_EQ(questions, 1);
        EXPECT_TRUE(script.Done());
    }
}

struct PreviewPaneCase {
    const char* Name;
    QByteArray (*Bytes)();
    const char* FileName; // empty: no file at all
    const char* Caption;
    bool Enabled;
};

class PreviewPaneTest : public ::testing::TestWithParam<PreviewPaneCase> {};

TEST_P(PreviewPaneTest, ShowsThePictureOrNone)
{
    QTemporaryDir dir;
    QString path = dir.filePath(GetParam().FileName);
    if (GetParam().Bytes)
        WriteFile(path, GetParam().Bytes());
    if (QString(GetParam().FileName).isEmpty())
        path = dir.path(); // a folder is not a picture
    TSavePictureDialog dialog;
    // A click in the file list changes the current name.
    emit dialog.currentChanged(path);
    TPicturePreview* preview = dialog.Preview();
    EXPECT_EQ(preview->Caption()->text(), GetParam().Caption);
    EXPECT_EQ(preview->PreviewButton()->isEnabled(), GetParam().Enabled);
    EXPECT_EQ(preview->View()->HasPicture(), GetParam().Enabled);
    EXPECT_EQ(preview->PreviewButton()->toolTip(), "Preview");
    // What the pane shows: the picture's blue bar, or the words "(None)".
    preview->View()->resize(150, 150);
    const QImage shown = preview->View()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int blue = 0;
    int dark = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb p = shown.pixel(x, y);
            blue += qBlue(p) > std::max(qRed(p), qGreen(p)) + 80;
            dark += qGray(p) < 100;
        }
    EXPECT_EQ(blue > 500, GetParam().Enabled) << blue;
    EXPECT_EQ(blue == 0 && dark > 10, !GetParam().Enabled) << dark;
}

INSTANTIATE_TEST_SUITE_P(
    Files, PreviewPaneTest,
    ::testing::Values(
        PreviewPaneCase{"GoodJpeg", [] { return ChartJpeg(160, 90); }, "good.jpg", " (160x90)", true},
        PreviewPaneCase{"Truncated", [] { return ChartJpeg(160, 90).left(300); }, "cut.jpg", "Picture:", false},
        PreviewPaneCase{"RandomBytes", [] { return QByteArray(3000, '\x5a'); }, "noise.jpg", "Picture:", false},
        PreviewPaneCase{"Missing", nullptr, "missing.jpg", "Picture:", false},
        PreviewPaneCase{"Folder", nullptr, "", "Picture:", false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SaveDialog, PreviewButtonOpensThePreviewWindow)
{
    QTemporaryDir dir;
    const QString path = WriteFile(dir.filePath("good.jpg"), ChartJpeg(200, 80));
    TSavePictureDialog dialog;
    emit dialog.currentChanged(path);
    QString title;
    QSize shown;
    TModalScript script;
    script.Then<TPreviewWindow>([&](TPreviewWindow* w) {
        title = w->windowTitle();
        shown = w->size();
        w->reject();
    });
    script.Start();
    dialog.Preview()->PreviewButton()->click();
    EXPECT_TRUE(script.Done());
    EXPECT_EQ(title, "Preview");
    EXPECT_EQ(shown, TPreviewWindow::ClientSize(QSize(200, 80), dialog.screen()->geometry().size()));
}

TEST(PreviewWindow, ClientSizeIsThePictureWithBorderUpToThreeQuartersOfTheMonitor)
{
    const struct {
        QSize Picture, Monitor, Expected;
    } cases[] = {
        {{200, 80}, {1920, 1080}, {220, 100}},   // picture + 2 x 5 border + 10
        {{696, 237}, {800, 600}, {600, 257}},    // width capped at 3/4
        {{3000, 3000}, {1366, 768}, {1024, 576}}, // 3/4, remainders dropped
    };
    for (const auto& c : cases)
        EXPECT_EQ(TPreviewWindow::ClientSize(c.Picture, c.Monitor), c.Expected);
}

TEST(PictureView, FitsProportionallyAndCentred)
{
    const struct {
        QSize Picture, Box;
        QRect Expected;
    } cases[] = {
        {{100, 50}, {200, 200}, {50, 75, 100, 50}},   // small pictures keep their size
        {{400, 100}, {200, 200}, {0, 75, 200, 50}},   // wide: fitted to the width
        {{100, 400}, {200, 200}, {75, 0, 50, 200}},   // tall: fitted to the height
        {{0, 0}, {200, 200}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TPictureView::FitRect(c.Picture, c.Box), c.Expected);
}
