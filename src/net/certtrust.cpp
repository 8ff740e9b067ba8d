#include "net/certtrust.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSslCertificate>
#include <algorithm>
#include <cctype>

namespace certtrust {
namespace {

constexpr char kSha256Prefix[] = "SHA256:";

// "CN=..., O=..." from the names of a certificate's subject or issuer.
QString DistinguishedName(const QSslCertificate& certificate, bool issuer) {
    const QList<QByteArray> attributes =
        issuer ? certificate.issuerInfoAttributes() : certificate.subjectInfoAttributes();
    QStringList parts;
    for (const QByteArray& attribute : attributes) {
        const QStringList values =
            issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute);
        for (const QString& value : values) {
            parts << QString::fromLatin1(attribute) + QLatin1Char('=') + value;
        }
    }
    return parts.isEmpty() ? QStringLiteral("(none)") : parts.join(QStringLiteral(", "));
}

QString DateText(const QDateTime& moment) {
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

} // namespace

QByteArray FingerprintText(const QByteArray& digest) {
    return kSha256Prefix + digest.toHex().toUpper();
}

QByteArray ParseFingerprint(const QByteArray& text) {
    const QByteArray prefix(kSha256Prefix);
    if (text.size() < prefix.size() || text.left(prefix.size()).toUpper() != prefix) {
        return QByteArray();
    }
    QByteArray hex = text.mid(prefix.size());
    hex.replace(':', QByteArray());
    const bool allHex = std::all_of(hex.cbegin(), hex.cend(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    const QByteArray digest = QByteArray::fromHex(hex);
    return allHex && digest.size() == QCryptographicHash::hashLength(QCryptographicHash::Sha256)
               ? digest
               : QByteArray();
}

QString DisplayFingerprint(const QByteArray& digest) {
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

const TCertificatePin* FindPin(const TCertificatePins& pins, const QString& host, int port) {
    for (const TCertificatePin& pin : pins) {
        if (pin.port == port && pin.host.compare(host, Qt::CaseInsensitive) == 0) {
            return &pin;
        }
    }
    return nullptr;
}

void KeepPin(TCertificatePins& pins, const TCertificatePin& pin) {
    pins.removeIf([&](const TCertificatePin& kept) {
        return kept.port == pin.port && kept.host.compare(pin.host, Qt::CaseInsensitive) == 0;
    });
    pins.append(pin);
}

TCertificateQuestion Question(const QSslCertificate& certificate, const QList<QSslError>& errors,
                              const QString& host, int port, bool changed) {
    TCertificateQuestion question;
    question.server = host + QLatin1Char(':') + QString::number(port);
    question.subject = DistinguishedName(certificate, false);
    question.issuer = DistinguishedName(certificate, true);
    question.validFrom = DateText(certificate.effectiveDate());
    question.validUntil = DateText(certificate.expiryDate());
    question.fingerprint = DisplayFingerprint(certificate.digest(QCryptographicHash::Sha256));
    for (const QSslError& error : errors) {
        question.errors << error.errorString();
    }
    question.changed = changed;
    return question;
}

QString RefusalText(const TCertificateQuestion& question) {
    QString text = QStringLiteral("Server certificate not trusted: ");
    if (question.changed) {
        text += QStringLiteral("it is not the certificate kept as trusted for ") + question.server +
                QStringLiteral("; ");
    }
    // The digest as --trust-fingerprint takes it, for whoever decides to trust it after all.
    return text + question.errors.join(QStringLiteral("; ")) + QStringLiteral(" (SHA256:") +
           question.fingerprint + QLatin1Char(')');
}

} // namespace certtrust
