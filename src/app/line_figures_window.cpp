#include "app/line_figures_window.h"

#include "app/window_rules.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

TLineFiguresWindow::TLineFiguresWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("LineFigures"));
    setWindowTitle(QStringLiteral("Line figures"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    FTable = new QTableWidget(0, 3, this);
    FTable->setObjectName(QStringLiteral("LineFiguresTable"));
    FTable->setHorizontalHeaderLabels({QString(), QStringLiteral("Downstream"), QStringLiteral("Upstream")});
    FTable->verticalHeader()->setVisible(false);
    FTable->verticalHeader()->setDefaultSectionSize(FTable->fontMetrics().height() + 4);
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->setSelectionMode(QAbstractItemView::NoSelection);
    FTable->setShowGrid(false);
    FTable->setFocusPolicy(Qt::NoFocus);
    FTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(FTable);
    ShowRows(TLineFiguresTable().Rows());
}

void TLineFiguresWindow::ShowRows(const std::vector<TFiguresRow>& rows)
{
    FTable->clearSpans();
    FTable->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const TFiguresRow& row = rows[std::size_t(r)];
        const QString texts[] = {row.Heading ? row.Caption : QStringLiteral("  ") + row.Caption, row.Down, row.Up};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (row.Heading) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            FTable->setItem(r, c, item);
        }
        if (row.Heading)
            FTable->setSpan(r, 0, 1, 3);
        else if (row.Whole)
            FTable->setSpan(r, 1, 1, 2);
    }
    // Tall and wide enough for every row: the window never scrolls.
    int height = FTable->horizontalHeader()->height() + 2 * FTable->frameWidth();
    for (int r = 0; r < FTable->rowCount(); ++r)
        height += FTable->rowHeight(r);
    int width = 2 * FTable->frameWidth();
    for (int c = 0; c < 3; ++c)
        width += FTable->columnWidth(c);
    FTable->setMinimumSize(width, height);
}

QString TLineFiguresWindow::Text(int row, int column) const
{
    const QTableWidgetItem* item = FTable->item(row, column);
    return item ? item->text().trimmed() : QString();
}

int TLineFiguresWindow::RowCount() const
{
    return FTable->rowCount();
}

void TLineFiguresWindow::PlaceBeside(const QRect& frame)
{
    adjustSize();
    const QSize size = frameGeometry().size();
    QRect place(QPoint(frame.right() + 1, frame.top()), size);
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (screen) {
        const QRect available = screen->availableGeometry();
        if (place.right() > available.right())
            place.moveLeft(frame.left() - size.width());
        move(PlaceOnScreen(place, available));
    } else {
        move(place.topLeft());
    }
}
