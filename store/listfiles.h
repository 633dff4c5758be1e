#pragma once

#include "store/addressbook.h"

// The program directory: the running program's absolute folder with a trailing "/".
QString programDirectory();

// Sets List1Path, List2Path and MemberListPath (SettingsPath is set after loading).
void setListPaths(AddressBook &book, const QString &directory);
QString settingsPathIn(const QString &directory);

// Loads list 2, then list 1, from their files; a missing file (or a directory of that name) is no
// error. Throws PorError "ﾌｧｲﾙ %s は開けません" on anything else that cannot be read (including a
// file that cannot even be looked at); the lists stay as far as loaded and their loaded flags tell
// which were read; readInPart tells which readings stopped early.
void LoadLists(AddressBook &book);

// Whether the close keeps the list's file as it is: the list was not read at start-up and
// something is still there under its name.
bool listFileKept(const StoredList &list);

// Writes the list to its file (an empty list deletes its regular, writable file, silently), unless
// listFileKept says its file stays. A list read only in part first keeps its file's bytes as
// <file>.bak. Throws PorError on failure.
void saveList(StoredList &list);

// saveList for list 1, then list 2; the first failure ends it, and a later file stays as it was.
void SaveLists(AddressBook &book);

// How many bytes the loader reads at a time (1 MiB unless set). Small sizes exist for the fuzzer, to
// put chunk edges everywhere.
void setListReadChunkSize(qint64 bytes);
