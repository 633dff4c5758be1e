#pragma once

#include "store/addressbook.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the suites: files as bytes, sample entries, running a program as the
// unprivileged user, and child processes that run a store operation where the test process itself
// cannot (as an unprivileged user, under a file size limit, in a namespace with a small full disk,
// or to be killed half way).
namespace storetest {

// A file's bytes, or "<unreadable>" when it cannot be opened (so a missing file never compares
// equal to an empty one).
QByteArray readBytes(const QString &path);
// Replaces a file's content; a test whose preparation cannot be written stops with a message.
void writeBytes(const QString &path, const QByteArray &bytes);
QStringList entriesOf(const QString &dir); // file names in dir, sorted
// Lines joined by CR LF, each one ended, as the list files and the member list hold them.
QByteArray listFile(const QList<QByteArray> &lines);

// Entry i of a sample list: Japanese and ASCII text, some fields empty, the same every run.
AddressEntry sampleEntry(int i);
void fillList(AddressList &list, int count);
// The lines of a list in its file's order (7 a record for list 1, 6 for list 2).
QList<QByteArray> linesOf(const AddressList &list);

// A folder under /tmp with the given mode, so that an unprivileged child can reach it even when
// the build tree cannot be read by that user. Removed with its contents on destruction.
class SharedDir {
public:
    explicit SharedDir(int mode = 0777);
    ~SharedDir();
    SharedDir(const SharedDir &) = delete;
    SharedDir &operator=(const SharedDir &) = delete;
    QString path() const { return path_; }
    QString file(const QString &name) const { return path_ + QLatin1Char('/') + name; }
    bool isValid() const { return !path_.isEmpty(); }

private:
    QString path_;
};

enum class RunAs { Self, Unprivileged };

// The user and group id of nobody, the unprivileged user permissions are tested as.
constexpr int uidNobody = 65534;
// The command line that runs program with args as nobody (setpriv from util-linux; the caller
// must be root): the program to start is its first element.
QStringList asNobody(const QString &program, const QStringList &args = {});

struct ChildResult {
    bool ran = false;
    int exitCode = -1;
    QByteArray output;                             // what the child printed: "key value" lines
    QByteArray value(const QByteArray &key) const; // the value of the first line with that key
};

// Runs this test executable as a child with "--store-child" and args. As Unprivileged (when this
// process is root) a copy of the executable in a folder under /tmp runs as nobody via setpriv.
ChildResult runChild(const QStringList &args, RunAs as = RunAs::Self, const QStringList &wrapper = {});

// The path of a copy of this executable that every user can run.
QString sharedExecutable();
bool isRoot();

// In main(): handles "--store-child ..." and returns its exit code, or -1 when not a child run.
int runStoreChild(int argc, char **argv);

} // namespace storetest

// QTEST_MAIN with the child operations of storetest in front.
#define STORE_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        const int childResult = storetest::runStoreChild(argc, argv);                                        \
        if (childResult >= 0)                                                                                \
            return childResult;                                                                              \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject test;                                                                                     \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
