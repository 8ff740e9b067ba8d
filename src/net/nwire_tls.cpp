// Encryption of the connection: the TLS handshake, the verification of the server's
// certificate and what happens when it fails.
#include "net/nwire.h"

#include "net/protocollog.h"
#include "util/finally.h"

#include <QCryptographicHash>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

void TNetwire::StartEncryption() {
    StatusMessage(8, QStringLiteral("Starting TLS"));
    protocollog::Note("TLS handshake starts");
    // Bytes that came in plain text after the server agreed to encrypt could have been put
    // there by anyone on the way (RFC 4642): they are dropped.
    Fifo->Clear();
    QSslConfiguration configuration = socket_->sslConfiguration();
    configuration.addCaCertificates(ExtraCaCertificates);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(configuration);
    socket_->setPeerVerifyName(Host);
    socket_->setPauseMode(QAbstractSocket::PauseOnSslErrors);
    socketErrorText_.clear();
    certificateRefusal_.clear();
    pausedOnCertificate_ = false;
    socket_->startClientEncryption();
    TimerOn();
    WithFinally([this] { AwaitHandshake(); }, [this] { TimerOff(); });
    if (!Connected || !socket_->isEncrypted()) {
        FailHandshake();
    }
    const QString description = EncryptionDescription();
    protocollog::Note("TLS established: " + description.toLatin1());
    StatusMessage(1, QStringLiteral("Encrypted: ") + description);
    if (OnEncrypted && !Destroying) {
        OnEncrypted(this);
    }
}

void TNetwire::AwaitHandshake() {
    for (;;) {
        WaitUntil([this] {
            return !Connected || TimedOut || pausedOnCertificate_ || socket_->isEncrypted();
        });
        if (!pausedOnCertificate_ || Canceled || !Connected) {
            return;
        }
        pausedOnCertificate_ = false;
        // The user takes the time they need over the question.
        TimerOff();
        const bool trusted = TrustDespite(certificateErrors_);
        TimerOn();
        if (!trusted || Canceled || !Connected) {
            return;
        }
        // Exactly the errors that were decided on, nothing else.
        socket_->ignoreSslErrors(certificateErrors_);
        socket_->resume();
    }
}

bool TNetwire::TrustDespite(const QList<QSslError>& errors) {
    const QSslCertificate certificate = socket_->peerCertificate();
    if (certificate.isNull()) {
        certificateRefusal_ = QStringLiteral("Server certificate missing: the server sent none");
        return false;
    }
    const QByteArray digest = certificate.digest(QCryptographicHash::Sha256);
    const TCertificatePin* kept = certtrust::FindPin(TrustedCertificates, Host, Port);
    if (kept != nullptr && kept->sha256 == digest) {
        StatusMessage(8, QStringLiteral("Certificate kept as trusted"));
        return true;
    }
    const TCertificateQuestion question =
        certtrust::Question(certificate, errors, Host, Port, kept != nullptr);
    switch (AskAboutCertificate(question)) {
    case TCertificateAnswer::ConnectOnce:
        return true;
    case TCertificateAnswer::AlwaysTrust:
        certtrust::KeepPin(TrustedCertificates, TCertificatePin{Host, Port, digest});
        return true;
    case TCertificateAnswer::Cancel:
        break;
    }
    certificateRefusal_ = certtrust::RefusalText(question);
    return false;
}

void TNetwire::FailHandshake() {
    QString reason;
    if (TimedOut) {
        reason = QStringLiteral("TLS handshake timed out");
    } else if (Canceled) {
        reason = QStringLiteral("TLS handshake canceled");
    } else if (!certificateRefusal_.isEmpty()) {
        reason = certificateRefusal_;
    } else {
        reason = QStringLiteral("TLS handshake failed: ") +
                 (socketErrorText_.isEmpty() ? QStringLiteral("the server closed the connection")
                                             : socketErrorText_);
    }
    // A time-out cancels too; either is told here, and the flag is left clear as a read leaves it.
    Canceled = false;
    protocollog::Note("TLS failed: " + reason.toLatin1());
    if (Connected) {
        RequestCloseSocket();
    }
    throw ESockError(reason);
}

bool TNetwire::Encrypted() const {
    return socket_ != nullptr && socket_->isEncrypted();
}

QString TNetwire::EncryptionDescription() const {
    if (!Encrypted()) {
        return QString();
    }
    const QSslCipher cipher = socket_->sessionCipher();
    return cipher.protocolString() + QStringLiteral(", ") + cipher.name();
}
