#include "sync/keyring.h"

#include "sync/syncengine.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <memory>

namespace keyring {

namespace {

// The D-Bus names of the Secret Service and of KWallet, which QtKeychain talks to.
const char *const serviceNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"};

QString noServiceMessage()
{
    const SyncText tr;
    return tr("パスワードを保存するキーリング (Secret Service: GNOME Keyring や KWallet) がありません。"
              "パスワードはファイルには書きません。代わりに --password-command (PorAddrSync.ini の "
              "PasswordCommand) でパスワードを出すコマンドを指定してください",
              "there is no keyring (Secret Service: GNOME Keyring or KWallet) to keep the password; it is "
              "never written to a file. Give a command that prints it with --password-command "
              "(PasswordCommand in PorAddrSync.ini) instead");
}

// Starts job and waits for it, at most timeoutMs; the job is left to delete itself when it finishes
// later than that.
Answer run(QKeychain::Job *job, int timeoutMs)
{
    Answer answer;
    QString why;
    if (!available(&why)) {
        delete job;
        answer.outcome = Outcome::NoService;
        answer.message = why;
        return answer;
    }
    // Never the plain-text file QtKeychain can fall back to where it finds no keyring.
    job->setInsecureFallback(false);
    job->setAutoDelete(false);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool finished = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    const SyncText tr;
    if (!finished) {
        QObject::disconnect(job, nullptr, &loop, nullptr);
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        answer.outcome = Outcome::Failed;
        answer.message =
            tr("キーリングが %1 秒以内に答えませんでした", "the keyring gave no answer within %1 s")
                .arg(timeoutMs / 1000.0);
        return answer;
    }
    std::unique_ptr<QKeychain::Job> owned(job);
    switch (job->error()) {
    case QKeychain::NoError:
        if (const auto *reading = qobject_cast<QKeychain::ReadPasswordJob *>(job))
            answer.password = reading->textData();
        break;
    case QKeychain::EntryNotFound:
        answer.outcome = Outcome::NotFound;
        answer.message = tr("キーリングにこのサーバーとユーザーのパスワードがありません (%1)",
                            "the keyring holds no password for this server and user (%1)")
                             .arg(job->key());
        break;
    case QKeychain::NoBackendAvailable:
        answer.outcome = Outcome::NoService;
        answer.message = noServiceMessage();
        break;
    default:
        answer.outcome = Outcome::Failed;
        answer.message = tr("キーリングを使えません: ", "the keyring cannot be used: ") + job->errorString();
        break;
    }
    return answer;
}

template <class JobType> JobType *makeJob(const QString &server, const QString &user)
{
    // QtKeychain keeps service and key as the item's "server" and "user" attributes.
    auto *job = new JobType(server);
    job->setKey(user);
    return job;
}

} // namespace

bool available(QString *why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()) {
        QDBusConnectionInterface *names = bus.interface();
        const QStringList activatable = names->activatableServiceNames();
        for (const char *name : serviceNames) {
            const QString service = QLatin1String(name);
            if (names->isServiceRegistered(service) || activatable.contains(service))
                return true;
        }
    }
    if (why)
        *why = noServiceMessage();
    return false;
}

Answer read(const QString &server, const QString &user, int timeoutMs)
{
    return run(makeJob<QKeychain::ReadPasswordJob>(server, user), timeoutMs);
}

Answer store(const QString &server, const QString &user, const QString &password, int timeoutMs)
{
    auto *job = makeJob<QKeychain::WritePasswordJob>(server, user);
    job->setTextData(password);
    return run(job, timeoutMs);
}

Answer remove(const QString &server, const QString &user, int timeoutMs)
{
    return run(makeJob<QKeychain::DeletePasswordJob>(server, user), timeoutMs);
}

} // namespace keyring
