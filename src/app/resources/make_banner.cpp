// Draws the banner picture shown beside the range choices and writes its
// pixels as they lie in memory: rows of red, green and blue bytes, top row
// first. Run once by hand (target tirvane_make_banner); the file is kept in
// the tree and compiled into the program as a resource. Raw pixels, not a
// PNG: the first image decoder a program uses makes Qt look through all its
// image format plugins, which cost every start more than drawing the window.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.rgb\n", argv[0]);
        return 2;
    }
    QImage image(278, 36, QImage::Format_RGB888);
    image.fill(QColor(255, 255, 255));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // The maker's name, white on a blue gradient.
    const QRect left(0, 0, 120, 36);
    QLinearGradient gradient(left.topLeft(), left.topRight());
    gradient.setColorAt(0.0, QColor(0, 40, 140));
    gradient.setColorAt(1.0, QColor(40, 110, 220));
    painter.fillRect(left, gradient);
    QFont maker(QStringLiteral("Arial"));
    maker.setPixelSize(24);
    maker.setBold(true);
    maker.setItalic(true);
    painter.setFont(maker);
    painter.setPen(Qt::white);
    painter.drawText(left, Qt::AlignCenter, QStringLiteral("ZyXEL"));

    // The router model and hardware version, dark grey in a light grey box.
    const QRect right(124, 3, 151, 30);
    painter.setPen(QColor(150, 150, 150));
    painter.setBrush(QColor(225, 225, 225));
    painter.drawRect(right);
    QFont model(QStringLiteral("Arial"));
    model.setPixelSize(15);
    model.setBold(true);
    painter.setFont(model);
    painter.setPen(QColor(70, 70, 70));
    painter.drawText(right, Qt::AlignCenter, QStringLiteral("P-660HW-T1 v2"));
    painter.end();

    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out)
        return 1;
    bool written = true;
    for (int y = 0; y < image.height(); ++y)
        written = written && std::fwrite(image.constScanLine(y), 3, size_t(image.width()), out) == size_t(image.width());
    return std::fclose(out) == 0 && written ? 0 : 1;
}
