#pragma once

// a * b / c rounded to the nearest integer, halves away from zero, as the layouts of the dialogs
// scale their sizes; -1 when c is 0.
int MulDiv(int a, int b, int c);
