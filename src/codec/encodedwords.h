#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// RFC 2047 encoded words ("=?UTF-8?B?WsO2ZQ==?=") in header fields. Never applied to fields
// that hold identifiers (Message-ID, References): their bytes are compared, not read.

// The text of an unfolded header field value: each well-formed encoded word (B or Q, any
// charset TextOfCharset knows, an RFC 2231 language suffix "*en" ignored) decoded; blanks
// between two encoded words dropped (RFC 2047, section 6.2); adjacent words of one charset
// decoded together, so that a character split between them comes out whole; control
// characters inside encoded words become blanks, the field staying one line. A malformed word
// stays as it stands; the rest of the value is undeclared bytes (UTF-8, else Windows-1252).
QString DecodeEncodedWords(QByteArrayView value);

// Whether an encoded word may begin in value: an "=" with a "?" after it. Cheap enough to ask
// of every field of a listing before decoding it.
bool MayHoldEncodedWords(QByteArrayView value);

// The value bytes for a header field whose name is nameLength characters long: ASCII text
// unchanged; otherwise UTF-8, the words from the first to the last that are not ASCII as
// B-encoded words of at most 75 characters, the field folded (CR LF and a blank) so that no
// line, "Name: " included, passes 76 characters.
QByteArray EncodeEncodedWords(const QString& value, qsizetype nameLength);
