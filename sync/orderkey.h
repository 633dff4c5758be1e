#pragma once

#include <QByteArray>
#include <QList>

// Keys that place a card in its list: strings of 0-9 and a-z that sort as the entries stand, with
// room between any two, so that a move or an insertion gives a new key to the entries it touches
// and to no other.
namespace orderkey {

// Whether key is one of ours: not empty, 0-9 and a-z only, not ending in '0' (which would leave no
// room before it).
bool isValid(const QByteArray &key);

// A key after low and before high; an empty low is the start, an empty high the end.
QByteArray between(const QByteArray &low, const QByteArray &high);

// count keys, increasing, after low and before high, spread so that they stay short.
QList<QByteArray> spread(const QByteArray &low, const QByteArray &high, int count);

// keys as they stand in a list (empty: none): the longest strictly increasing run keeps its keys,
// every other position gets a new key between its neighbours.
QList<QByteArray> renumbered(const QList<QByteArray> &keys);

} // namespace orderkey
