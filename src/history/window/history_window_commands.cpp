#include "history/window/history_window.h"

#include "history/store/reading_store.h"
#include "history/report/line_report.h"
#include "history/window/history_window_parts.h"
#include "line/output_formats.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

// The window's commands: export, save picture, line report, delete.

using namespace HistoryWindowParts;

namespace {

// Minutes are enough to tell periods apart.
QString PeriodTimeText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// A host as part of a file name: what a file name cannot hold, or would
// read as a folder, becomes '_'.
QString FileNamePart(const QString& text)
{
    QString part;
    for (const QChar c : text)
        part += c.isLetterOrNumber() || c == u'.' || c == u'-' ? c : QChar(u'_');
    return part;
}

QString ReadingsText(std::int64_t count)
{
    return count == 1 ? QStringLiteral("1 reading") : QStringLiteral("%1 readings").arg(count);
}

// Writes a file whole or not at all; false with the reason in `error`.
bool WriteWhole(const QString& path, const std::function<bool(QIODevice&)>& write, QString& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !write(file) || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

// The pointer says the program is at work while a command reads a long
// period on the window's thread (an export, a report).
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

} // namespace

bool THistoryWindow::ExportCsv(const QString& path)
{
    const QString filter = cbHost->count() > 1 ? FHost : QString();
    // Written as read: a year goes out in the memory of one block.
    TReadResult read;
    QString error;
    auto busy = std::make_unique<TWaitCursor>();
    const bool written = WriteWhole(path, [&](QIODevice& file) {
        TReadingsWriter writer(TOutputFormat::Csv, {});
        bool ok = true;
        read = FStore.ReadEach(PeriodStart(), Forever, filter, [&](const TReading& reading) {
            const QByteArray row = writer.Next(reading);
            ok = file.write(row) == row.size();
            return ok;
        });
        const QByteArray end = writer.Finish();
        return ok && file.write(end) == end.size();
    }, error);
    busy.reset();
    if (written && !read.Complete()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("%1 holds every reading but these:\n%2").arg(path, read.Text()));
        return false;
    }
    if (written)
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write %1: %2").arg(path, error));
    return false;
}

bool THistoryWindow::SavePicture(const QString& path)
{
    QWidget* view = CurrentView();
    if (view == nullptr)
        return false;
    const QImage shot = view->grab().toImage();
    // A band below the view says whose line and which period: a picture
    // passed on keeps its context.
    const qreal ratio = shot.devicePixelRatio();
    const QFontMetrics metrics = fontMetrics();
    const int band = metrics.height() * 3 / 2;
    QImage picture(shot.width(), shot.height() + int(std::lround(band * ratio)), QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.setFont(font());
        painter.drawImage(QPoint(0, 0), shot);
        painter.setPen(Qt::black);
        const int top = int(std::lround(shot.height() / ratio));
        painter.drawText(QRect(metrics.height() / 2, top, int(shot.width() / ratio), band),
                         Qt::AlignLeft | Qt::AlignVCenter, PictureCaption());
    }
    QString error;
    if (WriteWhole(path, [&picture](QIODevice& file) { return picture.save(&file, "PNG"); }, error))
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write %1: %2").arg(path, error));
    return false;
}

namespace {

// A file name from a save dialog, with `suffix` added when none was typed.
QString AskSavePath(QWidget* parent, const QString& caption, const QString& name, const QString& filter,
                    const QString& suffix)
{
    QFileDialog dialog(parent, caption, name, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

std::pair<std::int64_t, std::int64_t> THistoryWindow::ShownPeriod() const
{
    const std::int64_t now = FNow();
    std::int64_t from = PeriodStart();
    if (from == Always)
        from = FFigures.Count() > 0 ? FFigures.Rates().front().TimeMs : now;
    return {from, now};
}

QString THistoryWindow::PictureCaption() const
{
    const auto [from, to] = ShownPeriod();
    return QStringLiteral("%1, %2: %3 to %4")
        .arg(FHost, QString::fromLatin1(PeriodChoices[Period()].caption).toLower(), PeriodTimeText(from),
             PeriodTimeText(to));
}

QString THistoryWindow::FileNameStem() const
{
    const auto [from, to] = ShownPeriod();
    const auto stamp = [](std::int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd_HHmm"));
    };
    return QStringLiteral("tirvane-%1-%2-to-%3").arg(FileNamePart(FHost), stamp(from), stamp(to));
}

QString THistoryWindow::DefaultCsvName() const
{
    return FileNameStem() + QStringLiteral(".csv");
}

QString THistoryWindow::DefaultPictureName() const
{
    const QString view = QString::fromLatin1(ViewCaptions[View()]).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
    return FileNameStem() + QLatin1Char('-') + view + QStringLiteral(".png");
}

void THistoryWindow::ExportCsvClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Export CSV"), DefaultCsvName(),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"), QStringLiteral("csv"));
    if (!path.isEmpty())
        ExportCsv(path);
}

bool THistoryWindow::WriteReport(const QString& path)
{
    const auto [from, to] = ShownPeriod();
    QString error;
    bool written = false;
    {
        const TWaitCursor busy;
        // The period ends now, the reading taken this very millisecond with it.
        written = WriteLineReport(path, FStore, FHost, from, to + 1, &error);
    }
    if (written)
        return true;
    QMessageBox::critical(this, windowTitle(), QStringLiteral("Cannot write the line report: %1").arg(error));
    return false;
}

void THistoryWindow::LineReportClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Line report"), FileNameStem() + QStringLiteral("-report.pdf"),
                                     QStringLiteral("PDF files (*.pdf);;All files (*)"), QStringLiteral("pdf"));
    if (!path.isEmpty())
        WriteReport(path);
}

void THistoryWindow::SavePictureClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Save picture"), DefaultPictureName(),
                                     QStringLiteral("PNG pictures (*.png);;All files (*)"), QStringLiteral("png"));
    if (!path.isEmpty())
        SavePicture(path);
}

QString THistoryWindow::DeleteQuestion(std::int64_t count, std::int64_t timeMs, int hostCount)
{
    return QStringLiteral("%1 taken before %2%3 will be deleted for good.\nDelete %4?")
        .arg(ReadingsText(count), TimeText(timeMs),
             hostCount > 1 ? QStringLiteral(" (of every host)") : QString(),
             count == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

void THistoryWindow::DeleteOlderClick()
{
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("Delete readings older than"));
    auto* layout = new QVBoxLayout(&ask);
    layout->addWidget(new QLabel(QStringLiteral("Delete every reading taken before:"), &ask));
    auto* when = new QDateTimeEdit(QDateTime::fromMSecsSinceEpoch(FNow() - 30 * DayMs), &ask);
    when->setObjectName(QStringLiteral("edBefore"));
    when->setCalendarPopup(true);
    when->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    layout->addWidget(when);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    layout->addWidget(buttons);
    if (ask.exec() != QDialog::Accepted)
        return;

    const std::int64_t before = when->dateTime().toMSecsSinceEpoch();
    const std::int64_t count = FStore.CountOlderThan(before);
    if (count <= 0) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("No readings were taken before %1: nothing to delete.").arg(TimeText(before)));
        return;
    }
    if (QMessageBox::question(this, windowTitle(), DeleteQuestion(count, before, int(FStore.Hosts().size())),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    if (FDeleteThrough) {
        // The history's writer deletes behind the readings it is recording:
        // the window does not wait for a long delete, nor fight the writer
        // for the file. Deleted says when it is done.
        FDeleting = true;
        btDelete->setEnabled(false);
        btDelete->setText(QStringLiteral("Deleting readings taken before %1...").arg(TimeText(before)));
        FDeleteThrough(before);
        return;
    }
    FStore.DeleteOlderThan(before);
    Reload();
}

void THistoryWindow::SetDeleter(std::function<void(std::int64_t)> deleteThrough)
{
    FDeleteThrough = std::move(deleteThrough);
}

void THistoryWindow::Deleted(std::int64_t, std::int64_t count)
{
    FDeleting = false;
    btDelete->setText(QString::fromLatin1(DeleteCaption));
    Reload();
    if (count >= 0)
        return;
    // Not modal: the answer comes while the monitor goes on plotting.
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
        count == TReadingStore::DeleteBusy
            ? QStringLiteral("No readings were deleted: another program kept the history file busy. Try again later.")
            : QStringLiteral("No readings were deleted: the history cannot be written in this run."),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
