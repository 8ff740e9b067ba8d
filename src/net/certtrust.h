#pragma once

#include "util/presenter.h"

#include <QByteArray>
#include <QList>
#include <QSslError>
#include <QString>

class QSslCertificate;

// A server certificate the user chose to trust although it could not be verified: its
// SHA-256 digest, bound to the server (host and port) it was presented by.
struct TCertificatePin {
    QString host;
    int port = 0;
    QByteArray sha256;

    bool operator==(const TCertificatePin&) const = default;
};
using TCertificatePins = QList<TCertificatePin>;

namespace certtrust {

// "SHA256:" and the digest in upper-case hex, as the settings and the command line write it.
QByteArray FingerprintText(const QByteArray& digest);
// The digest written as "SHA256:HEX" (the prefix in any case, the hex digits in either case,
// pairs optionally separated by colons); empty for anything else.
QByteArray ParseFingerprint(const QByteArray& text);
// The digest as people compare it: "AB:CD:...".
QString DisplayFingerprint(const QByteArray& digest);

// The pin kept for host (letter case aside) and port; nullptr when there is none.
const TCertificatePin* FindPin(const TCertificatePins& pins, const QString& host, int port);
// Keeps pin, in place of any pin for the same server.
void KeepPin(TCertificatePins& pins, const TCertificatePin& pin);

// What the user is asked about certificate, presented by host:port with errors; changed says
// that another certificate is kept as trusted for that server.
TCertificateQuestion Question(const QSslCertificate& certificate, const QList<QSslError>& errors,
                              const QString& host, int port, bool changed);
// The message of a connection refused because of that question's certificate: it says
// "certificate", the errors and the certificate's digest.
QString RefusalText(const TCertificateQuestion& question);

} // namespace certtrust
