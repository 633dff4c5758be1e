#include "app/spinedit.h"

#include "store/integertext.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <limits>

namespace {
const int firstRepeatMs = 400;
const int repeatMs = 100;

// Screen readers meet the field as a spin box whose value is the one the dialog reads back; its
// typing area and arrow buttons are its children.
class AccessibleSpinEdit : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit AccessibleSpinEdit(TSpinEdit *field) : QAccessibleWidget(field, QAccessible::SpinBox) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return field()->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return field()->Value(); }
    void setCurrentValue(const QVariant &value) override { field()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return field()->MaxValue; }
    QVariant minimumValue() const override { return field()->MinValue; }
    QVariant minimumStepSize() const override { return field()->Increment; }

private:
    TSpinEdit *field() const { return static_cast<TSpinEdit *>(widget()); }
};

QAccessibleInterface *accessibleSpinEdit(const QString &className, QObject *object)
{
    if (className == QLatin1String("TSpinEdit") && object && object->isWidgetType())
        return new AccessibleSpinEdit(static_cast<TSpinEdit *>(object));
    return nullptr;
}

void installAccessibleSpinEdit()
{
    QAccessible::installFactory(accessibleSpinEdit);
}
} // namespace

Q_COREAPP_STARTUP_FUNCTION(installAccessibleSpinEdit)

TSpinEdit::TSpinEdit(QWidget *parent) : QWidget(parent)
{
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("SpinText"));
    edit_->setTextMargins(0, 0, ButtonWidth + TextGap, 0);
    // An input method should offer digits; what it commits still passes the typing filter.
    edit_->setInputMethodHints(Qt::ImhDigitsOnly | Qt::ImhPreferNumbers);
    edit_->installEventFilter(this);
    // Not ClickFocus: a press on an arrow button would otherwise hand the focus over before the
    // button sees the press, and the text would not get selected as it should.
    setFocusPolicy(Qt::TabFocus);
    setFocusProxy(edit_);
    setAttribute(Qt::WA_InputMethodEnabled);

    auto makeButton = [this](Qt::ArrowType arrow, const QString &name, int direction) {
        auto *button = new QToolButton(this);
        button->setObjectName(name);
        button->setArrowType(arrow);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::ArrowCursor);
        button->installEventFilter(this);
        // clicked comes only when the release happens over the button.
        connect(button, &QToolButton::clicked, this, [this, direction] { step(direction); });
        return button;
    };
    up_ = makeButton(Qt::UpArrow, QStringLiteral("UpButton"), +1);
    down_ = makeButton(Qt::DownArrow, QStringLiteral("DownButton"), -1);
    up_->setAccessibleName(QStringLiteral("増やす"));
    down_->setAccessibleName(QStringLiteral("減らす"));
    connect(edit_, &QLineEdit::textChanged, this, [this] {
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent changed(this, Value());
            QAccessible::updateAccessibility(&changed);
        }
    });

    repeat_ = new QTimer(this);
    repeat_->setTimerType(Qt::PreciseTimer);
    connect(repeat_, &QTimer::timeout, this, &TSpinEdit::repeatStep);

    setValue(0);
}

int TSpinEdit::Value() const
{
    const std::optional<qint32> value = parseIntegerText(edit_->text());
    return value ? *value : MinValue;
}

void TSpinEdit::setValue(int value)
{
    if (MaxValue != MinValue) {
        if (value < MinValue)
            value = MinValue;
        else if (value > MaxValue)
            value = MaxValue;
    }
    edit_->setText(QString::number(value));
}

void TSpinEdit::setAccessibleName(const QString &name)
{
    QWidget::setAccessibleName(name);
    edit_->setAccessibleName(name);
}

QString TSpinEdit::text() const
{
    return edit_->text();
}

void TSpinEdit::setText(const QString &text)
{
    edit_->setText(text);
}

void TSpinEdit::step(int direction)
{
    const qint64 next = qint64(Value()) + qint64(direction) * Increment;
    const qint64 bounded =
        std::clamp<qint64>(next, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    setValue(int(bounded));
}

void TSpinEdit::repeatStep()
{
    repeat_->setInterval(repeatMs);
    // While the pointer is off the button it is drawn raised and does not step; coming back resumes.
    if (held_ && held_->isDown())
        step(held_ == up_ ? +1 : -1);
}

bool TSpinEdit::acceptsTyped(const QString &text) const
{
    QString rest = text;
    rest.remove(QLocale::system().decimalPoint());
    for (const QChar c : rest) {
        const char16_t code = c.unicode();
        const bool digit = code >= u'0' && code <= u'9';
        const bool control = (code < 32 && code != u'\r' && code != u'\n') || code == 0x7F;
        if (!digit && code != u'+' && code != u'-' && !control)
            return false;
    }
    return true;
}

void TSpinEdit::refuse()
{
    QApplication::beep();
    emit keyRefused();
}

void TSpinEdit::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    edit_->setGeometry(rect());
    const int frame =
        edit_->hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit_) : 0;
    const QRect inside = rect().adjusted(frame, frame, -frame, -frame);
    const int upHeight = inside.height() / 2;
    const int left = inside.right() + 1 - ButtonWidth;
    up_->setGeometry(left, inside.top(), ButtonWidth, upHeight);
    down_->setGeometry(left, inside.top() + upHeight, ButtonWidth, inside.height() - upHeight);
}

bool TSpinEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edit_) {
        switch (event->type()) {
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
            if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) && mods == Qt::NoModifier) {
                step(key->key() == Qt::Key_Up ? +1 : -1);
                return true;
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                refuse();
                return true;
            }
            // Keys held with Ctrl, Alt or Meta are commands (paste, select all), not typing.
            const bool command = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
            if (!command && !key->text().isEmpty() && !acceptsTyped(key->text())) {
                refuse();
                return true;
            }
            break;
        }
        case QEvent::InputMethod: {
            auto *input = static_cast<QInputMethodEvent *>(event);
            if (!input->commitString().isEmpty() && !acceptsTyped(input->commitString())) {
                input->setCommitString(QString());
                refuse();
            }
            break;
        }
        case QEvent::FocusOut: {
            // Only leaving for another control counts; a window switch or a context menu is no exit.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                const int value = Value();
                if (value < MinValue || value > MaxValue)
                    setValue(value);
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

    if (watched == up_ || watched == down_) {
        auto *button = static_cast<QToolButton *>(watched);
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && button->isEnabled()) {
                if (!edit_->hasFocus()) {
                    edit_->setFocus(Qt::OtherFocusReason);
                    edit_->selectAll();
                }
                held_ = button;
                repeat_->start(firstRepeatMs);
            }
        } else if (event->type() == QEvent::MouseButtonRelease) {
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                repeat_->stop();
                held_ = nullptr;
            }
        } else if (event->type() == QEvent::Hide || event->type() == QEvent::EnabledChange) {
            repeat_->stop();
            held_ = nullptr;
        }
    }
    return QWidget::eventFilter(watched, event);
}
