#include "app/messageform.h"

#include "app/apptitle.h"
#include "widgets/muldiv.h"
#include "widgets/windowplacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

struct ButtonInfo {
    MsgDlgBtn button;
    const char *name;    // object name, as the toolkit names its buttons
    const char *caption; // UTF-8
    ModalResult result;
};

// Left-to-right order of the buttons in a dialog.
const ButtonInfo buttonTable[] = {
    {MsgDlgBtn::Yes, "Yes", "はい(&Y)", ModalResult::Yes},
    {MsgDlgBtn::No, "No", "いいえ(&N)", ModalResult::No},
    {MsgDlgBtn::OK, "OK", "OK", ModalResult::Ok},
};

const int iconSize = 32;

// A caption is measured with the font of the first dialog that shows it and the width is reused for
// the rest of the run, so a later font change does not resize the buttons.
int captionWidth(MsgDlgBtn button, const QString &caption, const QFontMetrics &metrics)
{
    static std::map<MsgDlgBtn, int> widths;
    auto found = widths.find(button);
    if (found == widths.end()) {
        const int width =
            metrics.boundingRect(QRect(), Qt::TextSingleLine | Qt::TextShowMnemonic, caption).width();
        found = widths.emplace(button, width).first;
    }
    return found->second;
}

QStyle::StandardPixmap iconOf(MsgDlgType type, bool *hasIcon)
{
    *hasIcon = true;
    switch (type) {
    case MsgDlgType::Warning:
        return QStyle::SP_MessageBoxWarning;
    case MsgDlgType::Error:
        return QStyle::SP_MessageBoxCritical;
    case MsgDlgType::Information:
        return QStyle::SP_MessageBoxInformation;
    case MsgDlgType::Confirmation:
        return QStyle::SP_MessageBoxQuestion;
    case MsgDlgType::Custom:
        break;
    }
    *hasIcon = false;
    return QStyle::SP_CustomBase;
}

MessageAnswerer &answererSlot()
{
    static MessageAnswerer answerer;
    return answerer;
}

} // namespace

QStringList wrapMessageText(const QString &text, const QFont &font, int maxWidth)
{
    QStringList lines;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (QString paragraph : text.split(QLatin1Char('\n'))) {
        if (paragraph.endsWith(QLatin1Char('\r')))
            paragraph.chop(1);
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        QStringList paragraphLines;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(maxWidth);
            paragraphLines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        // A break at a blank leaves the blank at the end of the line; drawn, it would widen the line.
        for (qsizetype i = 0; i + 1 < paragraphLines.size(); ++i) {
            QString &line = paragraphLines[i];
            while (!line.isEmpty() && line.back().isSpace())
                line.chop(1);
        }
        if (paragraphLines.isEmpty())
            paragraphLines << QString();
        lines += paragraphLines;
    }
    return lines;
}

QString messageTitle(MsgDlgType type)
{
    switch (type) {
    case MsgDlgType::Warning:
        return QStringLiteral("警告");
    case MsgDlgType::Error:
        return QStringLiteral("ｴﾗｰ");
    case MsgDlgType::Information:
        return QStringLiteral("情報");
    case MsgDlgType::Confirmation:
        return QStringLiteral("確認");
    case MsgDlgType::Custom:
        break;
    }
    return applicationTitle();
}

TMessageForm::TMessageForm(const QString &text, MsgDlgType type, MsgDlgButtons buttons, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const QFont messageFont = QApplication::font("QMessageBox");
    setFont(messageFont);
    const QFontMetrics metrics(messageFont);

    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QRect lettersRect = metrics.boundingRect(QRect(), Qt::TextSingleLine, letters);
    const int x = lettersRect.width() / 52;
    const int y = lettersRect.height();

    const int horzMargin = MulDiv(8, x, 4);
    const int vertMargin = MulDiv(8, y, 8);
    const int horzSpacing = MulDiv(10, x, 4);
    const int vertSpacing = MulDiv(10, y, 8);
    const int buttonHeight = MulDiv(14, y, 8);
    const int buttonSpacing = MulDiv(4, x, 4);
    int buttonWidth = MulDiv(50, x, 4);
    int buttonCount = 0;
    for (const ButtonInfo &info : buttonTable) {
        if (!buttons.testFlag(info.button))
            continue;
        ++buttonCount;
        const int needed = captionWidth(info.button, QString::fromUtf8(info.caption), metrics) + 8;
        buttonWidth = std::max(buttonWidth, needed);
    }

    const QRect screen = windowplacement::primaryScreenArea();
    const QString wrapped = wrapMessageText(text, messageFont, screen.width() / 2).join(QLatin1Char('\n'));
    const QRect textRect =
        text.isEmpty() ? QRect() : metrics.boundingRect(QRect(), Qt::AlignLeft | Qt::TextExpandTabs, wrapped);
    const int textWidth = textRect.width();
    const int textHeight = textRect.height();

    bool hasIcon = false;
    const QStyle::StandardPixmap icon = iconOf(type, &hasIcon);
    int textBlockWidth = textWidth, textBlockHeight = textHeight;
    if (hasIcon) {
        textBlockWidth = textWidth + iconSize + horzSpacing;
        textBlockHeight = std::max(textHeight, iconSize);
    }
    const int groupWidth = buttonCount * buttonWidth + std::max(buttonCount - 1, 0) * buttonSpacing;
    const int clientWidth = std::max(textBlockWidth, groupWidth) + 2 * horzMargin;
    const int clientHeight = textBlockHeight + buttonHeight + vertSpacing + 2 * vertMargin;
    setFixedSize(clientWidth, clientHeight);

    setWindowTitle(messageTitle(type));

    if (hasIcon) {
        Image = new QLabel(this);
        Image->setObjectName(QStringLiteral("Image"));
        Image->setPixmap(style()->standardIcon(icon, nullptr, this).pixmap(iconSize, iconSize));
        Image->setGeometry(horzMargin, vertMargin, iconSize, iconSize);
    }

    // The lines are broken here rather than by the label, so the label draws exactly what was measured.
    Message = new QLabel(this);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setTextFormat(Qt::PlainText);
    Message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Message->setText(wrapped);
    Message->setGeometry(textBlockWidth - textWidth + horzMargin, vertMargin, textWidth, textHeight);

    int left = (clientWidth - groupWidth) / 2;
    const int top = textBlockHeight + vertMargin + vertSpacing;
    for (const ButtonInfo &info : buttonTable) {
        if (!buttons.testFlag(info.button))
            continue;
        auto *button = new QPushButton(QString::fromUtf8(info.caption), this);
        button->setObjectName(QString::fromLatin1(info.name));
        button->setGeometry(left, top, buttonWidth, buttonHeight);
        const ModalResult result = info.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(int(result)); });
        buttons_ << button;
        left += buttonWidth + buttonSpacing;
    }

    defaultButton_ = button(MsgDlgBtn::OK) ? button(MsgDlgBtn::OK) : button(MsgDlgBtn::Yes);
    cancelButton_ = button(MsgDlgBtn::No) ? button(MsgDlgBtn::No) : button(MsgDlgBtn::OK);
    if (defaultButton_)
        defaultButton_->setDefault(true);
    if (!buttons_.isEmpty())
        buttons_.first()->setFocus(Qt::OtherFocusReason);

    metrics_.charWidth = x;
    metrics_.charHeight = y;
    metrics_.buttonWidth = buttonWidth;
    metrics_.buttonHeight = buttonHeight;
    metrics_.textSize = QSize(textWidth, textHeight);
}

QPushButton *TMessageForm::button(MsgDlgBtn which) const
{
    for (const ButtonInfo &info : buttonTable) {
        if (info.button != which)
            continue;
        for (QPushButton *candidate : buttons_) {
            if (candidate->objectName() == QLatin1String(info.name))
                return candidate;
        }
    }
    return nullptr;
}

void TMessageForm::centreOnScreen()
{
    windowplacement::centreOnScreen(this);
}

void TMessageForm::reject()
{
    done(int(ModalResult::Cancel));
}

void TMessageForm::keyPressEvent(QKeyEvent *event)
{
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && event->key() == Qt::Key_Escape) {
        if (cancelButton_)
            cancelButton_->click();
        return;
    }
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        if (!focused || !buttons_.contains(focused))
            focused = defaultButton_;
        if (focused)
            focused->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TMessageForm::closeEvent(QCloseEvent *event)
{
    if (isVisible())
        done(int(ModalResult::Cancel));
    event->accept();
}

ModalResult MessageDialog(const QString &text, MsgDlgType type, MsgDlgButtons buttons, int helpContext)
{
    Q_UNUSED(helpContext) // the program has no help file
    if (const MessageAnswerer &answerer = answererSlot()) {
        MessageRequest request;
        request.kind = MessageRequest::Kind::Dialog;
        request.title = messageTitle(type);
        request.text = text;
        request.type = type;
        request.buttons = buttons;
        return answerer(request);
    }
    TMessageForm form(text, type, buttons);
    form.setWindowModality(Qt::ApplicationModal);
    form.centreOnScreen();
    const int result = form.exec();
    return result == 0 ? ModalResult::Cancel : ModalResult(result);
}

void PlainMessage(const QString &text)
{
    MessageDialog(text, MsgDlgType::Custom, MsgDlgBtn::OK, 0);
}

MessageAnswerer setMessageAnswerer(MessageAnswerer answerer)
{
    MessageAnswerer previous = std::move(answererSlot());
    answererSlot() = std::move(answerer);
    return previous;
}

const MessageAnswerer &currentMessageAnswerer()
{
    return answererSlot();
}
