#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>

// The directory of the program's own files (settings), ending in a separator. Computed on the
// first call from the running executable and kept for the run.
const QString& ProgramDir();

// The rule behind ProgramDir for an executable at executablePath: a non-empty file
// "redirect_exes.txt" beside the executable names the directory to use instead; a relative
// result is taken against the current directory; a directory that cannot be written, and
// without a redirect a directory named "bin" (the program is installed), is replaced by the
// user's configuration directory for the program ($XDG_CONFIG_HOME/<application name>).
QString ProgramDirFor(const QString& executablePath);

// The folder of the user's data of the program: $XDG_DATA_HOME/zknews/, $XDG_DATA_HOME defaulting
// to ~/.local/share (the XDG rules ignore a relative value). Ends in a separator; not created.
QString UserDataDir();

// Waits the given milliseconds in slices of at most one second, processing events all the
// while. Handlers of the window may run inside it.
void IdleWait(int milliseconds);

// How OpenFileRetry opens a file: reading, writing from empty (created when missing), or
// appending (created when missing). Always byte for byte, without line-end translation.
enum class TOpenMode { Read, Write, Append };

// Opens name, trying 10 times with short waits in between (another program may hold the file
// for a moment). nullptr when every attempt failed; LastErrorText then tells why.
std::unique_ptr<QFile> OpenFileRetry(const QString& name, TOpenMode mode);

// Size in bytes; 0 when the name is empty, the file is missing or unreadable, or empty.
qint64 FileSizeOf(const QString& name);

// The file's exact bytes; empty for a missing or empty file (silently) or on failure (with a
// message).
QByteArray LoadTextFile(const QString& name);

// Writes data as the whole file, or appends it when the name starts with "+". True on success;
// failures are reported with a message.
bool SaveTextFile(const QString& name, const QByteArray& data);

// A file name taken from an article or a post, reduced to a plain name that cannot leave the
// directory it is joined to and shows as what it is: the last part of any path (either
// slash); control characters (C0, DEL, C1), format characters (bidirectional controls such as
// U+202E, zero-width characters, the byte order mark) and line and paragraph separators
// dropped; blanks at either end trimmed; a name longer than kMaxPlainFileNameBytes in UTF-8
// shortened before its extension. "", "." and ".." give fallback.
QString PlainFileName(const QString& name, const QString& fallback);

// Room is left below the 255 bytes a file system takes for a name, for the "_n" of a taken
// name and for the words a working folder named after the file adds.
constexpr qsizetype kMaxPlainFileNameBytes = 200;

// The directory with a "/" at its end, added when it has none.
QString WithSeparator(const QString& dir);

// The system's text for the calling thread's last error, trimmed.
QString LastErrorText();
