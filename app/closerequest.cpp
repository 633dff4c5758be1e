#include "app/closerequest.h"

#include "app/AddrMain.h"
#include "widgets/modalresult.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

namespace {

// Closes popups and ends modal windows, innermost first. Every modal window of the program is a
// dialog, whose close box gives Cancel; each one ended is hidden at once, so the next one comes up.
void endModalWindows()
{
    while (QWidget *popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            break;
    }
    for (int guard = 0; guard < 100; ++guard) {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->done(int(ModalResult::Cancel));
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            return; // it would not go: the close request will meet it as a window meets any other
    }
}

} // namespace

OutsideCloseRequest::OutsideCloseRequest(TMainForm &form, QObject *parent) : QObject(parent), form_(form) {}

void OutsideCloseRequest::request()
{
    if (pending_ || form_.isClosing())
        return;
    pending_ = true;
    endModalWindows();
    // The modal windows' own event loops return first, so the commands that opened them finish
    // with their "cancelled" result before the lists are saved.
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        form_.close();
    });
}
