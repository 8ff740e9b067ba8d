#pragma once

class QIODevice;

// Decodes Base64 text, from the source's current position to its size, and appends the bytes
// to the destination (positioned at its end first).
// The text is taken line by line; a line ends at CR, LF or "=", so the padding ends a line and
// text after it is decoded as a line of its own. A line of L characters yields at most
// (L * 3) div 4 bytes, taken in groups of 4 characters: a character outside the alphabet in
// the third or fourth place of a group ends the group early, and one in the first or second
// place, or a group cut short there by the line's end, raises the general exception
// "Invalid data encountered within stream" (the bytes of earlier lines are already written).
// Always true otherwise; a failing source or destination raises EStreamError
// (codec/streamio.h).
bool B64Decode(QIODevice& source, QIODevice& destination);
