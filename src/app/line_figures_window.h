// The line figures window: a small window beside the chart with the table
// of line_figures_table.h, following each reading. It only shows; what it
// says is worked out in the table.
#pragma once

#include "app/line_figures_table.h"

#include <QWidget>

class QTableWidget;

class TLineFiguresWindow : public QWidget {
    Q_OBJECT
public:
    explicit TLineFiguresWindow(QWidget* parent = nullptr);

    // Shows the table's rows as they are now.
    void ShowRows(const std::vector<TFiguresRow>& rows);
    // The text in a row and column (0: caption, 1: downstream, 2: upstream).
    QString Text(int row, int column) const;
    int RowCount() const;

    // Opens beside `frame` (the main window's), on the side with room.
    void PlaceBeside(const QRect& frame);

private:
    QTableWidget* FTable = nullptr;
};
