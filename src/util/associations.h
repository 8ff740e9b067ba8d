#pragma once

#include <QString>
#include <QStringList>

// The desktop's default application for a MIME type, as the user or the desktop recorded it
// in the "[Default Applications]" groups of the XDG mimeapps.list files: the command of its
// desktop entry (program and fixed arguments, field codes dropped). Empty when no entry names
// a program that can be found and run.
QStringList DefaultApplicationCommand(const QString& mimeType);
