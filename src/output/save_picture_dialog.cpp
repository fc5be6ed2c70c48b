#include "output/save_picture_dialog.h"

#include "output/dialog_placement.h"
#include "output/picture_formats.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The one filter of the dialog, as "description|pattern".
const QString PictureFilterText = QStringLiteral("JPEG Image File (*.jpg)|*.jpg");

// Qt names a filter by its description with the patterns in brackets.
QString QtFilter(const QString& text)
{
    const QString description = text.section('|', 0, 0);
    const QString pattern = text.section('|', 1, 1);
    if (description.contains('(' + pattern + ')'))
        return description;
    return description + " (" + pattern + ')';
}

} // namespace

// ------------------------------------------------------------- picture view

TPictureView::TPictureView(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(120, 120);
}

void TPictureView::SetPicture(const std::optional<QImage>& picture)
{
    FPicture = picture;
    update();
}

QRect TPictureView::FitRect(QSize picture, QSize box)
{
    if (picture.isEmpty() || box.isEmpty())
        return QRect();
    QSize fitted = picture;
    if (picture.width() > box.width() || picture.height() > box.height())
        fitted = picture.scaled(box, Qt::KeepAspectRatio);
    fitted = fitted.expandedTo(QSize(1, 1));
    return QRect(QPoint((box.width() - fitted.width()) / 2, (box.height() - fitted.height()) / 2), fitted);
}

void TPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!FPicture) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("(None)"));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitRect(FPicture->size(), size()), *FPicture);
}

// ---------------------------------------------------------------- preview

TPicturePreview::TPicturePreview(QWidget* parent)
    : QWidget(parent),
      FCaption(new QLabel(QStringLiteral("Picture:"), this)),
      FView(new TPictureView(this)),
      FPreviewButton(new QPushButton(QStringLiteral("Preview"), this))
{
    setObjectName(QStringLiteral("PicturePanel"));
    FPreviewButton->setToolTip(QStringLiteral("Preview"));
    FPreviewButton->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    top->addWidget(FCaption, 1);
    top->addWidget(FPreviewButton);
    layout->addLayout(top);
    layout->addWidget(FView, 1);
    connect(FPreviewButton, &QPushButton::clicked, this, [this] {
        if (FPicture)
            emit PreviewRequested(*FPicture);
    });
}

void TPicturePreview::SetFileName(const QString& fileName)
{
    FPicture.reset();
    if (!fileName.isEmpty() && QFileInfo(fileName).isFile())
        FPicture = LoadPictureFile(fileName);
    if (FPicture)
        FCaption->setText(QString::asprintf(" (%dx%d)", FPicture->width(), FPicture->height()));
    else
        FCaption->setText(QStringLiteral("Picture:"));
    FView->SetPicture(FPicture);
    FPreviewButton->setEnabled(FPicture.has_value());
}

// ---------------------------------------------------------- preview window

TPreviewWindow::TPreviewWindow(const QImage& picture, QWidget* parent) : QDialog(parent, Qt::Tool)
{
    setWindowTitle(QStringLiteral("Preview"));
    setModal(true);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Border, Border, Border, Border);
    auto* view = new TPictureView(this);
    view->setMinimumSize(1, 1);
    view->SetPicture(picture);
    layout->addWidget(view);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect monitor = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QSize client = ClientSize(picture.size(), monitor.size());
    resize(client);
    move(monitor.center() - QPoint(client.width() / 2, client.height() / 2));
}

QSize TPreviewWindow::ClientSize(QSize picture, QSize monitor)
{
    return QSize(std::min(3 * monitor.width() / 4, picture.width() + 2 * Border + 10),
                 std::min(3 * monitor.height() / 4, picture.height() + 2 * Border + 10));
}

// ------------------------------------------------------------ save dialog

TSavePictureDialog::TSavePictureDialog(QWidget* parent)
    : QFileDialog(parent), FPreview(new TPicturePreview(this))
{
    // Our own dialog, so the preview pane can sit inside it.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilter(QtFilter(PictureFilterText));
    setDefaultSuffix(QStringLiteral("jpg"));
    setWindowModality(Qt::ApplicationModal);
    setSizeGripEnabled(true);
    // Overwrite confirmation is on unless DontConfirmOverwrite is set; the
    // dialog has no read-only box to hide.

    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(FPreview, 0, grid->columnCount(), grid->rowCount(), 1);
    FPreview->setMinimumWidth(180);
    connect(this, &QFileDialog::currentChanged, FPreview, &TPicturePreview::SetFileName);
    connect(FPreview, &TPicturePreview::PreviewRequested, this, [this](const QImage& picture) {
        TPreviewWindow window(picture, this);
        window.exec();
    });
}

bool TSavePictureDialog::Execute()
{
    if (!FFileName.isEmpty()) {
        const QFileInfo last(FFileName);
        setDirectory(last.absolutePath());
        selectFile(last.fileName());
    }
    if (exec() != QDialog::Accepted)
        return false;
    const QStringList files = selectedFiles();
    if (files.isEmpty())
        return false;
    FFileName = files.first();
    FFilterIndex = std::max(1, int(nameFilters().indexOf(selectedNameFilter())) + 1);
    return true;
}

void TSavePictureDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    if (QScreen* screen = ActiveMonitor(*this))
        move(DialogPosition(screen->availableGeometry(), frameGeometry().size()));
}
