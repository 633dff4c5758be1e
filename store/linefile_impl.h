#pragma once

#include <cstring>

namespace linefile {

template <typename Fn> void forEachLine(QByteArrayView text, Fn &&fn)
{
    const char *p = text.data();
    const char *end = p + text.size();
    if (const void *nul = std::memchr(p, '\0', size_t(text.size())))
        end = static_cast<const char *>(nul);
    while (p < end) {
        const char *q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        fn(QByteArrayView(p, q - p));
        if (q == end)
            break;
        if (*q == '\r' && q + 1 < end && q[1] == '\n')
            ++q;
        p = q + 1;
    }
}

} // namespace linefile
