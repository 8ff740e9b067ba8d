#include "ui/settingsfiles.h"

#include "codec/charsets.h"
#include "util/filehelpers.h"
#include "util/presenter.h"
#include "util/texthelpers.h"

#include <QFile>
#include <optional>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

constexpr int kAccountFields = 4;

QByteArray AccountField(const QByteArray& text, qint32 n) {
    return TrimBlanksAndControls(NthField(text, QByteArrayLiteral("\n"), n));
}

struct TSecurityName {
    TSecurity security;
    const char* name;
};
constexpr TSecurityName kSecurityNames[] = {
    {TSecurity::None, "none"}, {TSecurity::Tls, "tls"}, {TSecurity::StartTls, "starttls"}};

// A path that the account file can hold: one that a line break inside would cut in two is
// neither written nor read.
bool IsPathOnOneLine(const QByteArray& path) {
    return !path.contains('\n') && !path.contains('\r');
}

// The path of a "KEY PATH" line: the rest of the line, since a path may hold blanks; nullopt
// for one that cannot stand on one line.
std::optional<QByteArray> PathOfLine(const QByteArray& line, const QByteArray& key) {
    const QByteArray path = TrimBlanksAndControls(TrimBlanksAndControls(line).mid(key.size()));
    return IsPathOnOneLine(path) ? std::optional<QByteArray>(path) : std::nullopt;
}

// "security WORD", "trust HOST PORT SHA256:HEX", "offline", "no-compress", "pipeline N",
// "subscribed-only", "signature PATH" or "attachment-folder PATH"; anything else changes
// nothing.
void ReadSettingLine(const QByteArray& line, TAccountSettings& settings) {
    const QList<QByteArray> words = TrimBlanksAndControls(line).split(' ');
    const QByteArray key = words.value(0).toLower();
    if (key == "signature") {
        settings.signatureFile = PathOfLine(line, key).value_or(settings.signatureFile);
    } else if (key == "attachment-folder") {
        settings.attachmentFolder = PathOfLine(line, key).value_or(settings.attachmentFolder);
    } else if (key == "security" && words.size() == 2) {
        for (const TSecurityName& entry : kSecurityNames) {
            if (words[1].toLower() == entry.name) {
                settings.security = entry.security;
            }
        }
    } else if (key == "offline" && words.size() == 1) {
        settings.workOffline = true;
    } else if (key == "no-compress" && words.size() == 1) {
        settings.compress = false;
    } else if (key == "pipeline" && words.size() == 2) {
        bool isNumber = false;
        const int depth = words[1].toInt(&isNumber);
        if (isNumber && depth >= 1 && depth <= TQRNNTP::kMaxPipelineDepth) {
            settings.pipelineDepth = depth;
        }
    } else if (key == "subscribed-only" && words.size() == 1) {
        settings.subscribedOnly = true;
    } else if (key == "trust" && words.size() == 4) {
        bool isNumber = false;
        const int port = words[2].toInt(&isNumber);
        const QByteArray digest = certtrust::ParseFingerprint(words[3]);
        if (isNumber && port > 0 && port <= 65535 && !words[1].isEmpty() && !digest.isEmpty()) {
            certtrust::KeepPin(settings.trustedCertificates,
                               TCertificatePin{QString::fromUtf8(words[1]), port, digest});
        }
    }
}

} // namespace

QString SecurityName(TSecurity security) {
    for (const TSecurityName& entry : kSecurityNames) {
        if (entry.security == security) {
            return QString::fromLatin1(entry.name);
        }
    }
    return QString();
}

TSecurity SecurityNamed(const QString& name) {
    for (const TSecurityName& entry : kSecurityNames) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            return entry.security;
        }
    }
    return TSecurity::None;
}

namespace {

// Creates a missing file with owner-only permissions; an existing one is restricted before
// anything new is written into it. A file that cannot be restricted is reported and not
// written.
bool RestrictToOwner(const QString& name) {
    QFile file(name);
    const bool restricted = file.exists() ? file.setPermissions(kOwnerOnly)
                                          : file.open(QIODevice::WriteOnly, kOwnerOnly);
    if (!restricted) {
        ShowInfo(QStringLiteral("Could not Open ") + name + QStringLiteral("\r\n") +
                 file.errorString());
    }
    return restricted;
}

} // namespace

QByteArray SettingsFileUtf8(const QByteArray& fileBytes) {
    return IsValidUtf8(fileBytes) ? fileBytes : TextOfUndeclaredBytes(fileBytes).toUtf8();
}

TAccountSettings ParseAccountSettings(const QByteArray& text) {
    TAccountSettings settings;
    settings.fromAddress = AccountField(text, 1);
    settings.replyTo = AccountField(text, 2);
    settings.userId = AccountField(text, 3);
    settings.password = AccountField(text, 4);
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = kAccountFields; i < lines.size(); ++i) {
        ReadSettingLine(lines[i], settings);
    }
    return settings;
}

QByteArray AccountSettingsText(const TAccountSettings& settings) {
    const QByteArray lineEnd = QByteArrayLiteral("\r\n");
    QByteArray text = settings.fromAddress + lineEnd + settings.replyTo + lineEnd +
                      settings.userId + lineEnd + settings.password;
    for (const TSecurityName& entry : kSecurityNames) {
        if (settings.security == entry.security && entry.security != TSecurity::None) {
            text += lineEnd + "security " + entry.name;
        }
    }
    if (settings.workOffline) {
        text += lineEnd + "offline";
    }
    if (!settings.compress) {
        text += lineEnd + "no-compress";
    }
    if (settings.pipelineDepth != TQRNNTP::kDefaultPipelineDepth) {
        text += lineEnd + "pipeline " + QByteArray::number(settings.pipelineDepth);
    }
    if (settings.subscribedOnly) {
        text += lineEnd + "subscribed-only";
    }
    if (settings.signatureFile != kDefaultSignatureFile &&
        IsPathOnOneLine(settings.signatureFile)) {
        text += lineEnd + "signature " + settings.signatureFile;
    }
    if (!settings.attachmentFolder.isEmpty() && IsPathOnOneLine(settings.attachmentFolder)) {
        text += lineEnd + "attachment-folder " + settings.attachmentFolder;
    }
    for (const TCertificatePin& pin : settings.trustedCertificates) {
        text += lineEnd + "trust " + pin.host.toUtf8() + ' ' + QByteArray::number(pin.port) + ' ' +
                certtrust::FingerprintText(pin.sha256);
    }
    return text;
}

bool SaveOwnerOnlyFile(const QString& name, const QByteArray& data) {
    if (!RestrictToOwner(name)) {
        return false;
    }
    return SaveTextFile(name, data);
}
