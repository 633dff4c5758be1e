#pragma once

// The one rule for every lock file of the program: a lock is live exactly while a process holds
// an flock on it. What the file says (a process id, a host name) and how old it is never make it
// live or stale, so a copy that was killed, or that ran before the machine was renamed, never
// locks the user out, and a copy that runs is never taken for gone.
enum class FlockTry {
    Taken,         // nobody else held it: fd holds it now
    HeldElsewhere, // another open file holds it
    NoFlock,       // the file system offers no flock
};

// Tries to take an flock on fd without waiting: exclusive, or shared with other shared holders.
FlockTry tryFlock(int fd, bool exclusive);
