// The status lamp: a small square filled with one colour and outlined in
// black. The sampling cycle turns it green, Stop turns it red again.
#pragma once

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);

    QColor BrushColor() const { return FBrushColor; }
    void SetBrushColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor FBrushColor = Qt::white;
};
