#pragma once

#include "widgets/modalresult.h"

#include <QDialog>
#include <QMargins>

class QFrame;
class QKeyEvent;
class QLabel;
class QPushButton;
class TURLLabel;

// The About box: the program's name and edition, the credits with their links, and the machine's
// physical memory and memory load, taken when the box is built. Build a new one for each showing:
//     TAboutDlg dlg(this);
//     dlg.exec();
// exec() returns 1 for OK (click, Enter, Space) and 2 for the close box; Escape does nothing.
class TAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit TAboutDlg(QWidget *owner = nullptr);

    QPushButton *OKBtn = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QFrame *Bevel1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *PhysMem = nullptr;
    QLabel *FreeRes = nullptr;
    TURLLabel *AuthorURL = nullptr;
    TURLLabel *AuthorMail = nullptr;
    QLabel *Label6 = nullptr;
    TURLLabel *URLLabel1 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label8 = nullptr;
    TURLLabel *URLLabel2 = nullptr;

    // exec() gives ModalResult::Ok for OK, ModalResult::Cancel for the close box (and reject()).

    void setVisible(bool visible) override;

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate();
};
