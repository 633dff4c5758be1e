#include "sync/orderkey.h"

#include <algorithm>

namespace orderkey {

namespace {

constexpr int base = 36;

int digitOf(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

char charOf(int d)
{
    return char(d < 10 ? '0' + d : 'a' + d - 10);
}

} // namespace

bool isValid(const QByteArray &key)
{
    if (key.isEmpty() || key.endsWith('0'))
        return false;
    return std::all_of(key.begin(), key.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'); });
}

QByteArray between(const QByteArray &low, const QByteArray &high)
{
    // The keys are the digits of fractions in base 36: the midpoint's digits, cut as soon as one
    // lies strictly between.
    QByteArray out;
    bool open = high.isEmpty(); // nothing above any more
    for (qsizetype i = 0;; ++i) {
        const int lo = i < low.size() ? digitOf(low[i]) : 0;
        const int hi = open ? base : (i < high.size() ? digitOf(high[i]) : 0);
        if (hi - lo > 1) {
            out += charOf((lo + hi) / 2);
            return out;
        }
        out += charOf(lo);
        if (hi - lo == 1)
            open = true;
    }
}

QList<QByteArray> spread(const QByteArray &low, const QByteArray &high, int count)
{
    QList<QByteArray> out;
    if (count <= 0)
        return out;
    const QByteArray middle = between(low, high);
    const int before = (count - 1) / 2;
    out = spread(low, middle, before);
    out.append(middle);
    out.append(spread(middle, high, count - 1 - before));
    return out;
}

QList<QByteArray> renumbered(const QList<QByteArray> &keys)
{
    // Longest strictly increasing run of the valid keys (patience sorting, with back links).
    const qsizetype n = keys.size();
    QList<qsizetype> tails, previous(n, -1);
    for (qsizetype i = 0; i < n; ++i) {
        if (!isValid(keys[i]))
            continue;
        auto at = std::lower_bound(tails.begin(), tails.end(), keys[i],
                                   [&](qsizetype t, const QByteArray &k) { return keys[t] < k; });
        if (at != tails.begin())
            previous[i] = *(at - 1);
        if (at == tails.end())
            tails.append(i);
        else
            *at = i;
    }
    QList<bool> kept(n, false);
    for (qsizetype i = tails.isEmpty() ? -1 : tails.last(); i >= 0; i = previous[i])
        kept[i] = true;

    QList<QByteArray> out(n);
    QByteArray low;
    for (qsizetype i = 0; i < n;) {
        if (kept[i]) {
            out[i] = keys[i];
            low = keys[i];
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && !kept[end])
            ++end;
        const QByteArray high = end < n ? keys[end] : QByteArray();
        const QList<QByteArray> fresh = spread(low, high, int(end - i));
        for (qsizetype k = i; k < end; ++k)
            out[k] = fresh[k - i];
        i = end;
    }
    return out;
}

} // namespace orderkey
