#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace linefile {

namespace detail {

// The first CR or LF in [p, end), or end. Many bytes at a time: lines in list files are short, but
// a million entries make seven million of them. Sixteen at once with SSE2 where the compiler
// targets it; elsewhere eight at once in a plain 64-bit word, which every processor has.
inline const char *findLineEnd(const char *p, const char *end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        if (mask != 0)
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#else
    // A byte equal to c leaves a zero byte in word ^ (c repeated); (x - ones) & ~x & highs is
    // non-zero exactly when x holds a zero byte.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        const std::uint64_t crs = word ^ (ones * '\r');
        const std::uint64_t lfs = word ^ (ones * '\n');
        if ((((crs - ones) & ~crs) | ((lfs - ones) & ~lfs)) & highs)
            break; // the byte loop below finds which one
        p += 8;
    }
#endif
    while (p < end && *p != '\r' && *p != '\n')
        ++p;
    return p;
}

} // namespace detail

template <typename Fn> void forEachLine(QByteArrayView text, Fn &&fn)
{
    if (text.isEmpty()) // an empty view may have no data pointer at all, which memchr must not see
        return;
    const char *p = text.data();
    const char *end = p + text.size();
    if (const void *nul = std::memchr(p, '\0', size_t(text.size())))
        end = static_cast<const char *>(nul);
    while (p < end) {
        const char *q = detail::findLineEnd(p, end);
        fn(QByteArrayView(p, q - p));
        if (q == end)
            break;
        if (*q == '\r' && q + 1 < end && q[1] == '\n')
            ++q;
        p = q + 1;
    }
}

} // namespace linefile
