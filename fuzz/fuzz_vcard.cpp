// The vCard reader and the card-to-entry mapping on arbitrary bytes: nothing taken from a card
// may hold what a list file cannot, and the entries taken must come back unchanged through an
// export and a second import.
#include "vcard/cardmapping.h"
#include "vcard/vcardreader.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const vcard::ParseResult parsed =
        vcard::parse(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    check(parsed.problem == vcard::ParseProblem::None || parsed.problemLine > 0);

    for (const bool list1 : {true, false}) {
        AddressList list(list1);
        for (const vcard::Card &card : parsed.cards) {
            const vcard::ImportedCard c = vcard::entryFromCard(card, list1);
            if (c.refusal != vcard::Refusal::None)
                continue;
            for (int f = 0; f < fieldCount; ++f) {
                const QByteArray &field = c.entry.field(Field(f));
                check(!field.contains('\r') && !field.contains('\n') && !field.contains('\0'));
                check(field.size() <= maxFieldBytes);
            }
            list.Append(c.entry);
        }

        QByteArray exported;
        vcard::ExportCounts counts;
        vcard::appendCards(exported, list, counts);
        check(counts.people == list.Count());
        const vcard::ParseResult again = vcard::parse(exported);
        check(again.problem == vcard::ParseProblem::None && again.cards.size() == list.Count());
        for (int i = 0; i < list.Count(); ++i) {
            const vcard::ImportedCard c = vcard::entryFromCard(again.cards[i], list1);
            check(c.refusal == vcard::Refusal::None && c.entry == list.Entry(i));
        }
    }
    return 0;
}
