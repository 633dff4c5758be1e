#include "platform/lockrule.h"

#include <cerrno>
#include <sys/file.h>

FlockTry tryFlock(int fd, bool exclusive)
{
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return FlockTry::Taken;
    return errno == EWOULDBLOCK ? FlockTry::HeldElsewhere : FlockTry::NoFlock;
}
