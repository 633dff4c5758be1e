#include "widgets/muldiv.h"

#include <QtGlobal>

#include <cstdlib>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const qint64 product = qint64(a) * b;
    const qint64 magnitude = (std::abs(product) * 2 + std::abs(qint64(c))) / (2 * std::abs(qint64(c)));
    return int(((product < 0) != (c < 0)) ? -magnitude : magnitude);
}
