#include "support/davserver.h"
#include "support/keyringdaemon.h"
#include "support/storetest.h"
#include "sync/keyring.h"
#include "sync/syncconfig.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using davtest::DavServer;
using davtest::DavServerKind;
using keyring::Outcome;

Q_DECLARE_METATYPE(keyring::Outcome)

namespace {

// The messages the checks look for are the English ones.
const bool englishLocale = qputenv("LC_ALL", "C");

const QString server = QStringLiteral("https://dav.example/");

QString toolPath()
{
    return qEnvironmentVariable("PORADDR_BINARY_DIR") + QStringLiteral("/poraddr-sync");
}

struct ToolRun {
    int exitCode = -1;
    QString said; // all the tool printed, on its terminal or standard error
};

// Runs poraddr-sync with args. On a terminal (a pseudo-terminal of script(1), whose echo is on until
// the tool turns it off): typed is typed once the tool asks for it. busAddress, where given,
// replaces the session bus the tool finds.
ToolRun runTool(const QStringList &args, bool terminal, const QByteArray &typed,
                const QString &busAddress = QString())
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!busAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    if (terminal) {
        QStringList quoted{toolPath()};
        for (const QString &a : args)
            quoted.append(QLatin1Char('\'') + a + QLatin1Char('\''));
        tool.start(QStringLiteral("script"),
                   {"--quiet", "--return", "--command", quoted.join(QLatin1Char(' ')), "/dev/null"});
    } else {
        tool.start(toolPath(), args);
    }
    ToolRun run;
    if (!tool.waitForStarted(10000))
        return run;
    QByteArray said;
    bool asked = false;
    const QDeadlineTimer deadline(60000);
    while (tool.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        tool.waitForReadyRead(100);
        said += tool.readAll();
        if (terminal && !asked && said.contains("password of")) {
            asked = true;
            tool.write(typed + '\n');
        }
    }
    if (tool.state() != QProcess::NotRunning) {
        tool.kill();
        tool.waitForFinished();
    }
    said += tool.readAll();
    run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.said = QString::fromUtf8(said);
    return run;
}

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void keepsOnePasswordPerServerAndUser_data();
    void keepsOnePasswordPerServerAndUser();
    void tool_data();
    void tool();

private:
    std::unique_ptr<keyringtest::KeyringDaemon> daemon_;
};

void TestKeyring::initTestCase()
{
    daemon_ = std::make_unique<keyringtest::KeyringDaemon>();
    QVERIFY2(daemon_->start(), qPrintable(daemon_->errorString()));
    QVERIFY(keyring::available());
}

// Each row is one call; the rows run in order on the same keyring.
void TestKeyring::keepsOnePasswordPerServerAndUser_data()
{
    QTest::addColumn<QString>("call"); // store, read or remove
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password"); // stored; expected where read
    QTest::addColumn<keyring::Outcome>("outcome");

    QTest::newRow("nothing kept yet") << "read"
                                      << "me"
                                      << "" << Outcome::NotFound;
    QTest::newRow("stored") << "store"
                            << "me"
                            << "first ひみつ" << Outcome::Done;
    QTest::newRow("read back") << "read"
                               << "me"
                               << "first ひみつ" << Outcome::Done;
    QTest::newRow("another user has none") << "read"
                                           << "you"
                                           << "" << Outcome::NotFound;
    QTest::newRow("replaced") << "store"
                              << "me"
                              << "second" << Outcome::Done;
    QTest::newRow("the replacement is read") << "read"
                                             << "me"
                                             << "second" << Outcome::Done;
    QTest::newRow("removed") << "remove"
                             << "me"
                             << "" << Outcome::Done;
    QTest::newRow("gone") << "read"
                          << "me"
                          << "" << Outcome::NotFound;
}

void TestKeyring::keepsOnePasswordPerServerAndUser()
{
    QFETCH(QString, call);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(keyring::Outcome, outcome);
    const keyring::Answer answer = call == QLatin1String("store")  ? keyring::store(server, user, password)
                                   : call == QLatin1String("read") ? keyring::read(server, user)
                                                                   : keyring::remove(server, user);
    QVERIFY2(answer.outcome == outcome, qPrintable(answer.message));
    if (call == QLatin1String("read"))
        QCOMPARE(answer.password, password);
    if (outcome == Outcome::NotFound)
        QVERIFY2(answer.message.contains("no password"), qPrintable(answer.message));
    // The keyring keeps it encrypted: no file anywhere under HOME holds it in plain text.
    if (call == QLatin1String("store"))
        QCOMPARE(daemon_->filesContaining(password.toUtf8()), QStringList());
}

void TestKeyring::tool_data()
{
    QTest::addColumn<bool>("serviceRuns"); // false: the tool's session bus leads nowhere
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("setupExit");
    QTest::addColumn<QString>("says");
    QTest::addColumn<int>("syncExit");   // of a sync run after it, with Password=keyring written
    QTest::addColumn<int>("forgetExit"); // of "forget" after that; -1: not run

    QTest::newRow("terminal: asked without echo, kept in the keyring, read by the sync")
        << true << true << "secret" << 0 << "list 1 syncs with" << 0 << 0;
    QTest::newRow("terminal: wrong password, nothing kept")
        << true << true << "wrong" << 3 << "not accepted" << -1 << -1;
    QTest::newRow("terminal, no Secret Service: points to --password-command")
        << false << true << "secret" << 2 << "--password-command" << -1 << -1;
    QTest::newRow("no Secret Service for the sync") << false << false << "" << -1 << "" << 3 << 3;
}

void TestKeyring::tool()
{
    QFETCH(bool, serviceRuns);
    QFETCH(bool, terminal);
    QFETCH(QString, typed);
    QFETCH(int, setupExit);
    QFETCH(QString, says);
    QFETCH(int, syncExit);
    QFETCH(int, forgetExit);

    DavServer dav(DavServerKind::RadicaleBcrypt);
    QVERIFY2(dav.start(), qPrintable(dav.errorString()));
    QTemporaryDir folder;
    const QString dir = folder.path() + QLatin1Char('/');
    const QString nowhere = serviceRuns ? QString() : QStringLiteral("unix:path=") + dir + "no-bus";
    keyring::remove(dav.baseUrl(), dav.user());

    if (setupExit >= 0) {
        const ToolRun setup = runTool({"setup", dav.baseUrl(), "--user", dav.user(), "--list1",
                                       dav.bookUrl("contacts"), "--create", folder.path()},
                                      terminal, typed.toUtf8(), nowhere);
        QVERIFY2(setup.said.contains(says), qPrintable(setup.said));
        QCOMPARE(setup.exitCode, setupExit);
        // Not echoed as typed, nor written anywhere.
        QVERIFY2(!setup.said.contains(typed), qPrintable(setup.said));
        const QByteArray ini = storetest::readBytes(dir + syncconfig::fileName());
        QVERIFY2(!ini.contains(typed.toUtf8()), ini.constData());
        QCOMPARE(daemon_->filesContaining(typed.toUtf8()), QStringList());
        const keyring::Answer kept = keyring::read(dav.baseUrl(), dav.user());
        if (setupExit == 0) {
            QVERIFY(ini.contains("Password=keyring"));
            QCOMPARE(kept.password, typed);
        } else {
            QCOMPARE(kept.outcome, Outcome::NotFound);
            QVERIFY(!ini.contains("Password=keyring"));
        }
    } else {
        SyncConfig config;
        config.url = dav.baseUrl();
        config.user = dav.user();
        config.passwordInKeyring = true;
        config.collections[0] = config.collections[1] = dav.bookUrl("contacts");
        syncconfig::save(dir, config);
    }
    if (syncExit < 0)
        return;
    const ToolRun sync = runTool({folder.path()}, false, {}, nowhere);
    QCOMPARE(sync.exitCode, syncExit);
    if (!serviceRuns)
        QVERIFY2(sync.said.contains("no keyring"), qPrintable(sync.said));
    else
        QVERIFY2(sync.said.contains("uploaded 0"), qPrintable(sync.said));
    if (forgetExit < 0)
        return;
    // forget: the keyring holds the password no more and the configuration no longer points there;
    // the rest of the setup stays.
    const ToolRun forget = runTool({"forget", folder.path()}, false, {}, nowhere);
    QCOMPARE(forget.exitCode, forgetExit);
    const SyncConfig after = syncconfig::load(dir);
    QCOMPARE(after.collections[0], dav.bookUrl("contacts"));
    if (forgetExit == 0) {
        QCOMPARE(keyring::read(dav.baseUrl(), dav.user()).outcome, Outcome::NotFound);
        QVERIFY(!after.passwordInKeyring);
        QCOMPARE(runTool({folder.path()}, false, {}).exitCode, 3);
    } else {
        QVERIFY2(forget.said.contains("no keyring"), qPrintable(forget.said));
        QVERIFY(after.passwordInKeyring);
    }
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
