#pragma once

// The properties every codec target checks on its input, run over bytes in memory.

#include "codec/streamio.h"
#include "fuzzsupport.h"
#include "testhelpers.h"

namespace fuzz {

// Decodes bytes from a server or a file: the codecs' own exceptions (invalid data, an input
// that ends inside an escape) are the expected refusals; anything else is a fault.
template <typename Decode> void DecodeUntrusted(const QByteArray& input, Decode decode) {
    try {
        Convert(decode, input);
    } catch (const Exception&) {
    }
}

// Encoding and then decoding gives back every input.
template <typename Encode, typename Decode>
void CheckRoundTrip(const QByteArray& input, Encode encode, Decode decode, const char* codec) {
    const QByteArray encoded = Convert(encode, input);
    if (Convert(decode, encoded) != input) {
        Fail(codec);
    }
}

} // namespace fuzz
