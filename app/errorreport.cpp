#include "app/errorreport.h"

#include "app/apptitle.h"
#include "app/messageform.h"
#include "store/cp932.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {

// The first byte the character has in CP932. A character CP932 cannot hold would reach the old
// ANSI message box as "?", so it counts as that.
int firstCp932Byte(const QString &character)
{
    if (character.size() == 1 && character.at(0).unicode() < 0x80)
        return character.at(0).unicode();
    const std::optional<QByteArray> bytes = cp932::encode(character);
    if (!bytes || bytes->isEmpty())
        return '?';
    return static_cast<unsigned char>(bytes->at(0));
}

} // namespace

QString errorReportText(const QString &text)
{
    if (text.isEmpty())
        return text;
    qsizetype last = text.size() - 1;
    if (last > 0 && text.at(last).isLowSurrogate() && text.at(last - 1).isHighSurrogate())
        --last;
    if (firstCp932Byte(text.mid(last)) > 0x2E)
        return text + QLatin1Char('.');
    return text;
}

void ReportError(const QString &text)
{
    // A control that holds the mouse would keep it while the box is up and act on the release after.
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();

    const QString shown = errorReportText(text);
    if (const MessageAnswerer &answerer = currentMessageAnswerer()) {
        MessageRequest request;
        request.kind = MessageRequest::Kind::ErrorBox;
        request.title = applicationTitle();
        request.text = shown;
        request.type = MsgDlgType::Error;
        request.buttons = MsgDlgBtn::OK;
        answerer(request);
        return;
    }

    const QPointer<QWidget> previouslyActive = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, applicationTitle(), shown, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // a path with "<" in it must not turn the text into markup
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (previouslyActive && previouslyActive->isVisible())
        previouslyActive->activateWindow();
}
