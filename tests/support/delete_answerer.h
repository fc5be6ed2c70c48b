// Answers the History window's "Delete readings older than..." from a short
// repeating timer, so the answers come from inside each dialog's own event
// loop: the time asked for, then Yes to the confirmation, whose text it keeps.
#pragma once

#include <QApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdint>

class DeleteAnswerer {
public:
    explicit DeleteAnswerer(std::int64_t beforeMs)
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this, beforeMs] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                Question = box->text();
                box->button(QMessageBox::Yes)->click();
            } else if (auto* before = modal ? modal->findChild<QDateTimeEdit*>(QStringLiteral("edBefore")) : nullptr) {
                before->setDateTime(QDateTime::fromMSecsSinceEpoch(beforeMs));
                qobject_cast<QDialog*>(modal)->accept();
            }
        });
        FTimer.start(20);
    }

    QString Question; // the confirmation's text; empty until one was asked

private:
    QTimer FTimer;
};
