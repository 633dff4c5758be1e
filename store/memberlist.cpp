#include "store/memberlist.h"

#include "store/cp932.h"
#include "store/linefile.h"

namespace {

constexpr int exportedEntries = 30;

} // namespace

QList<QByteArray> memberListLines(const AddressList &list1)
{
    QList<QByteArray> lines;
    const int n = qMin(list1.Count(), exportedEntries);
    for (int i = 0; i < n; ++i) {
        lines.append(list1.fieldOf(i, Field::Handle));
        const QByteArray home = list1.fieldOf(i, Field::Home);
        lines.append(isEmptyField(home) ? QByteArray("mailto:") + list1.fieldOf(i, Field::Mail) : home);
    }
    return lines;
}

bool exportMemberList(const AddressBook &book)
{
    if (book.List1.Count() == 0)
        return false;
    WriteLines(book.MemberListPath, memberListLines(book.List1));
    return true;
}
