#pragma once

// The whole run of the program: one copy per user, the main window and the entry dialog, the event
// loop. Always ends with 0.
int runPorAddr(int &argc, char **argv);
