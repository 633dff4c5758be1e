#include "store/profile.h"

#include "store/errors.h"
#include "store/linefile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace {

constexpr qsizetype maxValueBytes = 1023;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// CP932 lead bytes: the byte after one is the second half of a character, never a letter,
// bracket or separator of its own.
bool isLeadByte(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

char foldAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    return text.sliced(from, to - from);
}

// Names match without regard to the case of ASCII letters; the second byte of a double-byte
// character is compared as it is (ア is 0x83 0x41, ヂ is 0x83 0x61).
bool namesMatch(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    bool trail = false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (trail) {
            if (a[i] != b[i])
                return false;
            trail = false;
            continue;
        }
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
        trail = isLeadByte(a[i]);
    }
    return true;
}

enum class LineKind { Other, Section, Key };

struct ProfileLine {
    qsizetype contentEnd = 0; // where its line end begins
    qsizetype end = 0;        // after its line end
    LineKind kind = LineKind::Other;
    QByteArrayView name;      // section or key name, blanks trimmed
    qsizetype valueStart = 0; // for a key: the byte after its "="
};

// The line that starts at start: CR, LF or CR LF ends it, as in every line file. Not found with the
// line splitter: a NUL does not end a profile's text, the rewrite needs where each line and its line
// end lie, and a hand-edited or damaged profile may hold megabytes of blank lines, where one byte at a
// time beats the splitter's sixteen (50 MB of them take half as long again with it).
ProfileLine readLine(QByteArrayView content, qsizetype start)
{
    ProfileLine line;
    const qsizetype n = content.size();
    const char *const data = content.data();
    qsizetype q = start;
    while (q < n && data[q] != '\r' && data[q] != '\n')
        ++q;
    line.contentEnd = q;
    line.end = q;
    if (q < n) {
        line.end = q + 1;
        if (data[q] == '\r' && line.end < n && data[line.end] == '\n')
            ++line.end;
    }
    const QByteArrayView text = content.sliced(start, q - start);
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    if (i == text.size() || text[i] == ';')
        return line;
    if (text[i] == '[') {
        // The name ends at the first "]" that is not the second byte of a double-byte character.
        qsizetype j = i + 1;
        while (j < text.size() && text[j] != ']')
            j += (isLeadByte(text[j]) && j + 1 < text.size()) ? 2 : 1;
        line.kind = LineKind::Section;
        line.name = trimmed(text.sliced(i + 1, qMin(j, text.size()) - i - 1));
        return line;
    }
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return line;
    line.kind = LineKind::Key;
    line.name = trimmed(text.sliced(i, eq - i));
    line.valueStart = start + eq + 1;
    return line;
}

// Where one pass found an asked key: only the first matching section counts, and in it the first
// matching key.
struct KeySpot {
    bool sectionFound = false;
    qsizetype valueStart = -1, valueEnd = -1; // the key's value as written, -1 without the key
    qsizetype insertAt = -1;                  // after the section's last key line, or its header
    bool insertNeedsLineEnd = false;          // that line is the last one and has no line end
};

QList<KeySpot> findKeys(QByteArrayView content, const QList<ProfileKey> &keys)
{
    enum class State : char { NotYet, Inside, Past };
    QList<KeySpot> spots(keys.size());
    QList<State> states(keys.size(), State::NotYet);
    qsizetype unfinished = keys.size();
    for (qsizetype p = 0; p < content.size() && unfinished > 0;) {
        const ProfileLine line = readLine(content, p);
        if (line.kind == LineKind::Section) {
            for (qsizetype i = 0; i < keys.size(); ++i) {
                if (states[i] == State::Inside) {
                    states[i] = State::Past;
                    --unfinished;
                } else if (states[i] == State::NotYet && namesMatch(line.name, keys[i].section)) {
                    states[i] = State::Inside;
                    spots[i].sectionFound = true;
                    spots[i].insertAt = line.end;
                    spots[i].insertNeedsLineEnd = line.end == line.contentEnd;
                }
            }
        } else if (line.kind == LineKind::Key) {
            for (qsizetype i = 0; i < keys.size(); ++i) {
                if (states[i] != State::Inside)
                    continue;
                spots[i].insertAt = line.end;
                spots[i].insertNeedsLineEnd = line.end == line.contentEnd;
                if (spots[i].valueStart < 0 && namesMatch(line.name, keys[i].key)) {
                    spots[i].valueStart = line.valueStart;
                    spots[i].valueEnd = line.contentEnd;
                }
            }
        }
        p = line.end;
    }
    return spots;
}

QByteArray cutValue(QByteArrayView value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    if (value.size() > maxValueBytes) {
        // Never keep the first half of a double-byte character at the cut.
        qsizetype i = 0;
        while (i < maxValueBytes) {
            const qsizetype width = isLeadByte(value[i]) ? 2 : 1;
            if (i + width > maxValueBytes)
                break;
            i += width;
        }
        value = value.first(i);
    }
    return value.toByteArray();
}

} // namespace

ProfileFile::ProfileFile(QByteArray content) : content_(std::move(content)) {}

const ProfileFile::Write *ProfileFile::pendingWrite(QByteArrayView section, QByteArrayView key) const
{
    for (const Write &w : writes_) {
        if (namesMatch(w.section, section) && namesMatch(w.key, key))
            return &w;
    }
    return nullptr;
}

QList<QByteArray> ProfileFile::values(const QList<ProfileKey> &keys) const
{
    const QList<KeySpot> spots = findKeys(content_, keys);
    QList<QByteArray> result;
    result.reserve(keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        if (const Write *w = pendingWrite(keys[i].section, keys[i].key))
            result.append(cutValue(trimmed(w->value)));
        else if (spots[i].valueStart >= 0)
            result.append(cutValue(trimmed(QByteArrayView(content_).sliced(
                spots[i].valueStart, spots[i].valueEnd - spots[i].valueStart))));
        else
            result.append(QByteArray());
    }
    return result;
}

QByteArray ProfileFile::value(QByteArrayView section, QByteArrayView key) const
{
    return values({{section.toByteArray(), key.toByteArray()}}).constFirst();
}

bool ProfileFile::contains(QByteArrayView section, QByteArrayView key) const
{
    return pendingWrite(section, key) != nullptr ||
           findKeys(content_, {{section.toByteArray(), key.toByteArray()}}).constFirst().valueStart >= 0;
}

void ProfileFile::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    // A later write to the same key changes the value only: the key keeps its place and spelling.
    for (Write &w : writes_) {
        if (namesMatch(w.section, section) && namesMatch(w.key, key)) {
            w.value = value.toByteArray();
            return;
        }
    }
    writes_.append({section.toByteArray(), key.toByteArray(), value.toByteArray()});
}

QByteArray ProfileFile::content() const
{
    if (writes_.isEmpty())
        return content_;
    QList<ProfileKey> keys;
    keys.reserve(writes_.size());
    for (const Write &w : writes_)
        keys.append({w.section, w.key});
    const QList<KeySpot> spots = findKeys(content_, keys);

    // Edits at their places in the file: new values over old ones, then the new keys of each
    // existing section in one block after its last key; new sections go at the end.
    struct Edit {
        qsizetype at, to;
        QByteArray text;
        bool addsKeys;
    };
    QList<Edit> edits;
    for (qsizetype i = 0; i < writes_.size(); ++i) {
        if (spots[i].valueStart >= 0)
            edits.append({spots[i].valueStart, spots[i].valueEnd, writes_[i].value, false});
    }
    QList<QByteArray> newSections; // "[name]\r\n" then its keys, in the order first written
    QList<QByteArrayView> newSectionNames;
    bool endsWithLineEnd = content_.isEmpty() || content_.endsWith('\n') || content_.endsWith('\r');
    for (qsizetype i = 0; i < writes_.size(); ++i) {
        const Write &w = writes_[i];
        if (spots[i].valueStart >= 0)
            continue;
        const QByteArray line = w.key + '=' + w.value + "\r\n";
        if (spots[i].sectionFound) {
            auto block = std::find_if(edits.begin(), edits.end(),
                                      [&](const Edit &e) { return e.addsKeys && e.at == spots[i].insertAt; });
            if (block == edits.end()) {
                QByteArray text = spots[i].insertNeedsLineEnd ? QByteArray("\r\n") : QByteArray();
                edits.append({spots[i].insertAt, spots[i].insertAt, text + line, true});
                if (spots[i].insertAt == content_.size())
                    endsWithLineEnd = true;
            } else {
                block->text += line;
            }
            continue;
        }
        qsizetype s = 0;
        while (s < newSections.size() && !namesMatch(newSectionNames[s], w.section))
            ++s;
        if (s == newSections.size()) {
            newSections.append('[' + w.section + "]\r\n");
            newSectionNames.append(w.section);
        }
        newSections[s] += line;
    }
    // Stable: a new value at the very end of a section comes before the keys added after it.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.at < b.at; });

    QByteArray out;
    qsizetype extra = 2;
    for (const Edit &e : edits)
        extra += e.text.size();
    for (const QByteArray &section : newSections)
        extra += section.size();
    out.reserve(content_.size() + extra);
    qsizetype done = 0;
    const QByteArrayView all(content_);
    for (const Edit &e : edits) {
        out.append(all.sliced(done, e.at - done)).append(e.text);
        done = e.to;
    }
    out.append(all.sliced(done));
    if (!newSections.isEmpty() && !endsWithLineEnd)
        out.append("\r\n");
    for (const QByteArray &section : newSections)
        out.append(section);
    return out;
}

QByteArray getPrivateProfileString(const QString &path, QByteArrayView section, QByteArrayView key)
{
    if (!QFileInfo(path).isFile())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return ProfileFile(file.readAll()).value(section, key);
}

void writePrivateProfileStrings(const QString &path, const QList<ProfileWrite> &writes)
{
    const QString failed = messages::cannotWriteSettings(path);
    try {
        // Read afresh so that keys edited by hand while the program ran survive.
        ProfileFile profile;
        if (QFileInfo::exists(path)) {
            if (!QFileInfo(path).isFile())
                throw PorError(failed);
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                throw PorError(failed);
            QByteArray content = file.readAll();
            if (file.error() != QFileDevice::NoError)
                throw PorError(failed);
            profile = ProfileFile(std::move(content));
        }
        for (const ProfileWrite &w : writes)
            profile.setValue(w.section, w.key, w.value);
        linefile::writeFileAtomically(path, profile.content(), failed);
    } catch (const PorError &) {
        throw PorError(failed);
    } catch (const std::bad_alloc &) {
        throw PorError(failed);
    }
}
