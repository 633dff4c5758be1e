#include "support/davserver.h"
#include "support/keyringdaemon.h"
#include "support/storetest.h"
#include "sync/davclient.h"
#include "sync/keyring.h"
#include "sync/syncconfig.h"
#include "syncsetup/syncsetupwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using davtest::DavServer;
using davtest::DavServerKind;

namespace {

// Set for the copy of the suite that runs a row without any Secret Service (its session bus leads
// nowhere); the keyring of the suite's own session cannot be taken away from the running process.
const char *const noKeyringVariable = "PORADDR_TEST_NO_KEYRING";
bool withoutKeyring()
{
    return qEnvironmentVariableIsSet(noKeyringVariable);
}

const QString user = QStringLiteral("anna");
const QString password = QStringLiteral("richtig-geheim");
// An address of the documentation range: plain http to it is refused before any connection.
const QString remoteHttp = QStringLiteral("http://192.0.2.1/");

// A name other than localhost that /etc/hosts gives 127.0.0.1 alone (the machine's own name,
// often): plain http to it counts as another machine, yet goes nowhere but 127.0.0.1.
QString nameOfThisMachine()
{
    QFile hosts(QStringLiteral("/etc/hosts"));
    if (!hosts.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, bool> onlyLoopback;
    for (const QByteArray &raw : hosts.readAll().split('\n')) {
        const QList<QByteArray> words =
            raw.left(raw.contains('#') ? raw.indexOf('#') : raw.size()).simplified().split(' ');
        for (qsizetype i = 1; i < words.size(); ++i) {
            const QString name = QString::fromLatin1(words[i]).toLower();
            const bool loopback = words[0] == "127.0.0.1";
            onlyLoopback[name] = onlyLoopback.value(name, true) && loopback;
        }
    }
    for (auto it = onlyLoopback.cbegin(); it != onlyLoopback.cend(); ++it) {
        if (it.value() && !carddav::isLoopbackHost(it.key()) && !it.key().contains(QLatin1Char('.')))
            return it.key();
    }
    return {};
}

// The status text with a fingerprint's colons and line breaks taken out, so that the 64 hex digits
// shown in groups can be looked for as they are.
QString digitsOf(const QString &text)
{
    return QString(text).remove(QLatin1Char(':')).remove(QLatin1Char('\n')).toLower();
}

} // namespace

class TestSyncSetupWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<keyringtest::KeyringDaemon> daemon_;
    std::unique_ptr<DavServer> bcrypt_; // plain http on 127.0.0.1, only user/password logs in
    std::unique_ptr<DavServer> tls_;    // https with one of two certificates of a test CA
    davtest::TestCertificates certificates_;
    QString certificate_[2], key_[2], fingerprint_[2];
    int served_ = 0;
    QTcpServer web_;    // answers every request with a web page
    QTcpServer silent_; // accepts and never answers

    // The servers are started where a row needs them (the copy without a keyring needs one only).
    DavServer *bcrypt()
    {
        if (!bcrypt_) {
            bcrypt_ = std::make_unique<DavServer>(DavServerKind::RadicaleBcrypt, user, password);
            if (!bcrypt_->start() || !makeBook(bcrypt_.get(), {})) {
                qWarning("%s", qPrintable(bcrypt_->errorString()));
                bcrypt_.reset();
            }
        }
        return bcrypt_.get();
    }
    DavServer *tls(int served)
    {
        if (!tls_) {
            if (!certificates_.makeAuthority())
                return nullptr;
            for (int n = 0; n < 2; ++n) {
                if (!certificates_.makeServer(QStringLiteral("server%1").arg(n), certificate_[n], key_[n]))
                    return nullptr;
                fingerprint_[n] = certificates_.fingerprint(certificate_[n]);
            }
            tls_ = std::make_unique<DavServer>(DavServerKind::Radicale);
            tls_->setTls(certificate_[0], key_[0]);
            carddav::TlsPolicy policy;
            policy.caFile = certificates_.authorityFile();
            if (!tls_->start() || !makeBook(tls_.get(), policy)) {
                qWarning("%s", qPrintable(tls_->errorString()));
                tls_.reset();
                return nullptr;
            }
        }
        if (served != served_) {
            served_ = served;
            tls_->setTls(certificate_[served], key_[served]);
            if (!tls_->restart())
                return nullptr;
        }
        return tls_.get();
    }
    static bool makeBook(DavServer *s, const carddav::TlsPolicy &policy)
    {
        carddav::DavClient client(s->baseUrl(), s->user(), s->password(), policy);
        client.setTimeout(10000);
        const carddav::Result r =
            client.createAddressBook(s->bookUrl(QStringLiteral("contacts")), QStringLiteral("連絡先"));
        if (!r.ok())
            qWarning("%s", qPrintable(r.message));
        return r.ok();
    }

    // What the window shows and holds, found as a user finds it.
    template <class T> static T *child(SyncSetupWindow &w, const char *name)
    {
        T *found = w.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }
    static QString status(SyncSetupWindow &w) { return child<QLabel>(w, "statusLabel")->text(); }
    static QPushButton *button(SyncSetupWindow &w, QDialogButtonBox::StandardButton which)
    {
        return w.findChild<QDialogButtonBox *>()->button(which);
    }
    // Fills in the account and presses 接続; false when the window does not finish within a minute.
    static bool connectTo(SyncSetupWindow &w, const QString &url, const QString &name, const QString &secret,
                          const std::function<void()> &whileConnecting = {})
    {
        child<QLineEdit>(w, "serverEdit")->setText(url);
        child<QLineEdit>(w, "userEdit")->setText(name);
        child<QLineEdit>(w, "passwordEdit")->setText(secret);
        QSignalSpy finished(&w, &SyncSetupWindow::connectFinished);
        child<QPushButton>(w, "connectButton")->click();
        if (whileConnecting)
            whileConnecting();
        return finished.count() > 0 || finished.wait(60000);
    }
    // The choices a list offers, as shown.
    static QStringList choices(SyncSetupWindow &w, const char *combo)
    {
        QStringList shown;
        auto *box = child<QComboBox>(w, combo);
        for (int i = 0; i < box->count(); ++i)
            shown.append(box->itemText(i));
        return shown;
    }

private slots:
    void initTestCase()
    {
        // Whatever proxy the environment names, the suite talks to 127.0.0.1 itself only.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        if (withoutKeyring()) {
            QVERIFY(!keyring::available());
        } else {
            daemon_ = std::make_unique<keyringtest::KeyringDaemon>();
            QVERIFY2(daemon_->start(), qPrintable(daemon_->errorString()));
            QVERIFY(keyring::available());
        }
        QVERIFY(web_.listen(QHostAddress::LocalHost));
        connect(&web_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = web_.nextPendingConnection()) {
                auto seen = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [socket, seen] {
                    *seen += socket->readAll();
                    if (!seen->contains("\r\n\r\n"))
                        return;
                    const QByteArray page = "<!DOCTYPE html><html><body><h1>Willkommen</h1></body></html>";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
                    socket->disconnectFromHost();
                });
            }
        });
        QVERIFY(silent_.listen(QHostAddress::LocalHost));
    }

    void cleanupTestCase()
    {
        bcrypt_.reset();
        tls_.reset();
    }

    // 接続 against real servers and ones that misbehave: each outcome has its own message, a
    // refused certificate or plain http offers its check box, and what the user chose there is
    // used for the next 接続 and written by OK.
    void connecting_data()
    {
        QTest::addColumn<QString>("server");      // bcrypt, tls, web, silent, closed, remote, named
        QTest::addColumn<QString>("secret");      // the password typed
        QTest::addColumn<int>("served");          // tls: which certificate it shows
        QTest::addColumn<int>("pinned");          // the file's TrustedCertificate: -1 none, else whose
        QTest::addColumn<bool>("plainAllowed");   // the file's AllowPlainHttp
        QTest::addColumn<bool>("fileSameServer"); // the file names the server connected to
        QTest::addColumn<QString>("then");        // "", timeLimit, cancel, choose (check the box, 接続, OK)
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("shows");          // whose fingerprint the status shows, -1 none
        QTest::addColumn<QString>("offers");     // the check box shown: trust, plain or none
        QTest::addColumn<QByteArray>("written"); // "choose": a line OK writes (FP: the fingerprint shown)

        QTest::newRow("http to this machine: the books, no question asked")
            << "bcrypt" << password << 0 << -1 << false << true << ""
            << "アドレス帳が 1 冊見つかりました" << -1 << "none" << QByteArray();
        QTest::newRow("wrong password") << "bcrypt"
                                        << "falsch" << 0 << -1 << false << true << ""
                                        << "ユーザー名かパスワードが違います" << -1 << "none" << QByteArray();
        QTest::newRow("nothing listens on the port")
            << "closed" << password << 0 << -1 << false << true << ""
            << "サーバーにつながりません" << -1 << "none" << QByteArray();
        QTest::newRow("a web page, not CardDAV")
            << "web" << password << 0 << -1 << false << true << ""
            << "CardDAV サーバーではない" << -1 << "none" << QByteArray();
        QTest::newRow("no answer within the time limit")
            << "silent" << password << 0 << -1 << false << true << "timeLimit"
            << "秒以内に答えませんでした" << -1 << "none" << QByteArray();
        QTest::newRow("キャンセル while connecting")
            << "silent" << password << 0 << -1 << false << true << "cancel"
            << "接続を中止しました" << -1 << "none" << QByteArray();
        QTest::newRow("untrusted certificate, trusted once checked")
            << "tls" << password << 0 << -1 << false << true << "choose"
            << "の証明書を信頼できません" << 0 << "trust" << QByteArray("TrustedCertificate=FP");
        QTest::newRow("the certificate trusted in the file")
            << "tls" << password << 0 << 0 << false << true << ""
            << "アドレス帳が 1 冊見つかりました" << -1 << "none" << QByteArray();
        QTest::newRow("pinned certificate changed: the new one, trusted only once checked")
            << "tls" << password << 1 << 0 << false << true << "choose"
            << "の証明書が、信頼していたものから変わりました" << 1 << "trust"
            << QByteArray("TrustedCertificate=FP");
        QTest::newRow("a certificate trusted for another server is not used")
            << "tls" << password << 0 << 0 << false << false << ""
            << "の証明書を信頼できません" << 0 << "trust" << QByteArray();
        QTest::newRow("plain http to another machine: refused before connecting")
            << "remote" << password << 0 << -1 << false << true << ""
            << "パスワードが平文で流れます" << -1 << "plain" << QByteArray();
        QTest::newRow("plain http allowed for another server is not used")
            << "remote" << password << 0 << -1 << true << false << ""
            << "パスワードが平文で流れます" << -1 << "plain" << QByteArray();
        QTest::newRow("plain http to a name of this machine, allowed once checked")
            << "named" << password << 0 << -1 << false << true << "choose"
            << "パスワードが平文で流れます" << -1 << "plain" << QByteArray("AllowPlainHttp=true");
    }

    void connecting()
    {
        QFETCH(QString, server);
        QFETCH(QString, secret);
        QFETCH(int, served);
        QFETCH(int, pinned);
        QFETCH(bool, plainAllowed);
        QFETCH(bool, fileSameServer);
        QFETCH(QString, then);
        QFETCH(QString, says);
        QFETCH(int, shows);
        QFETCH(QString, offers);
        QFETCH(QByteArray, written);

        QString url, name = user;
        if (server == QLatin1String("tls")) {
            DavServer *s = tls(served);
            QVERIFY2(s, qPrintable(certificates_.errorString()));
            url = s->baseUrl();
            name = s->user();
        } else if (server == QLatin1String("bcrypt") || server == QLatin1String("named")) {
            QVERIFY(bcrypt());
            url = bcrypt_->baseUrl();
            if (server == QLatin1String("named")) {
                const QString host = nameOfThisMachine();
                if (host.isEmpty())
                    QSKIP("/etc/hosts gives no name of this machine other than localhost");
                url.replace(QLatin1String("127.0.0.1"), host);
            }
        } else if (server == QLatin1String("web")) {
            url = QStringLiteral("http://127.0.0.1:%1/").arg(web_.serverPort());
        } else if (server == QLatin1String("silent")) {
            url = QStringLiteral("http://127.0.0.1:%1/").arg(silent_.serverPort());
        } else if (server == QLatin1String("closed")) {
            url = QStringLiteral("http://127.0.0.1:%1/").arg(DavServer::freePort());
        } else {
            url = remoteHttp;
        }
        // Were the refusal ever to fail, a request to the other machine would go to a port of this
        // machine where nothing listens, never out.
        if (url == remoteHttp)
            QNetworkProxy::setApplicationProxy(QNetworkProxy(
                QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(DavServer::freePort())));
        const auto noProxy = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); });
        QTemporaryDir folder;
        const QString dir = folder.path() + QLatin1Char('/');
        const QString ini = dir + syncconfig::fileName();
        if (pinned >= 0 || plainAllowed) {
            SyncConfig before;
            // Another server: the same host on another port.
            before.url = fileSameServer ? url : QUrl(url).adjusted(QUrl::RemovePath).toString() + ":8080/";
            before.user = name;
            if (pinned >= 0)
                before.trustedCertificate = fingerprint_[pinned];
            before.allowPlainHttp = plainAllowed;
            syncconfig::save(dir, before);
        }
        const QByteArray iniBefore = QFile::exists(ini) ? storetest::readBytes(ini) : QByteArray();

        SyncSetupWindow w(dir);
        w.show();
        if (then == QLatin1String("timeLimit"))
            w.setConnectTimeLimit(1500);
        const auto cancelSoon = [&w] {
            QTest::qWait(300);
            QVERIFY(w.isConnecting());
            button(w, QDialogButtonBox::Cancel)->click();
        };
        QVERIFY(connectTo(w, url, name, secret,
                          then == QLatin1String("cancel") ? cancelSoon : std::function<void()>()));
        QVERIFY(!w.isConnecting());
        QVERIFY2(status(w).contains(says), qPrintable(status(w)));
        const QStringList books = choices(w, "list1Combo");
        QCOMPARE(choices(w, "list2Combo"), books);
        QCOMPARE(books.size() > 1, says.contains(QStringLiteral("見つかりました")));
        QCOMPARE(books.first(), QStringLiteral("同期しない"));
        if (books.size() > 1)
            QVERIFY2(books[1].startsWith(QStringLiteral("連絡先 (")), qPrintable(books[1]));
        if (shows >= 0) {
            QVERIFY2(digitsOf(status(w)).contains(fingerprint_[shows]), qPrintable(status(w)));
            QVERIFY2(!digitsOf(status(w)).contains(fingerprint_[1 - shows]), qPrintable(status(w)));
            QVERIFY2(status(w).contains(QStringLiteral("127.0.0.1:%1").arg(tls_->port())),
                     qPrintable(status(w)));
            // Qt's reason for refusing it.
            QVERIFY2(
                status(w).contains(QSslError(QSslError::UnableToGetLocalIssuerCertificate).errorString()),
                qPrintable(status(w)));
        }
        auto *trust = child<QCheckBox>(w, "trustCertificateCheck");
        auto *plain = child<QCheckBox>(w, "allowPlainHttpCheck");
        QCOMPARE(trust->isVisible(), offers == QLatin1String("trust"));
        QCOMPARE(plain->isVisible(), offers == QLatin1String("plain"));
        QVERIFY(!trust->isChecked() && !plain->isChecked());
        // The window stays, and nothing is written before OK.
        QVERIFY(w.isVisible());
        QCOMPARE(QFile::exists(ini) ? storetest::readBytes(ini) : QByteArray(), iniBefore);
        if (then != QLatin1String("choose"))
            return;

        // Refused again as long as the box is not checked.
        QVERIFY(connectTo(w, url, name, secret));
        QVERIFY2(status(w).contains(says), qPrintable(status(w)));
        (offers == QLatin1String("trust") ? trust : plain)->setChecked(true);
        QVERIFY(connectTo(w, url, name, secret));
        QVERIFY2(status(w).contains(QStringLiteral("アドレス帳が 1 冊見つかりました")),
                 qPrintable(status(w)));
        QVERIFY(!trust->isVisible() && !plain->isVisible());
        button(w, QDialogButtonBox::Ok)->click();
        QCOMPARE(w.result(), 1);
        const QByteArray kept = storetest::readBytes(ini).replace("\r\n", "\n");
        written.replace("FP", shows >= 0 ? fingerprint_[shows].toLatin1() : QByteArray());
        QVERIFY2(kept.contains('\n' + written), kept.constData());
        const SyncConfig config = syncconfig::load(dir);
        QCOMPARE(config.url, url);
        QCOMPARE(config.collections[0], url + QStringLiteral("%1/contacts/").arg(name));
    }

    // OK stores the password in the keyring and writes the file without it; キャンセル writes
    // nothing; without a Secret Service the window asks for a password command instead.
    void accepting_data()
    {
        QTest::addColumn<bool>("keyring");
        QTest::addColumn<int>("list2");       // the choice of list 2: 0 同期しない, 1 the book
        QTest::addColumn<QString>("press");   // ok or cancel
        QTest::addColumn<QString>("command"); // typed as the password command (without a keyring)
        QTest::addColumn<QString>("says");    // the status after the press, where the window stays

        QTest::newRow("the password to the keyring, Password=keyring to the file") << true << 1 << "ok"
                                                                                   << ""
                                                                                   << "";
        QTest::newRow("list 2 同期しない: an empty Collection") << true << 0 << "ok"
                                                                << ""
                                                                << "";
        QTest::newRow("キャンセル writes nothing") << true << 1 << "cancel"
                                                   << ""
                                                   << "";
        QTest::newRow("no Secret Service: the password command, no password anywhere") << false << 1 << "ok"
                                                                                       << "pass show dav/anna"
                                                                                       << "";
        QTest::newRow("no Secret Service and no command: OK asks for one")
            << false << 1 << "ok"
            << ""
            << "パスワードを出すコマンドを指定してください";
    }

    void accepting()
    {
        QFETCH(bool, keyring);
        QFETCH(int, list2);
        QFETCH(QString, press);
        QFETCH(QString, command);
        QFETCH(QString, says);

        if (!keyring && !withoutKeyring()) {
            // This row in a copy of the suite whose session bus leads nowhere.
            QTemporaryDir nowhere;
            QProcess copy;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + nowhere.path() + "/no-bus");
            env.insert(QLatin1String(noKeyringVariable), QStringLiteral("1"));
            copy.setProcessEnvironment(env);
            copy.setProcessChannelMode(QProcess::MergedChannels);
            copy.start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("accepting:") + QString::fromUtf8(QTest::currentDataTag())});
            QVERIFY(copy.waitForFinished(180000));
            const QByteArray said = copy.readAll();
            QVERIFY2(copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0, said.constData());
            QVERIFY2(said.contains("PASS   : TestSyncSetupWindow::accepting("), said.constData());
            QCOMPARE(daemon_->filesContaining(password.toUtf8()), QStringList());
            return;
        }
        if (keyring && withoutKeyring())
            QSKIP("a row for the suite with a keyring");
        DavServer *s = bcrypt();
        QVERIFY(s);
        if (keyring)
            keyring::remove(s->baseUrl(), user);
        QTemporaryDir folder;
        const QString dir = folder.path() + QLatin1Char('/');
        const QString ini = dir + syncconfig::fileName();

        SyncSetupWindow w(dir);
        w.show();
        auto *commandEdit = child<QLineEdit>(w, "commandEdit");
        QCOMPARE(commandEdit->isVisible(), !keyring);
        if (!keyring)
            QVERIFY2(status(w).contains(QStringLiteral("キーリング")) &&
                         status(w).contains(QStringLiteral("ありません")),
                     qPrintable(status(w)));
        QVERIFY(connectTo(w, s->baseUrl(), user, password));
        QVERIFY2(status(w).contains(QStringLiteral("見つかりました")), qPrintable(status(w)));
        commandEdit->setText(command);
        child<QComboBox>(w, "list2Combo")->setCurrentIndex(list2);
        button(w, press == QLatin1String("ok") ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();

        if (press == QLatin1String("cancel") || !says.isEmpty()) {
            QCOMPARE(QFile::exists(ini), false);
            QCOMPARE(w.isVisible(), !says.isEmpty());
            if (!says.isEmpty())
                QVERIFY2(status(w).contains(says), qPrintable(status(w)));
            return;
        }
        QCOMPARE(w.result(), 1);
        const QByteArray kept = storetest::readBytes(ini).replace("\r\n", "\n");
        QVERIFY2(!kept.contains(password.toUtf8()), kept.constData());
        const QString book = s->bookUrl(QStringLiteral("contacts"));
        const SyncConfig config = syncconfig::load(dir);
        QCOMPARE(config.url, s->baseUrl());
        QCOMPARE(config.user, user);
        QCOMPARE(config.collections[0], book);
        QCOMPARE(config.collections[1], list2 ? book : QString());
        QVERIFY2(kept.contains(list2 ? "[List2]\nCollection=" + book.toUtf8() : "[List2]\nCollection=\n"),
                 kept.constData());
        QCOMPARE(config.passwordInKeyring, keyring);
        QCOMPARE(kept.contains("\nPassword=keyring"), keyring);
        QCOMPARE(config.passwordCommand, command);
        if (keyring) {
            // Encrypted by the keyring: no file under HOME holds it as typed.
            QCOMPARE(daemon_->filesContaining(password.toUtf8()), QStringList());
            const keyring::Answer answer = keyring::read(s->baseUrl(), user);
            QVERIFY2(answer.ok(), qPrintable(answer.message));
            QCOMPARE(answer.password, password);
        } else {
            QCOMPARE(keyring::read(s->baseUrl(), user).outcome, keyring::Outcome::NoService);
        }
    }
};

QTEST_MAIN(TestSyncSetupWindow)
#include "tst_syncsetupwindow.moc"
