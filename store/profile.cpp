#include "profile.h"

#include "errors.h"
#include "linefile.h"

#include <QFile>
#include <QFileInfo>

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
    qsizetype start = 0;      // first byte of the line
    qsizetype contentEnd = 0; // where its line end begins
    qsizetype end = 0;        // after its line end
    LineKind kind = LineKind::Other;
    QByteArrayView name;      // section or key name, blanks trimmed
    qsizetype valueStart = 0; // for a key: the byte after its "="
};

ProfileLine classify(QByteArrayView content, qsizetype start, qsizetype contentEnd, qsizetype end)
{
    ProfileLine line;
    line.start = start;
    line.contentEnd = contentEnd;
    line.end = end;
    const QByteArrayView text = content.sliced(start, contentEnd - start);
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

QList<ProfileLine> parseLines(QByteArrayView content)
{
    QList<ProfileLine> lines;
    qsizetype p = 0;
    const qsizetype n = content.size();
    while (p < n) {
        qsizetype q = p;
        while (q < n && content[q] != '\r' && content[q] != '\n')
            ++q;
        qsizetype next = q;
        if (q < n) {
            next = q + 1;
            if (content[q] == '\r' && next < n && content[next] == '\n')
                ++next;
        }
        lines.append(classify(content, p, q, next));
        p = next;
    }
    return lines;
}

// Index of the first line of the first matching section, or -1.
qsizetype findSection(const QList<ProfileLine> &lines, QByteArrayView section)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && namesMatch(lines[i].name, section))
            return i;
    }
    return -1;
}

// Index of the first matching key in the section opened at sectionLine, or -1.
qsizetype findKey(const QList<ProfileLine> &lines, qsizetype sectionLine, QByteArrayView key)
{
    for (qsizetype i = sectionLine + 1; i < lines.size() && lines[i].kind != LineKind::Section; ++i) {
        if (lines[i].kind == LineKind::Key && namesMatch(lines[i].name, key))
            return i;
    }
    return -1;
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

bool endsWithLineEnd(const QByteArray &content)
{
    return content.isEmpty() || content.endsWith('\n') || content.endsWith('\r');
}

} // namespace

ProfileFile::ProfileFile(QByteArray content) : content_(std::move(content)) {}

QByteArray ProfileFile::value(QByteArrayView section, QByteArrayView key) const
{
    const QList<ProfileLine> lines = parseLines(content_);
    const qsizetype s = findSection(lines, section);
    if (s < 0)
        return QByteArray();
    const qsizetype k = findKey(lines, s, key);
    if (k < 0)
        return QByteArray();
    const ProfileLine &line = lines[k];
    return cutValue(
        trimmed(QByteArrayView(content_).sliced(line.valueStart, line.contentEnd - line.valueStart)));
}

bool ProfileFile::contains(QByteArrayView section, QByteArrayView key) const
{
    const QList<ProfileLine> lines = parseLines(content_);
    const qsizetype s = findSection(lines, section);
    return s >= 0 && findKey(lines, s, key) >= 0;
}

void ProfileFile::setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    const QList<ProfileLine> lines = parseLines(content_);
    const qsizetype s = findSection(lines, section);
    if (s < 0) {
        if (!endsWithLineEnd(content_))
            content_.append("\r\n");
        content_.append('[').append(section).append("]\r\n");
        content_.append(key).append('=').append(value).append("\r\n");
        return;
    }
    const qsizetype k = findKey(lines, s, key);
    if (k >= 0) {
        // Keep the key as the file spells it, and the line's own line end.
        const ProfileLine &line = lines[k];
        content_.replace(line.valueStart, line.contentEnd - line.valueStart, value.toByteArray());
        return;
    }
    qsizetype after = s;
    for (qsizetype i = s + 1; i < lines.size() && lines[i].kind != LineKind::Section; ++i) {
        if (lines[i].kind == LineKind::Key)
            after = i;
    }
    const ProfileLine &previous = lines[after];
    QByteArray inserted;
    if (previous.end == previous.contentEnd) // the last line of the file, without a line end
        inserted.append("\r\n");
    inserted.append(key).append('=').append(value).append("\r\n");
    content_.insert(previous.end, inserted);
}

QByteArray GetPrivateProfileString(const QString &path, QByteArrayView section, QByteArrayView key)
{
    if (!QFileInfo(path).isFile())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return ProfileFile(file.readAll()).value(section, key);
}

void WritePrivateProfileStrings(const QString &path, const QList<ProfileWrite> &writes)
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
