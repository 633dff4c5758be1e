#include "memberlist.h"

#include "cp932.h"
#include "linefile.h"

namespace {

constexpr int exportedEntries = 30;

} // namespace

QList<QByteArray> MemberListLines(const AddressList &list1)
{
    QList<QByteArray> lines;
    const int n = qMin(list1.Count(), exportedEntries);
    for (int i = 0; i < n; ++i) {
        lines.append(list1.FieldOf(i, Field::Handle));
        const QByteArray home = list1.FieldOf(i, Field::Home);
        lines.append(IsEmptyField(home) ? QByteArray("mailto:") + list1.FieldOf(i, Field::Mail) : home);
    }
    return lines;
}

bool ExportMemberList(const AddressBook &book)
{
    if (book.List1.Count() == 0)
        return false;
    WriteLines(book.MemberListPath, MemberListLines(book.List1));
    return true;
}
