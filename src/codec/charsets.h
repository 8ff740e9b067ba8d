#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text from the bytes of an article: the one conversion from a charset to Unicode. Qt's
// decoders serve the names Qt knows; glibc's iconv serves the rest (ISO-8859-16 among them).
// No conversion table is kept here.

// Bytes that declare no charset: UTF-8 when they are valid UTF-8, else Windows-1252, the
// code page the reader has always shown. Windows-1252's five unassigned bytes become the
// control characters of the same number, so no byte is lost.
QString TextOfUndeclaredBytes(QByteArrayView bytes);

// Bytes in the named charset (any letter case, "utf-8", "KOI8-R", "iso-2022-jp" ...). An empty
// name counts as undeclared. A name that neither Qt nor iconv knows is decoded as undeclared
// bytes and clears *known, so that the caller can say so; *known stays untouched otherwise.
// Bytes the charset does not allow become U+FFFD. As real programs write them, 8-bit bytes
// declared US-ASCII are read as undeclared, and ISO-8859-1 as Windows-1252.
QString TextOfCharset(QByteArrayView bytes, QByteArrayView charset, bool* known = nullptr);

// True when TextOfCharset can decode the named charset.
bool IsKnownCharset(QByteArrayView charset);

// True when the named charset is known and reads every ASCII byte as itself, wherever it
// stands, so that plain ASCII text in it needs no conversion. Not so for the stateful
// charsets (UTF-7, the ISO-2022 family, HZ), nor for UTF-16 or EBCDIC.
bool IsAsciiCompatibleCharset(QByteArrayView charset);

// True when the bytes are valid UTF-8 (plain ASCII is).
bool IsValidUtf8(QByteArrayView bytes);

// True when every byte is below 0x80.
bool IsAscii(QByteArrayView bytes);
