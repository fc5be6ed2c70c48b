// The fairer yardstick for the monitor's start-up: a window of the monitor's
// size with a menu bar and one line of Arial text, so the floor also pays for
// finding and loading a font, as every window with words on it must.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Text Window"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    window.setFont(font);
    window.menuBar()->addMenu(QStringLiteral("Help"));
    auto* text = new QLabel(QStringLiteral("One line of text"), &window);
    window.setCentralWidget(text);
    window.resize(699, 421);
    window.move(382, 403);
    window.show();
    return app.exec();
}
