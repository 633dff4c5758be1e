#pragma once

#include "widgets/tcolor.h"

#include <QLabel>

class QEnterEvent;
class QMouseEvent;

// A text label that behaves as a hyperlink: the hand pointer, a font colour that follows the
// pointer (HotColor over it, PushedColor while a button is down on it) and, when Executable is
// set, its caption handed to ShellOpen on every button press.
class TURLLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool Executable MEMBER Executable)
    Q_PROPERTY(bool HotTrack READ HotTrack WRITE setHotTrack)
    Q_PROPERTY(TColor HotColor READ HotColor WRITE setHotColor)
    Q_PROPERTY(TColor PushedColor READ PushedColor WRITE setPushedColor)

public:
    explicit TURLLabel(QWidget *owner = nullptr);

    // A plain switch: setting it has no other effect.
    bool Executable = false;

    bool HotTrack() const { return hotTrack_; }
    TColor HotColor() const { return hotColor_; }
    TColor PushedColor() const { return pushedColor_; }
    // These only store the value (and repaint when it differs); the colour on screen changes at
    // the next pointer or button event.
    void setHotTrack(bool value);
    void setHotColor(TColor value);
    void setPushedColor(TColor value);

    // The font colour now shown (as the palette's text colour); hot tracking changes it. Set by the
    // owner before the pointer first enters, it is also the colour the label goes back to.
    TColor fontColor() const { return fontColor_; }
    void setFontColor(TColor color);

    // What a press does besides the colours: the caption to ShellOpen when Executable is set. A
    // screen reader's "open link" comes here too. Screen readers see the label as a link named by
    // its address.
    void openCaption();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

    // Where the pointer is now, in screen coordinates; a release is judged by this, not by the
    // position carried in the event.
    virtual QPoint pointerPosition() const;

private:
    void buttonDown();
    void showFontColor(TColor color);
    void applyFontColor();

    bool hotTrack_ = true;
    // The colour to go back to when the pointer leaves: taken on entering; until then the label's
    // own font colour, so that a release outside before any entering keeps the label as it was.
    TColor SavedColor = clWindowText;
    bool savedOnEnter_ = false;
    TColor hotColor_ = clAqua;
    TColor pushedColor_ = clRed;
    TColor fontColor_ = clWindowText;
};
