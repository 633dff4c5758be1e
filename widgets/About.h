#pragma once

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

    QPushButton *OKBtn;
    QLabel *Image1;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QFrame *Bevel1;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *PhysMem;
    QLabel *FreeRes;
    TURLLabel *AuthorURL;
    TURLLabel *AuthorMail;
    QLabel *Label6;
    TURLLabel *URLLabel1;
    QLabel *Label7;
    QLabel *Label8;
    TURLLabel *URLLabel2;

    // The close box's result; also what reject() gives.
    static constexpr int closedResult = 2;

    void setVisible(bool visible) override;

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    void FormCreate();
    void placeBeforeShowing();
    QPoint centredFramePosition(const QMargins &frame) const;
    QMargins frameMargins() const;

    bool awaitingFrame_ = false;
};
