#include "app/help_window.h"

#include <QFont>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>

TForm2* Form2 = nullptr;

namespace {

constexpr int ClientWidth = 372;
constexpr int ClientHeight = 228;

const char* const HelpLines[] = {
    "Enter your router's address in the Host box.",
    "Enter the Username and Password you use to log into your router.",
    "Press 'Plot' to start the 60 second timer.",
    "Press 'Stop' to end.",
    "",
    "",
    "Right-click on the graph for it's popup menu.",
};

} // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Kestrine Monitor Help"));
    // A fixed dialog frame: no resizing, no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    setAutoFillBackground(true);
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowPalette.color(QPalette::Button));
    setPalette(windowPalette);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(152, 188, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(4, 4, 361, 169);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::ToolTipBase));
    memoPalette.setColor(QPalette::Text, memoPalette.color(QPalette::ToolTipText));
    Memo1->setPalette(memoPalette);
    QStringList lines;
    for (const char* line : HelpLines)
        lines << QString::fromLatin1(line);
    Memo1->setPlainText(lines.join(u'\n'));

    setTabOrder(Button1, Memo1);
}

void TForm2::Button1Click()
{
    close();
}
