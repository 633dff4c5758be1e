#include "widgets/windowplacement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <memory>

namespace windowplacement {

bool positionsKnown()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QMargins expectedFrameMargins(const QWidget *window)
{
    auto marginsOf = [](const QWidget *w) {
        const QWindow *handle = w->windowHandle();
        return handle ? handle->frameMargins() : QMargins();
    };
    if (window) {
        // Some platforms know the frame as soon as the native window exists, before it is shown.
        const_cast<QWidget *>(window)->winId();
        if (!marginsOf(window).isNull())
            return marginsOf(window);
    }
    const QWidget *active = QApplication::activeWindow();
    if (active && active != window && active->isVisible() && !marginsOf(active).isNull())
        return marginsOf(active);
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other != window && other->isVisible() && !marginsOf(other).isNull())
            return marginsOf(other);
    }
    return QMargins();
}

QPoint centredFrame(const QRect &area, const QSize &clientSize, const QMargins &frame, bool keepInside)
{
    const QSize outer = clientSize.grownBy(frame);
    if (keepInside)
        return {area.x() + std::max(0, (area.width() - outer.width()) / 2),
                area.y() + std::max(0, (area.height() - outer.height()) / 2)};
    return {area.x() + area.width() / 2 - outer.width() / 2,
            area.y() + area.height() / 2 - outer.height() / 2};
}

QRect primaryScreenArea()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    return QRect(0, 0, 640, 480);
}

void placeByFrame(QWidget *window, const std::function<QPoint(const QMargins &)> &place)
{
    const QMargins expected = expectedFrameMargins(window);
    window->move(place(expected)); // move() places the frame
    if (!window->windowHandle())
        return;
    // The frame is known only after the window manager has framed the window, a moment after it
    // is shown; look a few times, then give up (some platforms draw no frame at all).
    auto *check = new QTimer(window);
    check->setInterval(20);
    auto remaining = std::make_shared<int>(25);
    QObject::connect(check, &QTimer::timeout, window, [window, check, expected, place, remaining] {
        if (!window->isVisible() || --*remaining < 0) {
            check->deleteLater();
            return;
        }
        const QMargins actual = window->windowHandle()->frameMargins();
        if (actual.isNull())
            return; // not framed yet
        if (actual != expected)
            window->move(place(actual));
        check->deleteLater();
    });
    check->start();
}

void centreOnScreen(QWidget *window, bool keepInside)
{
    placeByFrame(window, [window, keepInside](const QMargins &frame) {
        return centredFrame(primaryScreenArea(), window->size(), frame, keepInside);
    });
}

} // namespace windowplacement

namespace {
// How long to wait for the window manager to tell the frame before taking the window as it is.
constexpr int frameWaitMs = 1500;
constexpr int coordinateLimit = 32767;
} // namespace

OuterBounds::OuterBounds(QWidget *window, bool positionsKnown)
    : QObject(window), window_(window), positionsKnown_(positionsKnown),
      requested_(QPoint(0, 0), window->size())
{
    frameTimer_ = new QTimer(this);
    frameTimer_->setSingleShot(true);
    frameTimer_->setInterval(frameWaitMs);
    connect(frameTimer_, &QTimer::timeout, this, [this] { settleFrame(); });
    window_->installEventFilter(this);
}

int OuterBounds::clampedPosition(int value)
{
    return qBound(-coordinateLimit - 1, value, coordinateLimit);
}

int OuterBounds::clampedSize(int value)
{
    return qBound(0, value, coordinateLimit);
}

QRect OuterBounds::outer() const
{
    if (!frameKnown_) {
        QRect outer = requested_;
        if (window_->isVisible()) { // a coordinate not given is where the window system put the window
            if (!leftGiven_)
                outer.moveLeft(window_->frameGeometry().left());
            if (!topGiven_)
                outer.moveTop(window_->frameGeometry().top());
        }
        return outer;
    }
    if (window_->isMinimized() && lastNormal_.isValid())
        return lastNormal_;
    return shownOuter();
}

std::optional<int> OuterBounds::top() const
{
    if (!positionsKnown_)
        return topGiven_ ? std::optional<int>(requested_.top()) : std::nullopt;
    return outer().top();
}

std::optional<int> OuterBounds::left() const
{
    if (!positionsKnown_)
        return leftGiven_ ? std::optional<int>(requested_.left()) : std::nullopt;
    return outer().left();
}

QRect OuterBounds::shownOuter() const
{
    // Right after maximising, the toolkit may still hold the frame of the normal window (borders that
    // the maximised window no longer has) and place the frame a pixel outside the screen. A
    // maximised window never reaches beyond the work area of its screen.
    if (window_->isMaximized() && window_->screen())
        return window_->frameGeometry().intersected(window_->screen()->availableGeometry());
    return window_->frameGeometry();
}

void OuterBounds::apply(const QRect &outer)
{
    if (!frameKnown_) {
        requested_ = outer;
        // move() places the frame. With one coordinate given the other is the window system's
        // choice, known only once it has placed the window (settleFrame).
        if (topGiven_ && leftGiven_ && positionsKnown_)
            window_->move(outer.topLeft());
        window_->resize(outer.size()); // corrected by the frame's size once it is known
        return;
    }
    if (window_->isMaximized() || window_->isMinimized())
        window_->showNormal();
    const QSize frameExtra = window_->frameGeometry().size() - window_->geometry().size();
    if (positionsKnown_)
        window_->move(outer.topLeft());
    window_->resize(outer.size() - frameExtra);
}

void OuterBounds::setTop(int value)
{
    QRect bounds = outer();
    bounds.moveTop(clampedPosition(value));
    topGiven_ = true;
    apply(bounds);
    requested_.moveTop(bounds.top());
}

void OuterBounds::setLeft(int value)
{
    QRect bounds = outer();
    bounds.moveLeft(clampedPosition(value));
    leftGiven_ = true;
    apply(bounds);
    requested_.moveLeft(bounds.left());
}

void OuterBounds::setWidth(int value)
{
    QRect bounds = outer();
    bounds.setWidth(clampedSize(value));
    apply(bounds);
}

void OuterBounds::setHeight(int value)
{
    QRect bounds = outer();
    bounds.setHeight(clampedSize(value));
    apply(bounds);
}

void OuterBounds::settleFrame()
{
    if (frameKnown_ || !window_->isVisible())
        return;
    frameTimer_->stop();
    frameKnown_ = true;
    const QSize frameExtra = window_->frameGeometry().size() - window_->geometry().size();
    window_->resize(requested_.size() - frameExtra);
    if ((topGiven_ || leftGiven_) && positionsKnown_) {
        const QPoint placed = window_->frameGeometry().topLeft();
        const QPoint wanted(leftGiven_ ? requested_.left() : placed.x(),
                            topGiven_ ? requested_.top() : placed.y());
        if (placed != wanted)
            window_->move(wanted);
    }
    lastNormal_ = QRect(window_->frameGeometry().topLeft(), requested_.size());
}

bool OuterBounds::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        if (!frameKnown_ && !frameTimer_->isActive()) {
            // Without a window manager (or offscreen) there is no frame to wait for.
            const bool framed =
                window_->windowHandle() && QGuiApplication::platformName() == QLatin1String("xcb");
            if (framed)
                frameTimer_->start();
            else
                QTimer::singleShot(0, this, [this] { settleFrame(); });
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
        if (!frameKnown_ && window_->isVisible() &&
            window_->frameGeometry().size() != window_->geometry().size())
            settleFrame();
        if (frameKnown_ && !window_->isMinimized() && !window_->isMaximized())
            lastNormal_ = window_->frameGeometry();
        break;
    case QEvent::WindowStateChange:
        if (window_->isMaximized() && frameKnown_)
            lastNormal_ = shownOuter();
        break;
    default:
        break;
    }
    return false;
}
