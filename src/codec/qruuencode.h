#pragma once

class QIODevice;

// Uuencodes the whole source, from position 0 to its size, into data lines appended to the
// destination (which is positioned at its end first). Every line is a length character (the
// byte count mapped: 1..63 to "!".."_", 0 to the backquote) followed by 4 characters per started
// group of 3 bytes and CR LF; a full line carries 45 bytes in 61 characters starting with "M".
// The last line is the short rest of the data, or, when the length is a multiple of 45
// (including the empty source), a line holding only the backquote.
// No "begin" or "end" line is written: the poster wraps the lines in its own.
// Always true; a failing source or destination raises EStreamError (codec/streamio.h).
bool UUEEncode(QIODevice& source, QIODevice& destination);
