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

// The system's text for the calling thread's last error, trimmed.
QString LastErrorText();
