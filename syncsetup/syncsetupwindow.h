#pragma once

#include "sync/remotefactory.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QTimer>

#include <memory>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;

// The sync's setup in a window: the server's address, the user name and password; 接続 finds the
// account's address books (in a thread of its own, so that キャンセル and the time limit can end
// it); one choice per list among the books found or 同期しない. OK stores the password in the
// desktop's keyring and writes PorAddrSync.ini into the lists' folder; キャンセル writes nothing.
// Where no keyring exists, the window says so and takes a password command instead. A server whose
// certificate is not trusted, or plain http to another machine, is refused with the reason; a
// check box then lets the user trust that certificate (by its fingerprint) or go without
// encryption, for the next 接続 and for the file.
class SyncSetupWindow : public QDialog {
    Q_OBJECT
public:
    // dir: the lists' folder, with a trailing "/"; what its PorAddrSync.ini holds is shown first.
    explicit SyncSetupWindow(const QString &dir, QWidget *parent = nullptr);
    ~SyncSetupWindow() override;

    // How long finding the books may take in all before it is given up (default 30 s).
    void setConnectTimeLimit(int milliseconds) { timeLimitMs_ = milliseconds; }
    bool isConnecting() const { return thread_ != nullptr; }

public slots:
    void connectToServer();
    void cancelConnecting();
    void accept() override;
    void reject() override;

signals:
    void connectFinished(); // the books are listed, or the window says why not

private:
    struct Attempt;

    void finishConnecting();
    void setStatus(const QString &text, const QString &detail = QString());
    void setBusy(bool busy);
    void growToFit();
    void fillChoices();
    void forgetBooks();
    QString messageFor(const carddav::Result &result) const;
    void offerChoices(const carddav::Result &result, const QString &url);

    QString dir_;
    SyncConfig config_;
    QLineEdit *serverEdit_;
    QLineEdit *userEdit_;
    QLineEdit *passwordEdit_;
    QLabel *commandLabel_;
    QLineEdit *commandEdit_;
    QPushButton *connectButton_;
    QCheckBox *trustCheck_;     // shown where the server's certificate was refused
    QCheckBox *plainHttpCheck_; // shown where plain http to another machine was refused
    QLabel *statusLabel_;
    QComboBox *listCombos_[2];
    QDialogButtonBox *buttons_;
    QPushButton *okButton_;
    bool keyringAvailable_ = false;
    QList<AddressBookInfo> books_;
    QString booksUrl_; // the address the books were found at
    // What the books were found with: the certificate trusted and whether plain http was allowed.
    QString booksTrusted_;
    bool booksPlainHttp_ = false;
    // The certificate refused last and the server that showed it: what trustCheck_ trusts.
    QString offeredFingerprint_;
    QString offeredUrl_;
    QThread *thread_ = nullptr;
    std::shared_ptr<Attempt> attempt_;
    QTimer deadline_;
    int timeLimitMs_ = 30000;
};
