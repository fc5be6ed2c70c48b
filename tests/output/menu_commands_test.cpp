// The chart's pop-up menu in the real main window: each command reaches the
// picture output, and an error reaches the application's error box.
#include "support/jpeg_probe.h"
#include "support/qt_print.h"
#include "support/test_main.h"

#include "app/application.h"
#include "app/main_window.h"
#include "chart/chart.h"
#include "output/clipboard.h"
#include "output/jpeg.h"
#include "output/save_picture_dialog.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Answers the next modal window of kind TWindow once it is on top.
template <class TWindow>
class TAnswer {
public:
    explicit TAnswer(std::function<void(TWindow*)> act)
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this, act] {
            auto* window = qobject_cast<TWindow*>(QApplication::activeModalWidget());
            if (window && window->isVisible() && !Answered) {
                Answered = true;
                act(window);
            }
        });
        FTimer.start(20);
    }
    bool Answered = false;

private:
    QTimer FTimer;
};

QRect ChartRect(TForm1& form)
{
    return form.Chart21->GetChartRectangle();
}

} // namespace

TEST(MenuCommands, CopyToClipboardPutsTheChartThere)
{
    TForm1 form;
    form.show();
    QGuiApplication::clipboard()->setText("before");
    form.Copytoclipboard1->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->formats(), (QStringList{SvgMimeType, PngMimeType}));
    const QRect r = ChartRect(form);
    EXPECT_TRUE(data->data(SvgMimeType).contains(
        QStringLiteral("viewBox=\"0 0 %1 %2\"").arg(r.width() - 1).arg(r.height() - 1).toUtf8()));
    EXPECT_EQ(QImage::fromData(data->data(PngMimeType), "PNG").size(), r.size() - QSize(1, 1));
}

TEST(MenuCommands, SaveAsWritesTheChartAndAnErrorReachesTheErrorBox)
{
    QTemporaryDir dir;
    TForm1 form;
    form.show();
    {
        TAnswer<TSavePictureDialog> save([&](TSavePictureDialog* d) {
            d->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("menu"));
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        });
        form.SaveAs1->trigger();
        EXPECT_TRUE(save.Answered);
    }
    const auto probe = ProbeJpegFile(dir.filePath("menu.jpg"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(QSize(probe->Width, probe->Height), ChartRect(form).size());

    // A name under a regular file cannot be created: the error box says so.
    QString shown;
    TAnswer<TSavePictureDialog> save([&](TSavePictureDialog* d) {
        d->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("menu.jpg/inner.jpg"));
        QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
    });
    TAnswer<QMessageBox> box([&](QMessageBox* b) {
        shown = b->text();
        b->accept();
    });
    form.SaveAs1->trigger();
    EXPECT_TRUE(shown.startsWith("Cannot create file \"" + dir.filePath("menu.jpg/inner.jpg") + "\". "))
        << shown.toStdString();
    EXPECT_EQ(ProbeJpegFile(dir.filePath("menu.jpg"))->Width, ChartRect(form).width());
}

TTestMain TestMainSetUp()
{
    TTestMain setUp;
    setUp.MakeApplication = MakeTestApplication<TApplication>;
    setUp.BeforeApplication = [] { RegisterJpegPictureFormat(); };
    setUp.AtEnd = UnregisterJpegPictureFormat;
    return setUp;
}
