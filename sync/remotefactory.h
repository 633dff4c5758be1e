#pragma once

#include "sync/davclient.h"
#include "sync/remote.h"
#include "sync/syncconfig.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// How poraddr-sync reaches a server: the CardDAV client for the sync, and the discovery of the
// account's address books for "setup". Tests hand the tool a connection of their own.
using carddav::AddressBookInfo;

struct SyncConnection {
    std::unique_ptr<carddav::Remote> remote; // null: this build has no CardDAV client
    // The address books of the account at base (its principal or home set is found from there),
    // and the URL of its home set, where new books belong (empty where it is not known).
    std::function<carddav::Result(const QString &base, QList<AddressBookInfo> &books, QString &homeSet)>
        discover;
    // Makes an address book (MKCOL) at url with its display name.
    std::function<carddav::Result(const QString &url, const QString &displayName)> createAddressBook;
    // Ends the request under way and fails every later one; may be called from any thread (a
    // window's キャンセル while the connection works in a thread of its own). Null: cannot cancel.
    std::function<void()> cancel;
};

using ConnectionFactory = std::function<SyncConnection(const SyncConfig &config, const QString &password)>;

// The connection of the real CardDAV client (sync/remotefactory.cpp).
SyncConnection makeConnection(const SyncConfig &config, const QString &password);
