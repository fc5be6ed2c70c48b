// The chart's part of the main window: which quantity it shows (bits, SNR,
// QLN or Hlog), the line it shows them of, and the line figures (the
// window beside the chart, the lamp's margin, whether cycles read them).
#include "app/main_window.h"

#include "app/application.h"
#include "app/line_figures_table.h"
#include "app/line_figures_window.h"
#include "app/shape.h"
#include "app/start_options.h"
#include "chart/chart.h"
#include "chart/tone_quantity_plot.h"
#include "history/store/reading_store.h"

#include <QAction>
#include <QCursor>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>

void TForm1::CreateChartMenus()
{
    FFigures = std::make_unique<TLineFiguresTable>();
    PopupMenu1->addSeparator();
    auto* quantities = new QActionGroup(this);
    quantities->setExclusive(true);
    const std::optional<TToneQuantity> remembered = ToneQuantityFromKey(ReadChartQuantity(SettingsFilePath()));
    for (std::size_t i = 0; i < ToneQuantities.size(); ++i) {
        const TToneQuantity quantity = ToneQuantities[i];
        QAction* item = PopupMenu1->addAction(ToneQuantityName(quantity));
        item->setObjectName(QStringLiteral("Quantity") + ToneQuantityName(quantity));
        item->setCheckable(true);
        item->setChecked(quantity == remembered.value_or(TToneQuantity::Bits));
        item->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + int(i))));
        quantities->addAction(item);
        // The shortcuts work in the whole window, not only in the menu.
        addAction(item);
        QuantityItems[i] = item;
        connect(item, &QAction::triggered, this, [this, quantity] {
            RunHandler([&] {
                WriteChartQuantity(SettingsFilePath(), ToneQuantityKey(quantity));
                SetQuantity(quantity);
            });
        });
    }
    PopupMenu1->addSeparator();
    LineFigures1 = PopupMenu1->addAction(QStringLiteral("Line figures..."), this,
        [this] { RunHandler([this] { LineFigures1Click(); }); });
    LineFigures1->setObjectName(QStringLiteral("LineFigures1"));
    LineFigures1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    addAction(LineFigures1);
    ReadFigures1 = PopupMenu1->addAction(QStringLiteral("Read line figures"));
    ReadFigures1->setObjectName(QStringLiteral("ReadFigures1"));
    ReadFigures1->setCheckable(true);
    ReadFigures1->setChecked(ReadLineFigures(SettingsFilePath()));
    // Only a person's choice is remembered; --figures is for its run.
    connect(ReadFigures1, &QAction::triggered, this, [](bool on) { WriteLineFigures(SettingsFilePath(), on); });
    if (Quantity() != TToneQuantity::Bits)
        SetQuantity(Quantity());
}

TToneQuantity TForm1::Quantity() const
{
    for (std::size_t i = 0; i < QuantityItems.size(); ++i)
        if (QuantityItems[i] && QuantityItems[i]->isChecked())
            return ToneQuantities[i];
    return TToneQuantity::Bits;
}

void TForm1::SetQuantity(TToneQuantity quantity)
{
    for (std::size_t i = 0; i < QuantityItems.size(); ++i)
        if (ToneQuantities[i] == quantity && QuantityItems[i])
            QuantityItems[i]->setChecked(true);
    PlotShownLine(PlotRange());
    // The read-out names the quantity now shown: the value of the tone under
    // a pointer that stayed on the chart (the keys switch without moving it),
    // otherwise no tone, so no value of the other quantity stays beside it.
    if (Chart21->isVisible() && Chart21->rect().contains(Chart21->mapFromGlobal(QCursor::pos()))) {
        Chart21->repaint(); // the bars are found where they were last drawn
        Chart21MouseMove({}, 0, 0);
    } else {
        const THoverTexts bare = QuantityHoverTexts(quantity, -1, 0, 0.0, 0.0);
        Label56->setText(bare.Tone);
        Label57->setText(bare.Frequency);
        Label58->setText(bare.Bits);
    }
}

bool TForm1::ReadFigures() const
{
    return ReadFigures1 && ReadFigures1->isChecked();
}

void TForm1::SetReadFigures(bool on)
{
    ReadFigures1->setChecked(on);
}

void TForm1::ShowLine(std::optional<TReading> line, const std::optional<TToneRange>& range)
{
    FShownLine = std::move(line);
    PlotShownLine(range);
}

void TForm1::PlotShownLine(const std::optional<TToneRange>& range)
{
    const TQuantityChart chart{*LineSeries18, Chart21->BottomAxis(), Chart21->LeftAxis()};
    const TToneQuantity quantity = Quantity();
    bool measured = true;
    if (FShownLine && range) {
        Chart21->BottomAxis().SetMaximum(range->AxisMaximum);
        measured = PlotToneQuantity(chart, *FShownLine, range->FirstTone, range->LastTone, quantity);
    } else {
        // No line: no bars, but the axis of the quantity chosen.
        PlotToneQuantity(chart, TReading{}, 0, -1, quantity);
    }
    Chart21->SetEmptyNote(measured ? QString() : NotMeasuredOnLine());
    Chart21->setAccessibleName(quantity == TToneQuantity::Bits ? QStringLiteral("Bits per tone")
                                                               : ToneQuantityName(quantity) + QStringLiteral(" per tone"));
}

void TForm1::TakeFigures(const TReading& reading)
{
    FFigures->Take(reading);
    FMarginTip = MarginTipLine(reading.Figures);
    if (FFiguresWindow)
        FFiguresWindow->ShowRows(FFigures->Rows());
}

void TForm1::LineFigures1Click()
{
    if (!FFiguresWindow) {
        LoadFiguresFromHistory();
        FFiguresWindow = new TLineFiguresWindow(this);
        FFiguresWindow->ShowRows(FFigures->Rows());
        FFiguresWindow->PlaceBeside(frameGeometry());
    }
    FFiguresWindow->show();
    FFiguresWindow->raise();
}

void TForm1::LoadFiguresFromHistory()
{
    const QString path = TReadingStore::DefaultPath();
    if (!QFileInfo::exists(path))
        return;
    // What was handed to the writer is in the file first.
    FlushHistory();
    TReadingStore store;
    if (!store.OpenToRead(path))
        return;
    const QString host = FFigures->Host().isEmpty() ? edHost->text() : FFigures->Host();
    auto table = std::make_unique<TLineFiguresTable>();
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    store.ReadEach(now - DayMs, now + 1, host, [&table](const TReading& reading) {
        table->Take(reading);
        return true;
    });
    // A history that stopped (turned off, or another file) would hide the
    // readings taken since: it is used only when it is as new as they are.
    if (!table->Empty() && table->NewestMs() >= FFigures->NewestMs())
        FFigures = std::move(table);
}
