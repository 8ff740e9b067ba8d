#pragma once

// Runs a codec over bytes in memory, the way the news client hands it buffers.

#include "codec/streamio.h"
#include "fuzzsupport.h"

#include <QBuffer>

namespace fuzz {

// What convert writes for input; convert takes (source, destination) devices.
template <typename Convert>
QByteArray Converted(const QByteArray& input, Convert convert) {
    QByteArray source = input;
    QBuffer sourceDevice(&source);
    sourceDevice.open(QIODevice::ReadOnly);
    QByteArray output;
    QBuffer destination(&output);
    destination.open(QIODevice::ReadWrite);
    convert(sourceDevice, destination);
    destination.close();
    return output;
}

// Decodes bytes from a server or a file: the codecs' own exceptions (invalid data, an input
// that ends inside an escape) are the expected refusals; anything else is a fault.
template <typename Decode>
void DecodeUntrusted(const QByteArray& input, Decode decode) {
    try {
        Converted(input, decode);
    } catch (const Exception&) {
    }
}

// Encoding and then decoding gives back every input.
template <typename Encode, typename Decode>
void CheckRoundTrip(const QByteArray& input, Encode encode, Decode decode, const char* codec) {
    const QByteArray encoded = Converted(input, encode);
    if (Converted(encoded, decode) != input) {
        Fail(codec);
    }
}

} // namespace fuzz
