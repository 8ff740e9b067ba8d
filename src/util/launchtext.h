#pragma once

#include <QString>

// Hands a piece of text from an article (a link, a file path) to the program the desktop
// associates with it: the default application's program with the text as its one extra
// argument, or else the desktop's open service. Never through a shell. A text of blanks does
// nothing.
void LaunchText(const QString& text);
