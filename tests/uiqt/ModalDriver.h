// Drives modal dialogs from tests: the action runs on the dialog as soon
// as it is the active modal window, inside the dialog's own event loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vl::test {

// Runs AAction on the active modal window named AName (any name when
// empty). When none opens within five seconds the test fails and every
// open dialog is rejected, so the test does not hang.
inline void WhenModal(const QString &AName, std::function<void(QWidget *)> AAction)
{
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, AName, AAction] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (dialog && dialog->isVisible() && (AName.isEmpty() || dialog->objectName() == AName)) {
            timer->stop();
            timer->deleteLater();
            AAction(dialog);
            return;
        }
        if (clock->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog " << AName.toStdString() << " opened";
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *open = qobject_cast<QDialog *>(top); open && open->isVisible())
                    open->reject();
        }
    });
    timer->start();
}

// The visible top-level window named AName, or nullptr.
inline QWidget *VisibleWindow(const QString &AName)
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->objectName() == AName)
            return top;
    return nullptr;
}

} // namespace vl::test
