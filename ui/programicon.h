#pragma once
#include <QIcon>

// The program's own icon, carried inside the program: the window, its message boxes and the
// notification-area icon show it without any file to find. The same drawing is installed for the
// desktop's menus.
QIcon ProgramIcon();
