// The yardstick for the monitor's start-up: the least a Qt Widgets program
// does to put a window of the monitor's size on screen and paint it once.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal Window"));
    window.resize(699, 421);
    window.move(382, 403);
    window.show();
    return app.exec();
}
