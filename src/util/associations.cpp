#include "util/associations.h"

#include <QFile>
#include <QHash>
#include <QStandardPaths>

namespace {

using TGroup = QHash<QString, QString>;

// The keys and values of one group of a desktop-entry style file (mimeapps.list, *.desktop).
// Missing or unreadable files read as empty: a system file that cannot be read is no reason to
// bother the user.
TGroup ReadGroup(const QString& fileName, const QString& groupName) {
    TGroup group;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return group;
    }
    bool inGroup = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        if (line.startsWith(u'[')) {
            inGroup = line == u'[' + groupName + u']';
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inGroup && equals > 0) {
            group.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
    return group;
}

// The escapes of desktop-entry string values: \s \n \t \r \\.
QString UnescapeValue(const QString& value) {
    QString result;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == u's') {
            result += u' ';
        } else if (next == u'n') {
            result += u'\n';
        } else if (next == u't') {
            result += u'\t';
        } else if (next == u'r') {
            result += u'\r';
        } else {
            result += next;
        }
    }
    return result;
}

// Splits an Exec value into arguments: blanks separate them, double quotes group them, and
// inside quotes a backslash takes the next character literally.
QStringList SplitExec(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool inArgument = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == u'\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                current += c;
            }
        } else if (c == u'"') {
            inQuotes = true;
            inArgument = true;
        } else if (c == u' ' || c == u'\t') {
            if (inArgument) {
                arguments += current;
                current.clear();
                inArgument = false;
            }
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments += current;
    }
    return arguments;
}

// Drops the field codes (%u, %f, %i ...) that stand for what the launcher fills in: the text
// is appended as its own argument instead. "%%" is a literal percent sign.
QStringList WithoutFieldCodes(const QStringList& arguments) {
    QStringList result;
    for (const QString& argument : arguments) {
        if (argument.size() == 2 && argument[0] == u'%' && argument[1] != u'%') {
            continue;
        }
        QString kept;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] == u'%' && i + 1 < argument.size()) {
                if (argument[++i] == u'%') {
                    kept += u'%';
                }
            } else {
                kept += argument[i];
            }
        }
        result += kept;
    }
    return result;
}

// The command of a desktop entry, its program resolved to an executable file; empty when the
// entry is missing, hidden, or names no program that can run.
QStringList DesktopEntryCommand(const QString& desktopId) {
    const QStringList dirs =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& dir : dirs) {
        const QString fileName = dir + u'/' + desktopId;
        if (!QFile::exists(fileName)) {
            continue;
        }
        const TGroup entry = ReadGroup(fileName, QStringLiteral("Desktop Entry"));
        if (entry.value(QStringLiteral("Hidden")) == QStringLiteral("true")) {
            return QStringList();
        }
        QStringList command =
            WithoutFieldCodes(SplitExec(UnescapeValue(entry.value(QStringLiteral("Exec")))));
        if (command.isEmpty()) {
            return QStringList();
        }
        command[0] = QStandardPaths::findExecutable(command[0]);
        return command[0].isEmpty() ? QStringList() : command;
    }
    return QStringList();
}

// The mimeapps.list files in the order the XDG rules give them precedence: configuration
// before data, the user's before the system's, a desktop's own before the common one.
QStringList MimeAppsLists() {
    QStringList names;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts)) {
        names += desktop.toLower() + QStringLiteral("-mimeapps.list");
    }
    names += QStringLiteral("mimeapps.list");
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    dirs += QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    QStringList files;
    for (const QString& dir : dirs) {
        for (const QString& name : names) {
            files += dir + u'/' + name;
        }
    }
    return files;
}

} // namespace

QStringList DefaultApplicationCommand(const QString& mimeType) {
    if (mimeType.isEmpty()) {
        return QStringList();
    }
    for (const QString& list : MimeAppsLists()) {
        const TGroup defaults = ReadGroup(list, QStringLiteral("Default Applications"));
        const QStringList desktopIds = defaults.value(mimeType).split(u';', Qt::SkipEmptyParts);
        for (const QString& desktopId : desktopIds) {
            const QStringList command = DesktopEntryCommand(desktopId.trimmed());
            if (!command.isEmpty()) {
                return command;
            }
        }
    }
    return QStringList();
}
