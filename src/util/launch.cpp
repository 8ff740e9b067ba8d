#include "util/launch.h"

#include "util/associations.h"
#include "util/filehelpers.h"
#include "util/presenter.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <array>
#include <ctime>
#include <sys/stat.h>

namespace {

// Executable file types: their own associations would run them, so they are never looked up.
const QString kBlockedExtensions = QStringLiteral(",.dll,.exe,.cmd,.bat,.com,");
constexpr int kLetters = 26;
constexpr int kDeleteRetryWait = 120;
constexpr int kDeleteFailuresBeforeQuestion = 100;
constexpr int kRunPollInterval = 450;

// The extension of a file name or path, with its dot, lower-cased: from the last dot that
// follows the last path separator, colon or backslash; empty when there is none.
QString TextExtension(const QString& text) {
    const qsizetype dot = text.lastIndexOf(u'.');
    const qsizetype separator =
        std::max({text.lastIndexOf(u'/'), text.lastIndexOf(u'\\'), text.lastIndexOf(u':')});
    if (dot < 0 || dot < separator) {
        return QString();
    }
    return text.mid(dot).toLower();
}

// An HTML file name followed by an anchor ("page.html#part2"), whose own extension would be
// taken from behind the "#".
bool IsHtmlWithAnchor(const QString& text) {
    const QString lower = text.toLower();
    qsizetype html = lower.indexOf(QStringLiteral(".htm"));
    if (html < 0) {
        html = lower.indexOf(QStringLiteral(".shtm"));
    }
    const qsizetype anchor = text.indexOf(u'#');
    return html >= 0 && anchor >= 0 && html < anchor;
}

// "R" read-only, "H" hidden, "S" system (a special file: device, pipe or socket), "A" archive
// (an ordinary file), "D" directory; "-" for each that does not apply.
QString AttributeLetters(const QString& name, const struct stat& status) {
    const bool readOnly = (status.st_mode & S_IWUSR) == 0;
    const bool hidden = QFileInfo(name).fileName().startsWith(u'.');
    const bool directory = S_ISDIR(status.st_mode);
    const bool regular = S_ISREG(status.st_mode);
    const bool special = !directory && !regular && !S_ISLNK(status.st_mode);
    QString letters;
    letters += readOnly ? u'R' : u'-';
    letters += hidden ? u'H' : u'-';
    letters += special ? u'S' : u'-';
    letters += regular ? u'A' : u'-';
    letters += directory ? u'D' : u'-';
    return letters;
}

// The C library's date-time text ("Wed Jun 30 21:49:08 1993") without its line end.
QString CDateTime(time_t time) {
    std::array<char, 64> buffer{};
    if (ctime_r(&time, buffer.data()) == nullptr) {
        return QString();
    }
    return QString::fromLatin1(buffer.data()).trimmed();
}

QString CommandLineText(const QString& program, const QStringList& arguments) {
    return (QStringList(program) + arguments).join(u' ');
}

void ShowCouldNotLaunch(const QString& program, const QStringList& arguments,
                        const QString& reason) {
    ShowInfo(QStringLiteral("Could not launch ") + CommandLineText(program, arguments) +
             QStringLiteral("\r\n") + reason);
}

} // namespace

bool IsUrl(const QString& text) {
    static const std::array<QString, 6> prefixes{
        QStringLiteral("http://"), QStringLiteral("https://"), QStringLiteral("ftp://"),
        QStringLiteral("www."),    QStringLiteral("news://"),  QStringLiteral("file://"),
    };
    for (const QString& prefix : prefixes) {
        if (text.startsWith(prefix, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return text.startsWith(u'/');
}

std::optional<QString> LookupExtension(const QString& text) {
    const QString htm = QStringLiteral(".htm");
    if (IsUrl(text)) {
        return htm;
    }
    const QString extension = TextExtension(text);
    if (kBlockedExtensions.contains(u',' + extension + u',')) {
        return std::nullopt;
    }
    if (IsHtmlWithAnchor(text)) {
        return htm;
    }
    return extension;
}

QString LaunchArgument(const QString& text) {
    QString argument = text;
    if (argument.startsWith(u'"')) {
        argument.remove(0, 1);
        if (argument.endsWith(u'"')) {
            argument.chop(1);
        }
    }
    // The launched program would read a leading "-" as one of its options; as an absolute path
    // the text can only name a file.
    if (argument.startsWith(u'-')) {
        return QDir::current().absoluteFilePath(argument);
    }
    return argument;
}

QStringList FindAssociatedProgram(const QString& extension) {
    // By the name only: sniffing content would make every unknown extension plain text.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("file") + extension,
                                                           QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return QStringList();
    }
    return DefaultApplicationCommand(type.name());
}

QString RandomLetters(qint32 n) {
    QString letters;
    for (qint32 i = 0; i < n; ++i) {
        letters +=
            QChar(u'A' + static_cast<char16_t>(QRandomGenerator::global()->bounded(kLetters)));
    }
    return letters;
}

bool DeleteFileRetry(const QString& name) {
    QFile file(name);
    const QFileInfo info(name);
    if (!info.exists() && !info.isSymLink()) {
        return true;
    }
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
    int failures = 0;
    for (;;) {
        if (file.remove()) {
            return true;
        }
        // The system's reason, as the failed removal recorded it.
        const QString reason = file.errorString();
        QThread::msleep(kDeleteRetryWait);
        ++failures;
        if (failures % 10 == 0 && !QFileInfo::exists(name)) {
            return true;
        }
        if (failures >= kDeleteFailuresBeforeQuestion) {
            const bool retry = ConfirmBox(QStringLiteral("Could not Delete ") + name +
                                          QStringLiteral("\r\nReason :") + reason +
                                          QStringLiteral("\r\nFile Details :-\r\n") +
                                          FileDetails(name) + QStringLiteral("\r\nRetry"));
            if (!retry) {
                return false;
            }
            failures = 0;
        }
    }
}

QString FileDetails(const QString& name) {
    struct stat status {};
    if (::lstat(QFile::encodeName(name).constData(), &status) != 0) {
        return name + QStringLiteral(" - File or Directory does not Exist");
    }
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return name + QStringLiteral(" -  Size=") +
           locale.toString(static_cast<qint64>(status.st_size)) + QStringLiteral("  Date=") +
           CDateTime(status.st_mtime) + QStringLiteral("  Attributes=") +
           AttributeLetters(name, status);
}

qint64 RunProgram(const QString& program, const QStringList& arguments, bool wait) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!wait) {
        qint64 processId = -1;
        if (!process.startDetached(&processId)) {
            ShowCouldNotLaunch(program, arguments, process.errorString());
            return -1;
        }
        return processId;
    }
    process.start();
    if (!process.waitForStarted(-1)) {
        ShowCouldNotLaunch(program, arguments, process.errorString());
        return -1;
    }
    const qint64 processId = process.processId();
    while (process.state() != QProcess::NotRunning) {
        IdleWait(kRunPollInterval);
    }
    return processId;
}
