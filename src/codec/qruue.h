#pragma once

#include "net/nwire.h"

#include <QObject>

class QIODevice;

// The conversions TQRUUProcessor offers.
enum UUMethods { uuMime = 0, uuCode = 1, uuQP = 2, uuNONE = 3 };

// Converts InputStream into OutputStream with one Method: Base64 (uuMime, codec/qr64encode.h
// and codec/qr64decode.h), uuencode data lines (uuCode, codec/qruuencode.h and
// codec/qruudecode.h), quoted-printable (uuQP, QPEncode and QPDecode below) or a plain copy
// (uuNONE). The news client makes one per job: it posts attachments with Encode and saves
// them with Decode, both with uuCode. The processor only borrows the two streams; the caller
// creates, positions and frees them.
class TQRUUProcessor : public QObject {
    Q_OBJECT
public:
    explicit TQRUUProcessor(QObject* owner = nullptr);

    // Published properties.
    UUMethods Method = uuMime;
    QIODevice* InputStream = nullptr;
    QIODevice* OutputStream = nullptr;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // Encodes the whole InputStream into OutputStream: OnBeginEncode, the conversion, both
    // streams back at position 0, OnEndEncode. The Base64 and uuencode encoders append to the
    // output; quoted-printable and the copy write at its current position.
    // A missing stream raises the general exception "No input or output stream for the codec";
    // the codec's own failures pass through, and then OnEndEncode is not raised.
    void Encode();

    // As Encode, decoding, with OnBeginDecode and OnEndDecode. uuNONE copies the input, as
    // Encode does, so a caller that chooses no conversion still gets its data.
    void Decode();

    // Quoted-printable (RFC 2045), from the input's current position to its end, written at
    // the output's current position. Bytes 0x23..0x3C and 0x3F..0x7D and the line ends CR and
    // LF stand as themselves, every other byte becomes "=" and two upper-case hexadecimal
    // digits. A TAB or blank stands as itself when a printed character follows it before the
    // next CR, and is encoded when a CR follows first or the input ends. It looks no further
    // than the end of its window: the input falls into windows of 1024 bytes, each starting
    // where the one before it ended, and a look-ahead that reaches its window's end before
    // examining 76 bytes widens the window by 76 bytes. Once a line holds
    // more than 76 characters, a soft line break "=" CR LF comes before the next byte that is
    // not a CR, so a line may reach 79 characters before its "=".
    static void QPEncode(QIODevice& input, QIODevice& output);

    // Reverses QPEncode: "=" CR and the byte after it (normally LF) are a soft line break and
    // vanish; "=" and two digits become one byte (only "0".."9" and "A".."F" are digits;
    // anything else is decoded by the same arithmetic, without an error); every other byte
    // stands as itself. An input that ends within two bytes of an "=" raises EStreamError
    // "Stream read error" (codec/streamio.h), once what comes before that "=" is written.
    static void QPDecode(QIODevice& input, QIODevice& output);

private:
    void Convert(bool encoding);
    void Fire(const TNotifyEvent& event);
    void RequireStreams() const;
};
