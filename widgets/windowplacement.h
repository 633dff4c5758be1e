#pragma once

#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>

class QTimer;
class QWidget;

// Placing top-level windows by their outer frame. A program asks for a frame position, but the
// frame itself is drawn by the window manager and becomes known only a moment after the window is
// first shown: a window is placed with the frame it can expect, and corrected once when the real
// one is known. Some platforms (Wayland) neither tell nor take window positions at all.
namespace windowplacement {

// Whether this platform reports where windows are and moves them when asked.
bool positionsKnown();

// The frame a top-level window will get from the window system. Before a window is first shown its
// own frame is unknown, so the frame of a window already on screen stands in for it.
QMargins expectedFrameMargins(const QWidget *window);

// The frame position that centres a window of this client size and frame on area; with
// keepInside the frame's top left corner stays within the area even when the window is larger.
QPoint centredFrame(const QRect &area, const QSize &clientSize, const QMargins &frame,
                    bool keepInside = false);

// The geometry of the primary screen (a fixed 640 x 480 where there is none).
QRect primaryScreenArea();

// Puts a top-level window where place() says for its frame, before it is shown. Where the frame
// turns out other than expected once the window system has framed the shown window, it is placed
// once more; after that the window stays wherever the user moves it.
void placeByFrame(QWidget *window, const std::function<QPoint(const QMargins &)> &place);

// Centres a top-level window's frame on the primary screen, by placeByFrame.
void centreOnScreen(QWidget *window, bool keepInside = false);

} // namespace windowplacement

// The outer bounds of a main window as its settings keep them: set one edge or size at a time
// before the window is shown, read back at close as the window last had them on screen (the
// maximised bounds when maximised, those from before minimising when minimised). Until the window
// manager has told the frame, the bounds asked for stand; a coordinate never given stays where the
// window system put the window. Where positions cannot be known, the ones given are kept as they
// were and none are made up.
class OuterBounds : public QObject {
    Q_OBJECT
public:
    // window: a top-level widget of designed client size; the bounds follow its events.
    explicit OuterBounds(QWidget *window, bool positionsKnown = windowplacement::positionsKnown());

    QRect outer() const;
    // Empty where positions cannot be known and none was given.
    std::optional<int> top() const;
    std::optional<int> left() const;
    void setTop(int value);
    void setLeft(int value);
    void setWidth(int value);
    void setHeight(int value);

    // The window system takes 16-bit positions and sizes (X11): stored values beyond are brought
    // within before any rectangle is built, so what the window has is what is written back.
    static int clampedPosition(int value);
    static int clampedSize(int value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QRect shownOuter() const;
    void apply(const QRect &outer);
    void settleFrame();

    QWidget *window_;
    bool positionsKnown_;
    QRect requested_; // until the frame is known, the outer bounds are what was asked for
    bool topGiven_ = false, leftGiven_ = false;
    bool frameKnown_ = false;
    QRect lastNormal_;
    QTimer *frameTimer_;
};
