#include "ui/settingsfiles.h"

#include "util/filehelpers.h"
#include "util/presenter.h"
#include "util/texthelpers.h"

#include <QFile>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QByteArray AccountField(const QByteArray& text, qint32 n) {
    return TrimBlanksAndControls(NthField(text, QByteArrayLiteral("\n"), n));
}

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

TAccountSettings ParseAccountSettings(const QByteArray& text) {
    return {AccountField(text, 1), AccountField(text, 2), AccountField(text, 3),
            AccountField(text, 4)};
}

QByteArray AccountSettingsText(const TAccountSettings& settings) {
    const QByteArray lineEnd = QByteArrayLiteral("\r\n");
    return settings.fromAddress + lineEnd + settings.replyTo + lineEnd + settings.userId + lineEnd +
           settings.password;
}

bool SaveOwnerOnlyFile(const QString& name, const QByteArray& data) {
    if (!RestrictToOwner(name)) {
        return false;
    }
    return SaveTextFile(name, data);
}
