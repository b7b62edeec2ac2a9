#pragma once

#include <QIcon>

// The window icon: ./motor.png from the working directory, where the menu
// entry starts the panel; started elsewhere (from a terminal), the icon
// theme's "movexa", which finds the installed hicolor pictures.
QIcon WindowIcon();
