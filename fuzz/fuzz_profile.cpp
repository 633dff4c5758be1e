// The profile parser on arbitrary bytes: reading never fails, and a written value reads back
// while every other key keeps the value it had.
#include "store/profile.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const char *const sections[] = {"Position", "List1", "s", "\x83\x41"};
const char *const keys[] = {"Top", "Col1", "k", "\x83\x61"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks what to write; the rest is the file.
    const uint8_t pick = data[0];
    ProfileFile profile(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));

    QByteArray before[4][4];
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k < 4; ++k) {
            before[s][k] = profile.value(sections[s], keys[k]);
            check(before[s][k].size() <= 1023);
        }
    }

    const int ws = pick & 3, wk = (pick >> 2) & 3;
    const QByteArray value = QByteArray::number(int(pick) - 100);
    profile.setValue(sections[ws], keys[wk], value);
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k < 4; ++k)
            check(profile.value(sections[s], keys[k]) == (s == ws && k == wk ? value : before[s][k]));
    }
    return 0;
}
