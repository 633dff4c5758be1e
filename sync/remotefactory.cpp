#include "sync/remotefactory.h"

// The one place that names the CardDAV client.
SyncConnection makeConnection(const SyncConfig &config, const QString &password)
{
    SyncConnection connection;
    const carddav::TlsPolicy tls = syncconfig::tlsPolicy(config);
    auto client = std::make_unique<carddav::DavClient>(config.url, config.user, password, tls);
    carddav::DavClient *dav = client.get();
    connection.remote = std::move(client);
    // Setup finds the books from the address it was given, which is also the configuration's URL.
    connection.discover = [dav, url = config.url, user = config.user, password,
                           tls](const QString &base, QList<AddressBookInfo> &books, QString &homeSet) {
        if (base == url)
            return dav->discover(books, &homeSet);
        return carddav::DavClient(base, user, password, tls).discover(books, &homeSet);
    };
    connection.createAddressBook = [dav](const QString &url, const QString &displayName) {
        return dav->createAddressBook(url, displayName);
    };
    connection.cancel = [dav] { dav->abort(); };
    return connection;
}
