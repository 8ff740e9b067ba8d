#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The n-th field (from 1) of text, fields ending at any of the delimiter characters; two
// delimiters in a row enclose an empty field. A single "\n" when the text has fewer than n
// fields, which a caller that trims its fields sees as empty.
QByteArray NthField(const QByteArray& text, const QByteArray& delimiters, qint32 n);

// Text with the blanks and control characters (everything up to and including the space) at
// both ends removed.
QByteArray TrimBlanksAndControls(const QByteArray& text);
QString TrimBlanksAndControls(const QString& text);

// The smaller of a and b; b when they are equal.
qint64 MinInt64(qint64 a, qint64 b);

// Replaces occurrences of oldText, left to right and never overlapping, or only the first.
// Without caseSensitive, ASCII letters match in either case; the text outside the
// occurrences is never changed.
QByteArray ReplaceText(const QByteArray& text, const QByteArray& oldText, const QByteArray& newText,
                       bool caseSensitive, bool firstOnly);
QByteArray ReplaceAll(const QByteArray& text, const QByteArray& oldText, const QByteArray& newText,
                      bool caseSensitive);

// Decodes a base64 article body (lines joined). Empty when the text is not valid base64.
// A body prefixed with "~" is decoded into a new file "zk64_<letters>.<ext>" in ProgramDir,
// the extension sniffed from the data; the result is then "~" and the file's full name (or the
// decoded bytes when the file cannot be written).
QByteArray DecodeBase64Text(const QByteArray& body);

// The file extension (without dot) for decoded data, from its leading bytes; "bin" when none
// is recognised.
QByteArray SniffExtension(const QByteArray& data);
