#include "widgets/URLLabel.h"

#include "platform/shellopen.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QUrl>

namespace {
// Screen readers meet the label as a link named by its address; its default action opens the
// address as a press on the label does.
class AccessibleURLLabel : public QAccessibleWidget {
public:
    explicit AccessibleURLLabel(TURLLabel *label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override
    {
        if ((kind == QAccessible::Name && label()->accessibleName().isEmpty()) || kind == QAccessible::Value)
            return label()->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        return state;
    }
    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (label()->Executable)
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString &name) override
    {
        if (name == pressAction())
            label()->openCaption();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    TURLLabel *label() const { return static_cast<TURLLabel *>(widget()); }
};

QAccessibleInterface *accessibleURLLabel(const QString &className, QObject *object)
{
    if (className == QLatin1String("TURLLabel") && object && object->isWidgetType())
        return new AccessibleURLLabel(static_cast<TURLLabel *>(object));
    return nullptr;
}

void installAccessibleURLLabel()
{
    QAccessible::installFactory(accessibleURLLabel);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(installAccessibleURLLabel)

TURLLabel::TURLLabel(QWidget *owner) : QLabel(owner)
{
    // The caption is an address to show as it is, never markup.
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

void TURLLabel::setHotTrack(bool value)
{
    if (hotTrack_ == value)
        return;
    hotTrack_ = value;
    update();
}

void TURLLabel::setHotColor(TColor value)
{
    if (hotColor_ == value)
        return;
    hotColor_ = value;
    update();
}

void TURLLabel::setPushedColor(TColor value)
{
    if (pushedColor_ == value)
        return;
    pushedColor_ = value;
    update();
}

void TURLLabel::setFontColor(TColor color)
{
    if (!savedOnEnter_)
        SavedColor = color;
    showFontColor(color);
}

void TURLLabel::showFontColor(TColor color)
{
    fontColor_ = color;
    applyFontColor();
    update();
}

void TURLLabel::applyFontColor()
{
    QPalette colours = palette();
    colours.setColor(foregroundRole(), toQColor(fontColor_));
    setPalette(colours);
}

void TURLLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    // A system colour (the default clWindowText) follows the application's palette when it changes.
    if (event->type() == QEvent::ApplicationPaletteChange && (fontColor_ & 0x80000000))
        applyFontColor();
}

void TURLLabel::enterEvent(QEnterEvent *event)
{
    QLabel::enterEvent(event);
    if (!hotTrack_)
        return;
    SavedColor = fontColor_;
    savedOnEnter_ = true;
    showFontColor(hotColor_);
}

void TURLLabel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    if (hotTrack_)
        showFontColor(SavedColor);
}

void TURLLabel::buttonDown()
{
    if (hotTrack_)
        showFontColor(pushedColor_);
    // Any button opens, and so does the second press of a double click: the caption is opened
    // once per press.
    openCaption();
}

void TURLLabel::openCaption()
{
    if (Executable)
        ShellOpen(QUrl(text()));
}

void TURLLabel::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    event->accept();
    buttonDown();
}

void TURLLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click arrives as this event instead of a press; it is a press
    // all the same (a double click opens twice). Not passed on to the label's own handler, which
    // would treat it as a press once more.
    mousePressEvent(event);
}

void TURLLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    event->accept();
    if (!hotTrack_)
        return;
    const bool inside = rect().contains(mapFromGlobal(pointerPosition()));
    showFontColor(inside ? hotColor_ : SavedColor);
}

QPoint TURLLabel::pointerPosition() const
{
    return QCursor::pos();
}
