#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// Acts on a modal window that a call about to be made will show and wait in. The action runs once
// the window is up and active; a window the action leaves open is closed after a while, so a
// failing test ends with a wrong result instead of hanging.
namespace modaldriver {

// Only a modal window that passes the test is acted on (a dialog opened over another one).
using ModalTest = std::function<bool(QWidget *)>;

inline void whenModal(std::function<void(QWidget *)> action, int closeAfterMs = 4000, ModalTest test = {})
{
    auto *poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action, closeAfterMs, test] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || (test && !test(modal)))
            return;
        poll->stop();
        poll->deleteLater();
        QPointer<QWidget> guard(modal);
        QTimer::singleShot(closeAfterMs, [guard] {
            if (guard && guard->isVisible())
                guard->close();
        });
        modal->activateWindow();
        if (!QTest::qWaitForWindowActive(modal))
            qWarning("modal window did not become active");
        action(modal);
    });
    poll->start();
}

// Sends a key the way the keyboard would: to the widget that has the focus.
inline void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget *target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeWindow();
    QTest::keyClick(target, key, modifiers);
}

} // namespace modaldriver
