// The news client's part of compression (RFC 8054): asking for it and what a failure does.
#include "nntp/qrnntp.h"

#include "nntp/nntpwire.h"

namespace {

// True when a line of capabilities is label followed, among its arguments, by argument:
// "COMPRESS GZIP DEFLATE", "AUTHINFO USER SASL".
bool Offers(const TStringList& capabilities, const QByteArray& label, const QByteArray& argument) {
    for (int i = 0; i < capabilities.Count(); ++i) {
        if (!nntpwire::IsCapabilityLine(capabilities[i], label)) {
            continue;
        }
        const QList<QByteArray> words = capabilities[i].simplified().split(' ');
        for (qsizetype w = 1; w < words.size(); ++w) {
            if (words[w].compare(argument, Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

void TQRNNTP::NegotiateCompression(bool loggedIn) {
    if (!Compress || Compressed() || !Offers(Capabilities, "COMPRESS", "DEFLATE")) {
        return;
    }
    // Credentials are never compressed, as RFC 8054 warns: while the server offers a login with
    // user and password that has not been made, compression waits for it.
    compressionAfterLogin_ = !loggedIn && Offers(Capabilities, "AUTHINFO", "USER");
    if (!compressionAfterLogin_) {
        // Sent without the login recovery of Transaction: a 480 means the login comes first.
        const QByteArray reply = Exchange("COMPRESS DEFLATE");
        compressionAfterLogin_ = ReplyCode == 480;
        if (!compressionAfterLogin_) {
            TakeCompressionReply(reply);
            return;
        }
    }
    StatusMessage(1, QStringLiteral("Compression waits for the login"));
}

void TQRNNTP::TakeCompressionReply(const QByteArray& reply) {
    if (ReplyCode != 206) {
        const QString refusal = QStringLiteral("The server refused compression (") +
                                QString::fromLatin1(nntpwire::StripLineEnd(reply)) +
                                QStringLiteral("); the connection goes on uncompressed");
        StatusMessage(1, refusal);
        if (OnCompressionFailed) {
            OnCompressionFailed(this, static_cast<quint16>(std::max<qint16>(ReplyCode, 0)),
                                refusal);
        }
        return;
    }
    StartCompression();
    // Garbage right behind the 206 line is told now, not at the next command.
    RaiseIfStreamFailed();
}

void TQRNNTP::FailCompressedStream(const QString& reason) {
    if (OnCompressionFailed) {
        OnCompressionFailed(this, 0, reason);
    }
    FailOutOfStep(reason);
}
