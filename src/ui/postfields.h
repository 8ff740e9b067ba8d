#pragma once

#include "util/exception.h"

#include <QByteArray>
#include <QString>

// What the posting page's fields say about where a post goes, and the signature put under it:
// no widgets here, so that the window only shows and asks.

// A field that cannot go out as it is; the message says which field and why.
class EPostField : public Exception {
public:
    using Exception::Exception;
};

// The word of a Followup-To that asks for replies by mail to the author (RFC 5536, 3.2.6).
inline constexpr char kFollowupToPoster[] = "poster";

// The groups of a Newsgroups or Followup-To field (named fieldName in messages) as the header
// value: names separated by commas, the blanks around each comma removed, empty entries
// dropped. Raises EPostField for a list without names and for a name with blanks, control
// characters or other than ASCII inside. Newsgroups refuses "poster" with the text that says
// the author asked for replies by mail; Followup-To takes it, alone.
QByteArray CheckedNewsgroups(const QString& field);
QByteArray CheckedFollowupTo(const QString& field);

// The message for a reply to an article whose Followup-To is "poster".
QString ReplyByMailText();

// Where a reply to an article goes: its Followup-To when it has one, else its Newsgroups,
// else the group it was read in.
QString ReplyGroups(const QString& followupTo, const QString& newsgroups, const QString& groupRead);

// The signature file's path as the settings keep it when none is chosen.
inline constexpr char kDefaultSignatureFile[] = "~/.signature";
// Signatures are a few lines; a file larger than this is taken for a mistake.
inline constexpr qint64 kMaxSignatureBytes = 4096;

// A signature file read: its text (line ends at its end removed; empty when there is none to
// append) and, when something is to be said about it, what.
struct TSignature {
    QString text;
    QString notice;
};

// Reads the signature file; a leading "~/" stands for the home folder. An empty path or a
// missing file gives no signature and nothing to say. A folder, a pipe or device, a file that
// cannot be read and one over kMaxSignatureBytes give no signature and a notice saying why; a
// file that is not UTF-8 is read as Latin-1, and the notice says so.
TSignature ReadSignature(const QString& path);

// The line that separates a signature from the text above it: dash, dash, blank.
inline constexpr char kSignatureSeparator[] = "-- ";

// An article's text without its signature: its last line that is exactly the separator,
// the line end before it and everything after it are left out. Text without such a line comes
// back whole.
QString WithoutSignature(const QString& text);
