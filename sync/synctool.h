#pragma once

#include "sync/remotefactory.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

// The command line of poraddr-sync: "setup URL [--user NAME] [--password-command CMD]
// [--list1 COLLECTION] [--list2 COLLECTION] [--create] [FOLDER]" and "[--dry-run] [--force]
// [FOLDER]" and "forget [FOLDER]" (the keyring's password). args leave out the program name; defaultFolder is
// where the lists are when no FOLDER is given; connect reaches the server. The address books found go to out;
// messages and the one-line summary to err. Returns one of syncexit's codes (sync/syncengine.h).
int runSyncTool(const QStringList &args, const QString &defaultFolder, QIODevice &out, QIODevice &err,
                const ConnectionFactory &connect);
