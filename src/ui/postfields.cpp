#include "ui/postfields.h"

#include "codec/charsets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace {

// A group name travels as it is in the header: printable ASCII, nothing that would split it.
bool IsGroupName(const QString& name) {
    return std::all_of(name.cbegin(), name.cend(),
                       [](QChar c) { return c.unicode() > u' ' && c.unicode() < 0x7F; });
}

QStringList GroupNames(const QString& field, const QString& fieldName) {
    QStringList names;
    for (const QString& entry : field.split(u',')) {
        const QString name = entry.trimmed();
        if (name.isEmpty()) {
            continue;
        }
        if (!IsGroupName(name)) {
            throw EPostField(fieldName + QStringLiteral(": \"") + name +
                             QStringLiteral("\" is not a group name: a name has no blanks, "
                                            "control characters or letters other than ASCII. "
                                            "Separate groups with commas."));
        }
        names << name;
    }
    if (names.isEmpty()) {
        throw EPostField(fieldName +
                         QStringLiteral(" names no group: enter the group to post to."));
    }
    return names;
}

bool IsPoster(const QStringList& names) {
    return names.contains(QLatin1String(kFollowupToPoster), Qt::CaseInsensitive);
}

} // namespace

QString ReplyByMailText() {
    return QStringLiteral("The author asked for replies by mail (Followup-To: poster): nothing "
                          "is posted until Newsgroups names the groups to post to.");
}

QByteArray CheckedNewsgroups(const QString& field) {
    const QStringList names = GroupNames(field, QStringLiteral("Newsgroups"));
    if (IsPoster(names)) {
        throw EPostField(ReplyByMailText());
    }
    return names.join(u',').toLatin1();
}

QByteArray CheckedFollowupTo(const QString& field) {
    if (field.trimmed().isEmpty()) {
        return QByteArray();
    }
    const QStringList names = GroupNames(field, QStringLiteral("Followup-To"));
    if (IsPoster(names) && names.size() > 1) {
        throw EPostField(QStringLiteral("Followup-To: \"poster\" asks for replies by mail and "
                                        "stands alone, without groups."));
    }
    return names.join(u',').toLatin1();
}

QString ReplyGroups(const QString& followupTo, const QString& newsgroups,
                    const QString& groupRead) {
    if (!followupTo.trimmed().isEmpty()) {
        return followupTo.trimmed();
    }
    return newsgroups.trimmed().isEmpty() ? groupRead : newsgroups.trimmed();
}

TSignature ReadSignature(const QString& path) {
    QString fileName = path.trimmed();
    if (fileName.startsWith(QStringLiteral("~/"))) {
        fileName = QDir::homePath() + fileName.mid(1);
    }
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.exists()) {
        return {};
    }
    const QString named = QStringLiteral("Signature file ") + path.trimmed();
    if (info.isDir()) {
        return {QString(), named + QStringLiteral(" is a folder: no signature appended")};
    }
    // A pipe or a device would keep the window waiting on it, or never end.
    if (!info.isFile()) {
        return {QString(), named + QStringLiteral(" is not a regular file: no signature appended")};
    }
    if (info.size() > kMaxSignatureBytes) {
        return {QString(), named + QStringLiteral(" is larger than 4 KB (") +
                               QString::number(info.size()) +
                               QStringLiteral(" bytes), too large for a signature: not appended")};
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {QString(), named + QStringLiteral(" could not be read (") + file.errorString() +
                               QStringLiteral("): no signature appended")};
    }
    // At most one byte more than allowed: a file that grew since is still refused.
    const QByteArray bytes = file.read(kMaxSignatureBytes + 1);
    if (bytes.size() > kMaxSignatureBytes) {
        return {QString(), named + QStringLiteral(" is larger than 4 KB, too large for a "
                                                  "signature: not appended")};
    }
    QString text;
    QString notice;
    if (IsValidUtf8(bytes)) {
        text = QString::fromUtf8(bytes);
    } else {
        text = QString::fromLatin1(bytes);
        notice = named + QStringLiteral(" is not UTF-8: read as Latin-1");
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    while (text.endsWith(u'\n')) {
        text.chop(1);
    }
    return {text, notice};
}

QString WithoutSignature(const QString& text) {
    const QStringList lines = text.split(u'\n');
    const qsizetype separator = lines.lastIndexOf(QLatin1String(kSignatureSeparator));
    return separator < 0 ? text : lines.mid(0, separator).join(u'\n');
}
