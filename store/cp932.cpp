#include "store/cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// ICU's name for the Windows flavour of Shift-JIS (0x5C is "\", 0x8160 is U+FF5E).
constexpr const char *codecName = "windows-31j";

} // namespace

namespace cp932 {

QString decode(const QByteArray &bytes)
{
    // A lead byte at the very end would vanish without a trace (only the error flag is set);
    // followed by a line end, which no field holds, it shows as U+001A like any other bad byte.
    QStringDecoder decoder(codecName, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes + '\n');
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

std::optional<QString> decodeValid(QByteArrayView bytes)
{
    // Opening the converter costs more than decoding a field, so one decoder serves every call until
    // it has seen an error, which it does not forget (resetState keeps the flag).
    thread_local std::optional<QStringDecoder> decoder;
    if (!decoder)
        decoder.emplace(codecName, QStringConverter::Flag::Stateless);
    QString text = decoder->decode(bytes);
    if (decoder->hasError()) {
        decoder.reset();
        return std::nullopt;
    }
    return text;
}

QString mapLookalikes(QString text)
{
    static const struct {
        char16_t from, to;
    } lookalikes[] = {
        {u'\u301C', u'\uFF5E'}, // wave dash -> full-width tilde
        {u'\u2016', u'\u2225'}, // double vertical line -> parallel to
        {u'\u2212', u'\uFF0D'}, // minus sign -> full-width hyphen-minus
        {u'\u00A2', u'\uFFE0'}, // cent sign
        {u'\u00A3', u'\uFFE1'}, // pound sign
        {u'\u00AC', u'\uFFE2'}, // not sign
    };
    for (QChar &c : text) {
        for (const auto &l : lookalikes) {
            if (c.unicode() == l.from) {
                c = QChar(l.to);
                break;
            }
        }
    }
    return text;
}

std::optional<QByteArray> encode(const QString &text)
{
    // One encoder for every call until it has seen an error, as for decodeValid.
    thread_local std::optional<QStringEncoder> encoder;
    if (!encoder)
        encoder.emplace(codecName, QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder->encode(mapLookalikes(text));
    // An unencodable character comes out as 0xFC 0xFC with only the error flag to tell.
    if (encoder->hasError()) {
        encoder.reset();
        return std::nullopt;
    }
    return bytes;
}

} // namespace cp932

bool isEmptyField(const QByteArray &field)
{
    if (field.isEmpty())
        return true;
    return QString::localeAwareCompare(cp932::decode(field), QString()) == 0;
}
