#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct ProfileKey {
    QByteArray section, key;
};

// A private-profile (INI) file held as bytes. Section and key names match without regard to the
// case of ASCII letters; every line the program does not change is kept byte for byte.
// Each read of values and each building of the content is one pass over the bytes, however many
// keys it concerns, and keeps nothing per line: a file of any size costs time in proportion to it.
class ProfileFile {
public:
    ProfileFile() = default;
    explicit ProfileFile(QByteArray content);

    // The first matching key of the first matching section: blanks trimmed, one pair of outer
    // quotes removed, cut to 1,023 bytes without splitting a double-byte character.
    // Empty when the section or key does not exist.
    QByteArray value(QByteArrayView section, QByteArrayView key) const;
    // The values of several keys, in the order asked, from one pass.
    QList<QByteArray> values(const QList<ProfileKey> &keys) const;
    bool contains(QByteArrayView section, QByteArrayView key) const;

    // Updates the first matching key, or adds the key after the last key of its section, or adds
    // the section at the end. The writes are kept and applied together by content().
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    // The file's bytes with every write applied.
    QByteArray content() const;

private:
    struct Write {
        QByteArray section, key, value;
    };
    const Write *pendingWrite(QByteArrayView section, QByteArrayView key) const;

    QByteArray content_;
    QList<Write> writes_; // one per section and key, in the order first written
};

// Reads one value from the file at path; empty when the file, section or key does not exist.
QByteArray getPrivateProfileString(const QString &path, QByteArrayView section, QByteArrayView key);

struct ProfileWrite {
    QByteArray section, key, value;
};

// Reads the file afresh, applies every write in order, and replaces the file in one atomic step.
// Throws PorError "%s に書き込めません" on any failure; the file is then as it was.
void writePrivateProfileStrings(const QString &path, const QList<ProfileWrite> &writes);
