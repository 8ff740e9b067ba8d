#pragma once

class QIODevice;

// Base64-encodes the whole source, from position 0 to its size, with the alphabet of RFC 2045
// (A-Z, a-z, 0-9, "+", "/", padding "="), appending to the destination (positioned at its end
// first). Lines carry 60 characters (45 input bytes) and end with CR LF; the last, shorter
// line has no line end, so an input whose length is a multiple of 45 ends with CR LF and an
// empty input writes nothing.
// Always true; a failing source or destination raises EStreamError (codec/streamio.h).
bool B64Encode(QIODevice& source, QIODevice& destination);
