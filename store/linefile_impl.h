#pragma once

#include <QtAlgorithms>
#include <QtEndian>

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
            return p + qCountTrailingZeroBits(unsigned(mask));
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

// Where the line after the line end at q (q < end) starts: two bytes on for CR LF, one for CR or LF
// alone.
inline const char *afterLineEnd(const char *q, const char *end)
{
    return q + (*q == '\r' && q + 1 < end && q[1] == '\n' ? 2 : 1);
}

// Where 64 bytes from p hold CR, LF and NUL, one bit a byte (bit i for p[i]). A loader walks the
// set bits of such masks instead of searching for each line end anew: with lines of a few bytes,
// a search per line costs far more than the bytes it looks at.
struct ByteMasks {
    std::uint64_t cr, lf, nul;
};

// The same without vector instructions, eight bytes at a time in a plain 64-bit word. Kept
// callable everywhere so that both forms can be checked against each other.
inline std::uint64_t portableMatches(std::uint64_t word, unsigned char c)
{
    // A byte equal to c leaves a zero byte in x; adding 0x7f to each byte's low seven bits carries
    // into its high bit unless they were all zero, so exactly the zero bytes keep their high bit
    // clear (no carry crosses between bytes, unlike the usual (x - ones) & ~x test).
    constexpr std::uint64_t lows = 0x7f7f7f7f7f7f7f7full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * c);
    const std::uint64_t zeroHighs = ~(((x & lows) + lows) | x | lows);
    // Gather the eight high bits, byte i's into bit i.
    return ((zeroHighs >> 7) * 0x0102040810204080ull) >> 56;
}

inline ByteMasks byteMasksPortable(const char *p)
{
    ByteMasks m{0, 0, 0};
    for (int k = 0; k < 8; ++k) {
        const std::uint64_t word = qFromLittleEndian<quint64>(p + 8 * k); // p[0] in the lowest byte
        m.cr |= portableMatches(word, '\r') << (8 * k);
        m.lf |= portableMatches(word, '\n') << (8 * k);
        m.nul |= portableMatches(word, '\0') << (8 * k);
    }
    return m;
}

inline ByteMasks byteMasks(const char *p)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    ByteMasks m{0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
        m.cr |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)))) << (16 * k);
        m.lf |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)))) << (16 * k);
        m.nul |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)))) << (16 * k);
    }
    return m;
#else
    return byteMasksPortable(p);
#endif
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
        p = detail::afterLineEnd(q, end);
    }
}

} // namespace linefile
