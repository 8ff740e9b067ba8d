#pragma once

class QIODevice;

// Decodes uuencoded data lines, from the source's current position to its size, and appends
// the bytes to the destination (which is positioned at its end first). Lines end at CR, LF or
// both, and the last line needs no line end. Each line's first character gives its byte count
// ((c - 32) AND 63, so a blank and a backquote both mean 0 and such a line writes nothing);
// groups of 4 characters follow, and characters after the groups the count needs are ignored.
// Bad data is decoded, not refused: a character missing from a short line counts as 255 (all
// bits set), and a "begin" or "end" line passed in is decoded like data, so callers hand over
// only the lines between those two.
// Always true; a failing source or destination raises EStreamError (codec/streamio.h).
bool UUEDecode(QIODevice& source, QIODevice& destination);
