#include "syncsetup/syncsetupwindow.h"

#include "store/errors.h"
#include "sync/keyring.h"
#include "widgets/appearance.h"
#include "widgets/modalresult.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <mutex>

namespace {

QString ja(const char *text)
{
    return QString::fromUtf8(text);
}

// "host" or "host:port" of url, as the user wrote it.
QString serverName(const QString &url)
{
    const QUrl u(url);
    return u.port() < 0 ? u.host() : QStringLiteral("%1:%2").arg(u.host()).arg(u.port());
}

// A fingerprint of 64 hex digits as openssl and browsers show it (AB:CD:…), in two lines of 16
// bytes so that the window need not grow to hold it.
QString readableFingerprint(const QString &fingerprint)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < fingerprint.size(); i += 2)
        pairs.append(fingerprint.mid(i, 2).toUpper());
    const QStringList first = pairs.mid(0, 16), second = pairs.mid(16);
    return first.join(QLatin1Char(':')) +
           (second.isEmpty() ? QString() : QStringLiteral("\n") + second.join(QLatin1Char(':')));
}

// Why the TLS check refused the certificate, as Qt says it, from the client's message
// ("… not trusted (REASONS); its SHA-256 fingerprint is …", or "… has changed: … (REASONS)").
QString tlsReason(const QString &message)
{
    const QString notTrusted = QStringLiteral("not trusted (");
    const qsizetype from = message.indexOf(notTrusted);
    if (from >= 0) {
        const qsizetype start = from + notTrusted.size();
        const qsizetype end = message.indexOf(QLatin1String("); its SHA-256"), start);
        if (end > start)
            return message.mid(start, end - start);
    }
    if (message.contains(QLatin1String("has changed")) && message.endsWith(QLatin1Char(')'))) {
        const qsizetype open = message.lastIndexOf(QLatin1String(" ("));
        if (open >= 0)
            return message.mid(open + 2, message.size() - open - 3);
    }
    return QString();
}

} // namespace

// What the thread that finds the books shares with the window.
struct SyncSetupWindow::Attempt {
    std::mutex mutex;
    std::function<void()> cancel; // the connection's, while it works
    bool cancelled = false;
    bool timedOut = false;
    carddav::Result result;
    QList<AddressBookInfo> books;
};

SyncSetupWindow::SyncSetupWindow(const QString &dir, QWidget *parent)
    : QDialog(parent), dir_(dir), config_(syncconfig::load(dir))
{
    setWindowTitle(ja("ぽるてアドレス帳の同期設定"));
    setWindowIcon(programIcon());
    setFont(programFont());

    serverEdit_ = new QLineEdit(config_.url, this);
    serverEdit_->setObjectName(QStringLiteral("serverEdit"));
    serverEdit_->setPlaceholderText(QStringLiteral("https://example.jp/dav/"));
    userEdit_ = new QLineEdit(config_.user, this);
    userEdit_->setObjectName(QStringLiteral("userEdit"));
    passwordEdit_ = new QLineEdit(this);
    passwordEdit_->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit_->setEchoMode(QLineEdit::Password);
    commandEdit_ = new QLineEdit(config_.passwordCommand, this);
    commandEdit_->setObjectName(QStringLiteral("commandEdit"));
    connectButton_ = new QPushButton(ja("接続してアドレス帳を探す(&F)"), this);
    connectButton_->setObjectName(QStringLiteral("connectButton"));
    trustCheck_ = new QCheckBox(ja("この証明書を信頼する (指紋を確かめてから)(&T)"), this);
    trustCheck_->setObjectName(QStringLiteral("trustCertificateCheck"));
    trustCheck_->hide();
    plainHttpCheck_ = new QCheckBox(ja("暗号化せずにつなぐ (パスワードが平文で流れます)(&E)"), this);
    plainHttpCheck_->setObjectName(QStringLiteral("allowPlainHttpCheck"));
    plainHttpCheck_->hide();
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setWordWrap(true);
    // The fingerprint shown there is to be compared, and may be copied.
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (int l = 0; l < 2; ++l) {
        listCombos_[l] = new QComboBox(this);
        listCombos_[l]->setObjectName(QStringLiteral("list%1Combo").arg(l + 1));
    }
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton_ = buttons_->button(QDialogButtonBox::Ok);
    okButton_->setText(QStringLiteral("OK"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(ja("キャンセル"));

    auto *form = new QFormLayout;
    form->addRow(ja("サーバー(&S):"), serverEdit_);
    form->addRow(ja("ユーザー名(&U):"), userEdit_);
    form->addRow(ja("パスワード(&P):"), passwordEdit_);
    commandLabel_ = new QLabel(ja("パスワードのコマンド(&C):"), this);
    commandLabel_->setBuddy(commandEdit_);
    form->addRow(commandLabel_, commandEdit_);
    form->addRow(QString(), connectButton_);
    form->addRow(statusLabel_);
    form->addRow(trustCheck_);
    form->addRow(plainHttpCheck_);
    form->addRow(ja("一覧 1 (ぽるておともだち)(&1):"), listCombos_[0]);
    form->addRow(ja("一覧 2 (ぽるてなかま)(&2):"), listCombos_[1]);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons_);
    setMinimumWidth(420);

    // Without a keyring the password cannot be kept: a command that prints it takes its place.
    QString why;
    keyringAvailable_ = keyring::available(&why);
    // (isVisible() is false for everything until the window is shown: the choice is made here.)
    const bool askCommand = !keyringAvailable_ || !config_.passwordCommand.isEmpty();
    commandLabel_->setVisible(askCommand);
    commandEdit_->setVisible(askCommand);
    if (!keyringAvailable_)
        setStatus(ja("パスワードを保存するキーリング (GNOME Keyring や KWallet) がありません。"
                     "パスワードはファイルには書きません。パスワードを出すコマンドを指定してください。"),
                  why);

    connect(connectButton_, &QPushButton::clicked, this, &SyncSetupWindow::connectToServer);
    connect(buttons_, &QDialogButtonBox::accepted, this, &SyncSetupWindow::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &SyncSetupWindow::reject);
    for (QLineEdit *edit : {serverEdit_, userEdit_, passwordEdit_})
        connect(edit, &QLineEdit::textEdited, this, &SyncSetupWindow::forgetBooks);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (attempt_) {
            std::lock_guard<std::mutex> lock(attempt_->mutex);
            attempt_->timedOut = true;
        }
        cancelConnecting();
    });
    fillChoices();
}

SyncSetupWindow::~SyncSetupWindow()
{
    if (thread_) {
        cancelConnecting();
        thread_->wait();
        delete thread_;
    }
}

void SyncSetupWindow::setStatus(const QString &text, const QString &detail)
{
    statusLabel_->setText(text);
    statusLabel_->setToolTip(detail);
    growToFit();
}

// A longer message (a fingerprint, a reason) or a check box just shown needs more lines than the
// window had: it grows to show them whole, at the width the user gave it.
void SyncSetupWindow::growToFit()
{
    layout()->activate();
    const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                     : layout()->totalSizeHint().height();
    if (needed > height())
        resize(width(), needed);
}

void SyncSetupWindow::setBusy(bool busy)
{
    for (QWidget *w : {static_cast<QWidget *>(serverEdit_), static_cast<QWidget *>(userEdit_),
                       static_cast<QWidget *>(passwordEdit_), static_cast<QWidget *>(commandEdit_),
                       static_cast<QWidget *>(connectButton_), static_cast<QWidget *>(trustCheck_),
                       static_cast<QWidget *>(plainHttpCheck_), static_cast<QWidget *>(listCombos_[0]),
                       static_cast<QWidget *>(listCombos_[1])})
        w->setEnabled(!busy);
    okButton_->setEnabled(!busy && !books_.isEmpty());
}

void SyncSetupWindow::forgetBooks()
{
    if (books_.isEmpty())
        return;
    books_.clear();
    fillChoices();
}

// 同期しない and the books found, in each list's choice; what the configuration names is chosen
// where it is among them, else the first book for both lists (they share it).
void SyncSetupWindow::fillChoices()
{
    for (int l = 0; l < 2; ++l) {
        QComboBox *combo = listCombos_[l];
        combo->clear();
        combo->addItem(ja("同期しない"), QString());
        for (const AddressBookInfo &b : books_) {
            const QString name = b.displayName.isEmpty() ? QUrl(b.url).path() : b.displayName;
            combo->addItem(QStringLiteral("%1 (%2)").arg(name, QUrl(b.url).path()), b.url);
        }
        int chosen = books_.isEmpty() ? 0 : 1;
        if (config_.url == booksUrl_ &&
            !config_.collections[0].isEmpty() + !config_.collections[1].isEmpty()) {
            const int at = combo->findData(config_.collections[l]);
            chosen = at >= 0 ? at : chosen;
        }
        combo->setCurrentIndex(chosen);
        combo->setEnabled(!books_.isEmpty());
    }
    okButton_->setEnabled(!books_.isEmpty());
}

void SyncSetupWindow::connectToServer()
{
    if (thread_)
        return;
    const QUrl url(serverEdit_->text().trimmed(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty()) {
        setStatus(ja("サーバーのアドレスを https://… の形で入力してください。"));
        serverEdit_->setFocus();
        return;
    }
    SyncConfig config = config_;
    config.url = serverEdit_->text().trimmed();
    config.user = userEdit_->text().trimmed();
    // What the file trusts for its server says nothing about another one; what the user chose
    // here holds for the server that was refused, and only while its box stays checked.
    if (!syncconfig::sameServer(config_.url, config.url)) {
        config.trustedCertificate.clear();
        config.allowPlainHttp = false;
    }
    if (!syncconfig::sameServer(offeredUrl_, config.url)) {
        offeredFingerprint_.clear();
        trustCheck_->setChecked(false);
        plainHttpCheck_->setChecked(false);
    }
    if (trustCheck_->isChecked() && !offeredFingerprint_.isEmpty())
        config.trustedCertificate = offeredFingerprint_;
    if (plainHttpCheck_->isChecked())
        config.allowPlainHttp = true;
    trustCheck_->hide();
    plainHttpCheck_->hide();
    const QString password = passwordEdit_->text();
    books_.clear();
    booksUrl_.clear();
    fillChoices();

    auto attempt = std::make_shared<Attempt>();
    attempt_ = attempt;
    // The connection is made, used and destroyed in the thread: its network objects live there.
    thread_ = QThread::create([attempt, config, password] {
        SyncConnection connection = makeConnection(config, password);
        {
            std::lock_guard<std::mutex> lock(attempt->mutex);
            attempt->cancel = connection.cancel;
            if (attempt->cancelled && attempt->cancel)
                attempt->cancel();
        }
        QList<AddressBookInfo> books;
        QString homeSet;
        const carddav::Result result = connection.discover(config.url, books, homeSet);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        attempt->cancel = nullptr;
        attempt->result = result;
        attempt->books = books;
    });
    connect(thread_, &QThread::finished, this, [this, config] {
        booksUrl_ = config.url;
        booksTrusted_ = config.trustedCertificate;
        booksPlainHttp_ = config.allowPlainHttp;
        finishConnecting();
    });
    setBusy(true);
    setStatus(ja("接続しています… (キャンセルで中止します)"));
    deadline_.start(timeLimitMs_);
    thread_->start();
}

void SyncSetupWindow::cancelConnecting()
{
    if (!attempt_)
        return;
    std::lock_guard<std::mutex> lock(attempt_->mutex);
    attempt_->cancelled = true;
    if (attempt_->cancel)
        attempt_->cancel();
    if (thread_)
        setStatus(ja("中止しています…"));
}

void SyncSetupWindow::finishConnecting()
{
    deadline_.stop();
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    const std::shared_ptr<Attempt> attempt = std::move(attempt_);
    std::lock_guard<std::mutex> lock(attempt->mutex);
    books_.clear();
    if (attempt->timedOut) {
        setStatus(ja("サーバーが %1 秒以内に答えませんでした。アドレスを確かめてください。")
                      .arg(timeLimitMs_ / 1000),
                  attempt->result.message);
    } else if (attempt->cancelled) {
        setStatus(ja("接続を中止しました。"));
    } else if (!attempt->result.ok()) {
        setStatus(messageFor(attempt->result), attempt->result.message);
        offerChoices(attempt->result, booksUrl_);
    } else if (attempt->books.isEmpty()) {
        setStatus(
            ja("このアカウントにはアドレス帳がありません。サーバーで作ってから、もう一度探してください。"));
    } else {
        books_ = attempt->books;
        setStatus(ja("アドレス帳が %1 冊見つかりました。一覧ごとに同期するものを選んでください。")
                      .arg(books_.size()));
    }
    setBusy(false);
    fillChoices();
    emit connectFinished();
}

QString SyncSetupWindow::messageFor(const carddav::Result &result) const
{
    switch (result.failure) {
    case carddav::Failure::Unauthorized:
        return ja("ユーザー名かパスワードが違います。");
    case carddav::Failure::Unreachable:
        return ja("サーバーにつながりません。アドレスとポートを確かめてください。");
    case carddav::Failure::Untrusted: {
        const QString server = serverName(booksUrl_);
        const QString reason = tlsReason(result.message);
        const QString why = reason.isEmpty() ? QString() : ja("\n理由: %1").arg(reason);
        const QString fingerprint =
            result.fingerprint.isEmpty() ? ja("(わかりません)") : readableFingerprint(result.fingerprint);
        // With a certificate pinned, any other one is refused: it has changed.
        if (!booksTrusted_.isEmpty())
            return ja("%1 の証明書が、信頼していたものから変わりました。サーバーの管理者が証明書を"
                      "替えたのでなければ、つながないでください。%2\n新しい証明書の SHA-256 指紋:\n%3")
                .arg(server, why, fingerprint);
        return ja("%1 の証明書を信頼できません。%2\nSHA-256 指紋:\n%3\n"
                  "サーバーの管理者に指紋を確かめてから信頼してください。")
            .arg(server, why, fingerprint);
    }
    case carddav::Failure::Unencrypted:
        return ja("%1 には暗号化せずにつなぐことになり、パスワードが平文で流れます。"
                  "https://… のアドレスを使ってください。")
            .arg(serverName(booksUrl_));
    default:
        break;
    }
    if (result.status >= 500)
        return ja("サーバーでエラーが起きました (%1)。しばらくしてからもう一度試してください。")
            .arg(result.status);
    return ja("このアドレスは CardDAV "
              "サーバーではないようです。アドレス帳のサーバーのアドレスを確かめてください。");
}

// After a refusal the user may decide otherwise: trust the certificate shown (never checked
// beforehand, so that a new certificate is always looked at), or go without encryption.
void SyncSetupWindow::offerChoices(const carddav::Result &result, const QString &url)
{
    offeredUrl_ = url;
    if (result.failure == carddav::Failure::Untrusted && !result.fingerprint.isEmpty()) {
        offeredFingerprint_ = result.fingerprint;
        trustCheck_->setChecked(false);
        trustCheck_->show();
    } else if (result.failure == carddav::Failure::Unencrypted) {
        plainHttpCheck_->setChecked(false);
        plainHttpCheck_->show();
    }
    growToFit();
}

void SyncSetupWindow::accept()
{
    if (thread_ || books_.isEmpty())
        return;
    SyncConfig config = config_;
    config.url = booksUrl_;
    config.user = userEdit_->text().trimmed();
    config.trustedCertificate = booksTrusted_;
    config.allowPlainHttp = booksPlainHttp_;
    for (int l = 0; l < 2; ++l)
        config.collections[l] = listCombos_[l]->currentData().toString();
    if (config.collections[0].isEmpty() && config.collections[1].isEmpty()) {
        setStatus(ja("少なくとも一方の一覧には同期するアドレス帳を選んでください。"));
        return;
    }
    const QString command = !commandEdit_->isHidden() ? commandEdit_->text().trimmed() : QString();
    if (!command.isEmpty()) {
        config.passwordCommand = command;
        config.passwordInKeyring = false;
    } else if (!keyringAvailable_) {
        setStatus(ja("キーリングがないため、パスワードを出すコマンドを指定してください。"));
        commandEdit_->setFocus();
        return;
    } else {
        // Kept before the configuration says where it is.
        const keyring::Answer stored = keyring::store(config.url, config.user, passwordEdit_->text());
        if (!stored.ok()) {
            setStatus(ja("キーリングにパスワードを保存できません。"), stored.message);
            if (stored.outcome == keyring::Outcome::NoService) {
                keyringAvailable_ = false;
                commandLabel_->show();
                commandEdit_->show();
            }
            return;
        }
        config.passwordInKeyring = true;
        config.passwordCommand.clear();
    }
    try {
        syncconfig::save(dir_, config);
    } catch (const PorError &e) {
        setStatus(e.message());
        return;
    }
    config_ = config;
    done(int(ModalResult::Ok));
}

void SyncSetupWindow::reject()
{
    // While connecting, キャンセル (and Esc) ends the connection; the window stays.
    if (thread_) {
        cancelConnecting();
        return;
    }
    done(int(ModalResult::Cancel));
}
