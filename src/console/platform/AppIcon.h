#pragma once

#include <QIcon>

// The window icon, drawn in 16 colours at 32 by 32 and 16 by 16 pixels.
QIcon appIcon();
