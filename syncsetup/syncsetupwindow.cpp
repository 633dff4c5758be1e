#include "syncsetup/syncsetupwindow.h"

#include "store/errors.h"
#include "sync/keyring.h"
#include "widgets/appearance.h"
#include "widgets/modalresult.h"

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
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setWordWrap(true);
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
    form->addRow(ja("一覧 1 (ぽるておともだち)(&1):"), listCombos_[0]);
    form->addRow(ja("一覧 2 (ぽるてなかま)(&2):"), listCombos_[1]);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons_);
    setMinimumWidth(420);

    // Without a keyring the password cannot be kept: a command that prints it takes its place.
    QString why;
    keyringAvailable_ = keyring::available(&why);
    commandLabel_->setVisible(!keyringAvailable_ || !config_.passwordCommand.isEmpty());
    commandEdit_->setVisible(commandLabel_->isVisible());
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
}

void SyncSetupWindow::setBusy(bool busy)
{
    for (QWidget *w : {static_cast<QWidget *>(serverEdit_), static_cast<QWidget *>(userEdit_),
                       static_cast<QWidget *>(passwordEdit_), static_cast<QWidget *>(commandEdit_),
                       static_cast<QWidget *>(connectButton_), static_cast<QWidget *>(listCombos_[0]),
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
        if (config_.url == booksUrl_ && !config_.collections[0].isEmpty() + !config_.collections[1].isEmpty()) {
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
        const carddav::Result result = connection.discover(config.url, books);
        std::lock_guard<std::mutex> lock(attempt->mutex);
        attempt->cancel = nullptr;
        attempt->result = result;
        attempt->books = books;
    });
    connect(thread_, &QThread::finished, this, [this, config] {
        booksUrl_ = config.url;
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
        setStatus(ja("サーバーが %1 秒以内に答えませんでした。アドレスを確かめてください。").arg(timeLimitMs_ / 1000),
                  attempt->result.message);
    } else if (attempt->cancelled) {
        setStatus(ja("接続を中止しました。"));
    } else if (!attempt->result.ok()) {
        setStatus(messageFor(attempt->result), attempt->result.message);
    } else if (attempt->books.isEmpty()) {
        setStatus(ja("このアカウントにはアドレス帳がありません。サーバーで作ってから、もう一度探してください。"));
    } else {
        books_ = attempt->books;
        setStatus(ja("アドレス帳が %1 冊見つかりました。一覧ごとに同期するものを選んでください。").arg(books_.size()));
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
        // Qt says so where the TLS handshake refused the server's certificate.
        if (result.message.contains(QLatin1String("SSL"), Qt::CaseInsensitive) ||
            result.message.contains(QLatin1String("certificate"), Qt::CaseInsensitive))
            return ja("サーバーの証明書を信頼できません。アドレスが正しいか、サーバーの管理者に確かめてください。");
        return ja("サーバーにつながりません。アドレスとポートを確かめてください。");
    default:
        break;
    }
    if (result.status >= 500)
        return ja("サーバーでエラーが起きました (%1)。しばらくしてからもう一度試してください。").arg(result.status);
    return ja("このアドレスは CardDAV サーバーではないようです。アドレス帳のサーバーのアドレスを確かめてください。");
}

void SyncSetupWindow::accept()
{
    if (thread_ || books_.isEmpty())
        return;
    SyncConfig config = config_;
    config.url = booksUrl_;
    config.user = userEdit_->text().trimmed();
    for (int l = 0; l < 2; ++l)
        config.collections[l] = listCombos_[l]->currentData().toString();
    if (config.collections[0].isEmpty() && config.collections[1].isEmpty()) {
        setStatus(ja("少なくとも一方の一覧には同期するアドレス帳を選んでください。"));
        return;
    }
    const QString command = commandEdit_->isVisible() ? commandEdit_->text().trimmed() : QString();
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
