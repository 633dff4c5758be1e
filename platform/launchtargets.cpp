#include "platform/launchtargets.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
// Characters left as they are in a mail address: none of them can end the address part of a
// "mailto:" URL. Everything else beyond letters, digits and "-._~" is percent-encoded, among them
// "?" (query: headers, attachments), "#", "&", "%", blanks, controls and non-ASCII (as UTF-8).
const QByteArray keptInAddress = QByteArrayLiteral("@!$'()*+,;=:/");

// Names whose last part is one of these are program files, not host names. Endings that are also
// top-level domains (com, sh, app, py ...) stay usable as host names: the browser gets them
// behind "http://" and cannot run anything from there.
bool looksLikeProgram(const QString &lastLabel)
{
    static const QStringList programEndings = {
        QStringLiteral("exe"), QStringLiteral("bat"), QStringLiteral("cmd"), QStringLiteral("scr"),
        QStringLiteral("pif"), QStringLiteral("msi"), QStringLiteral("vbs"), QStringLiteral("vbe"),
        QStringLiteral("js"),  QStringLiteral("jse"), QStringLiteral("wsf"), QStringLiteral("wsh"),
        QStringLiteral("hta"), QStringLiteral("cpl"), QStringLiteral("lnk"), QStringLiteral("jar"),
        QStringLiteral("dll"), QStringLiteral("reg"), QStringLiteral("url"), QStringLiteral("desktop"),
    };
    return programEndings.contains(lastLabel, Qt::CaseInsensitive);
}

bool isDnsLabel(const QString &label)
{
    if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
        return false;
    for (QChar c : label) {
        if (c != u'-' && !c.isLetterOrNumber())
            return false;
    }
    return true;
}

bool isIPv4(const QStringList &labels)
{
    if (labels.size() != 4)
        return false;
    for (const QString &label : labels) {
        bool ok = false;
        const int value = label.toInt(&ok, 10);
        if (!ok || label.size() > 3 || value < 0 || value > 255 || !label.at(0).isDigit())
            return false;
    }
    return true;
}

// A host name with at least two parts (www.example.jp) whose last part is a word, or an IPv4
// address. A single word (localhost, notepad) could be anything, so it does not count.
bool isBareHost(const QString &host)
{
    const QStringList labels = host.split(u'.');
    if (isIPv4(labels))
        return true;
    if (labels.size() < 2)
        return false;
    for (const QString &label : labels) {
        if (!isDnsLabel(label))
            return false;
    }
    const QString &last = labels.last();
    for (QChar c : last) {
        if (!c.isLetter())
            return false;
    }
    return last.size() >= 2 && !looksLikeProgram(last);
}

std::optional<QUrl> webUrl(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("ftp"))
        return std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;
    return url;
}
} // namespace

QUrl mailTarget(const QString &mail)
{
    return QUrl::fromEncoded("mailto:" + QUrl::toPercentEncoding(mail, keptInAddress), QUrl::StrictMode);
}

std::optional<QUrl> homeTarget(const QString &home)
{
    const QString text = home.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    // Backslashes and controls never belong in a web address; they are how a Windows path or a
    // second command line would sneak past the checks below.
    for (QChar c : text) {
        if (c == u'\\' || c.category() == QChar::Other_Control || c.isSpace())
            return std::nullopt;
    }

    static const QRegularExpression bareHost(QStringLiteral("\\A([^:/?#@]+)(:[0-9]{1,5})?([/?#].*)?\\z"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    const QRegularExpressionMatch match = bareHost.match(text);
    if (match.hasMatch() && isBareHost(match.captured(1)))
        return webUrl(QStringLiteral("http://") + text);

    static const QRegularExpression schemePrefix(QStringLiteral("\\A[A-Za-z][A-Za-z0-9+.-]*:"));
    if (!schemePrefix.match(text).hasMatch())
        return std::nullopt;
    return webUrl(text);
}
