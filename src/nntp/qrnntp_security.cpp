// The news client's part of encryption: the server's capabilities and STARTTLS (RFC 4642).
#include "nntp/qrnntp.h"

#include "nntp/nntpwire.h"

bool TQRNNTP::HasCapability(const QByteArray& capability) const {
    for (int i = 0; i < Capabilities.Count(); ++i) {
        if (nntpwire::IsCapabilityLine(Capabilities[i], capability)) {
            return true;
        }
    }
    return false;
}

void TQRNNTP::NegotiateSecurity() {
    Capabilities.Clear();
    if (Security == TSecurity::None) {
        // Whether the server compresses, it says in its capabilities.
        if (Compress) {
            ReadCapabilities();
        }
        return;
    }
    ReadCapabilities();
    if (Security != TSecurity::StartTls) {
        return;
    }
    // Never on in plain text when encryption was asked for.
    if (!HasCapability("STARTTLS")) {
        throw NNTPError(QStringLiteral("The server does not offer STARTTLS; the connection was "
                                       "closed rather than used unencrypted"));
    }
    const QByteArray reply = Exchange("STARTTLS");
    if (ReplyCode != 382) {
        throw NNTPError(QStringLiteral("The server refused STARTTLS: ") +
                        QString::fromLatin1(nntpwire::StripLineEnd(reply)));
    }
    StartEncryption();
    // RFC 4642: what the server said before the handshake no longer counts.
    ReadCapabilities();
}

void TQRNNTP::ReadCapabilities() {
    // Sent without the login recovery of Transaction: no account data goes out before the
    // connection is encrypted.
    Exchange("CAPABILITIES");
    // 101 introduces the list; an older server answers 500 and has none to tell.
    if (ReplyCode == 101) {
        ReadTillDot(Capabilities, QByteArray());
    } else {
        Capabilities.Clear();
    }
}
