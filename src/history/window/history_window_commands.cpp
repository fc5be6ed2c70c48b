#include "history/window/history_window.h"

#include "history/store/reading_store.h"
#include "history/report/line_report.h"
#include "history/window/history_window_parts.h"
#include "line/output_formats.h"
#include "output/safe_write.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

// The window's commands: export, save picture, line report, delete. The
// export and the report read on a thread of their own, as the period's read
// does, so a year's export leaves both windows answering.

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

} // namespace

THistoryWindow::TCommandEnd THistoryWindow::RunCommand(const TReadingStore& store, const TCommandJob& job,
    const std::atomic<bool>& stop)
{
    TCommandEnd end;
    if (job.Command == TCommand::Report) {
        // The period ends now, the reading taken this very millisecond with it.
        end.Written = WriteLineReport(job.Path, store, job.Host, job.FromMs, job.ToMs + 1, &end.Error, &stop);
        end.Stopped = stop.load();
        return end;
    }
    // Written as read: a year goes out in the memory of one block.
    TReadResult read;
    end.Written = WriteFileWhole(job.Path, [&](QIODevice& file) {
        TReadingsWriter writer(TOutputFormat::Csv, {});
        bool ok = true;
        read = store.ReadEach(job.SinceMs, Forever, job.Filter, [&](const TReading& reading) {
            const QByteArray row = writer.Next(reading);
            ok = file.write(row) == row.size() && !stop.load();
            return ok;
        });
        const QByteArray last = writer.Finish();
        return ok && file.write(last) == last.size();
    }, &end.Error);
    end.Stopped = stop.load();
    if (end.Written && !read.Complete())
        end.Unread = read.Text();
    return end;
}

void THistoryWindow::StartCommand(TCommand command, const QString& path)
{
    WaitForCommand();
    const auto [from, to] = ShownPeriod();
    FJob = {command, path, FHost, cbHost->count() > 1 ? FHost : QString(), PeriodStart(), from, to};
    FStopCommand = false;
    FCommandRunning = true;
    if (!FOwnStore || FStore.Path().isEmpty()) {
        EndCommand(RunCommand(FStore, FJob, FStopCommand));
        return;
    }
    setCursor(Qt::BusyCursor);
    ShowFigures(); // says what is being written, with the Cancel button
    // A connection of the thread's own, as the period's read has.
    FCommandThread = std::thread([this, storePath = FStore.Path(), job = FJob] {
        TReadingStore store;
        TCommandEnd end;
        if (store.OpenToRead(storePath))
            end = RunCommand(store, job, FStopCommand);
        else
            end.Error = store.ErrorText();
        {
            const std::lock_guard<std::mutex> handing(FCommandLock);
            FCommandEnded.push_back(end);
        }
        QMetaObject::invokeMethod(this, [this] { TakeCommandEnd(); }, Qt::QueuedConnection);
    });
}

void THistoryWindow::CancelCommand()
{
    FStopCommand = true;
}

void THistoryWindow::WaitForCommand()
{
    if (FCommandThread.joinable())
        FCommandThread.join();
    TakeCommandEnd();
}

void THistoryWindow::TakeCommandEnd()
{
    std::vector<TCommandEnd> ended;
    {
        const std::lock_guard<std::mutex> taking(FCommandLock);
        ended.swap(FCommandEnded);
    }
    for (const TCommandEnd& end : ended)
        EndCommand(end);
}

void THistoryWindow::EndCommand(const TCommandEnd& end)
{
    if (FCommandThread.joinable())
        FCommandThread.join(); // it has handed over and is ending
    FCommandRunning = false;
    FCommandWritten = end.Written && end.Unread.isEmpty();
    if (!Loading())
        unsetCursor();
    btCancel->hide();
    ShowFigures();
    if (end.Stopped || FCommandWritten)
        return;
    // Not modal: the answer comes while the monitor goes on plotting.
    const bool report = FJob.Command == TCommand::Report;
    auto* box = new QMessageBox(end.Written ? QMessageBox::Warning : QMessageBox::Critical, windowTitle(),
        end.Written ? QStringLiteral("%1 holds every reading but these:\n%2").arg(FJob.Path, end.Unread)
        : report    ? QStringLiteral("Cannot write the line report: %1").arg(end.Error)
                    : QStringLiteral("Cannot write %1: %2").arg(FJob.Path, end.Error),
        QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool THistoryWindow::ExportCsv(const QString& path)
{
    StartCommand(TCommand::Export, path);
    WaitForCommand();
    return FCommandWritten;
}

bool THistoryWindow::WriteReport(const QString& path)
{
    StartCommand(TCommand::Report, path);
    WaitForCommand();
    return FCommandWritten;
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
    if (WriteFileWhole(path, [&picture](QIODevice& file) { return picture.save(&file, "PNG"); }, &error))
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
        StartCommand(TCommand::Export, path);
}

void THistoryWindow::LineReportClick()
{
    const QString path = AskSavePath(this, QStringLiteral("Line report"), FileNameStem() + QStringLiteral("-report.pdf"),
                                     QStringLiteral("PDF files (*.pdf);;All files (*)"), QStringLiteral("pdf"));
    if (!path.isEmpty())
        StartCommand(TCommand::Report, path);
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
