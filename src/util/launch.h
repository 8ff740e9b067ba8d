#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// Launching a piece of text (a link, a file path) with the program the desktop associates with
// it. The decision is made here; LaunchText (util/launchtext.h) carries it out.

// True when the text is treated as a link: it starts, in any letter case, with "http://",
// "https://", "ftp://", "www.", "news://" or "file://", or with "/".
bool IsUrl(const QString& text);

// The extension whose associated program opens the text: ".htm" for a link or an HTML file
// name followed by an anchor, otherwise the text's own extension (possibly empty). None for
// executable file types, whose programs are never looked up.
std::optional<QString> LookupExtension(const QString& text);

// The text as the single argument it becomes: double quotes that enclose it (as a command line
// would have needed) are removed; blanks need no quoting. A text that begins with "-" becomes
// the absolute path of that name in the current directory, so that no program takes it for an
// option.
QString LaunchArgument(const QString& text);

// The command (program and its fixed arguments) that the desktop's default application for
// files with this extension (".htm") runs; empty when there is none. The launched text is
// appended to it as one more argument. The desktop's MIME database knows a file's type from
// its name alone, so no throw-away file is needed to ask.
QStringList FindAssociatedProgram(const QString& extension);

// n random capital letters "A" to "Z"; empty for n of 0 or less.
QString RandomLetters(qint32 n);

// Deletes the file, retrying while it is held; after 100 failures asks whether to go on.
// True when the file is gone.
bool DeleteFileRetry(const QString& name);

// One line describing the file for messages: size, modification time and attribute letters.
QString FileDetails(const QString& name);

// Starts program with arguments, never through a shell. With wait, returns only after it has
// ended, keeping the window responsive. The process identifier, or -1 (with a message) when it
// could not be started.
qint64 RunProgram(const QString& program, const QStringList& arguments, bool wait);
