#pragma once

#include <QtGlobal>

// Positions and sizes of the window's controls are given in twips, 1440 to the
// inch; the screen's logical DPI turns them into pixels (15 twips make one
// pixel at 96 DPI).
constexpr int twipsToPixels(int twips, int logicalDpi)
{
    return (twips * logicalDpi + 720) / 1440;
}
