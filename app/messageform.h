#pragma once

#include "widgets/modalresult.h"

#include <QDialog>
#include <QFlags>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QPushButton;

// Message dialogs built by our own layout rules, and the one seam through which tests answer them
// (and the error box) without a window.

enum class MsgDlgType { Warning, Error, Information, Confirmation, Custom };

enum class MsgDlgBtn { Yes = 0x1, No = 0x2, OK = 0x4 };
Q_DECLARE_FLAGS(MsgDlgButtons, MsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(MsgDlgButtons)

class TMessageForm : public QDialog {
    Q_OBJECT
public:
    TMessageForm(const QString &text, MsgDlgType type, MsgDlgButtons buttons, QWidget *parent = nullptr);

    QLabel *Message = nullptr; // the text
    QLabel *Image = nullptr;   // the icon; null for the plain kind
    QList<QPushButton *> buttons() const { return buttons_; }
    QPushButton *button(MsgDlgBtn which) const;

    QPushButton *defaultButton() const { return defaultButton_; }
    QPushButton *cancelButton() const { return cancelButton_; }

    // The sizes the layout was derived from, kept for inspection.
    struct Metrics {
        int charWidth = 0, charHeight = 0; // X and Y: the font's average letter width and its height
        int buttonWidth = 0, buttonHeight = 0;
        QSize textSize; // W x H of the wrapped text
    };
    const Metrics &metrics() const { return metrics_; }

    // Places the dialog in the middle of the primary screen by its outer size.
    void centreOnScreen();

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QList<QPushButton *> buttons_;
    QPushButton *defaultButton_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
    Metrics metrics_;
};

// The text as the dialog lays it out: broken into lines no wider than maxWidth, at word breaks where
// a line has one and between characters where it has none (Japanese text, overlong words).
QStringList wrapMessageText(const QString &text, const QFont &font, int maxWidth);

// Builds, shows modally and destroys a message dialog; returns the result of the button pressed,
// or ModalResult::Cancel (2) when it was closed by its close box.
ModalResult MessageDialog(const QString &text, MsgDlgType type, MsgDlgButtons buttons, int helpContext);

// MessageDialog with the plain kind (the application title as caption) and OK alone.
void PlainMessage(const QString &text);

// What a test sees of a message about to be shown.
struct MessageRequest {
    enum class Kind { Dialog, ErrorBox };
    Kind kind = Kind::Dialog;
    QString title;
    QString text;
    MsgDlgType type = MsgDlgType::Custom;
    MsgDlgButtons buttons;
};

// While an answerer is installed no window is shown: it receives the request and returns the
// result. Returns the answerer in force before; an empty one restores the real dialogs.
using MessageAnswerer = std::function<ModalResult(const MessageRequest &)>;
MessageAnswerer setMessageAnswerer(MessageAnswerer answerer);
// The answerer in force, empty when real windows are shown; the error report asks it too.
const MessageAnswerer &currentMessageAnswerer();

// The caption a message dialog of this kind carries.
QString messageTitle(MsgDlgType type);
