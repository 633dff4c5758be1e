#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

// The command line of poraddr-vcard: "export [--list 1|2] [FOLDER] [-o FILE]" and
// "import FILE [--list 1|2] [FOLDER]". args leave out the program name; defaultFolder is where the
// list files are when no FOLDER is given. An export without -o goes to out; messages and the
// one-line summary go to err. An import writes only while no copy of PorAddr runs for the folder.
int runVcardTool(const QStringList &args, const QString &defaultFolder, QIODevice &out, QIODevice &err);

namespace vcardexit {
enum : int {
    Ok = 0,
    SomeRefused = 1,    // import: the other cards were imported
    Usage = 2,          // the command line is wrong
    FileError = 3,      // a file could not be read or written; nothing was written
    Malformed = 4,      // the vCard file is broken; nothing was written
    ProgramRunning = 5, // PorAddr runs for the folder, or that cannot be told; nothing was written
};
} // namespace vcardexit
