#include "util/filehelpers.h"

#include "util/presenter.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <new>
#include <sys/stat.h>

namespace {

constexpr int kOpenAttempts = 10;
constexpr int kOpenRetryWait = 93;
constexpr int kStatAttempts = 10;
constexpr int kStatRetryWait = 83;
// A file that another program is still writing may report 0 bytes for a moment.
constexpr int kEmptyFileRecheckWait = 250;
constexpr int kIdleSlice = 1000;

QIODevice::OpenMode QtOpenMode(TOpenMode mode) {
    switch (mode) {
    case TOpenMode::Read:
        return QIODevice::ReadOnly;
    case TOpenMode::Write:
        return QIODevice::WriteOnly | QIODevice::Truncate;
    case TOpenMode::Append:
        return QIODevice::WriteOnly | QIODevice::Append;
    }
    return QIODevice::NotOpen;
}

void ShowCouldNotOpen(const QString& name) {
    ShowInfo(QStringLiteral("Could not Open ") + name + QStringLiteral("\r\n") + LastErrorText());
}

// The redirect file holds a directory; editors end a text file with a line end, which is not
// part of the name.
QString RedirectTarget(const QString& executableDir) {
    QString target =
        QFile::decodeName(LoadTextFile(executableDir + QStringLiteral("/redirect_exes.txt")));
    while (target.endsWith(u'\n') || target.endsWith(u'\r')) {
        target.chop(1);
    }
    return target;
}

bool IsWritableDir(const QString& dir) {
    const QFileInfo info(dir);
    return info.isDir() && info.isWritable();
}

// An installed program lies in a bin directory (/usr/bin, /usr/local/bin, ~/.local/bin), which
// holds programs only: settings never go there, even for a user (root) who could write there.
bool IsProgramsDir(const QString& dir) {
    return QDir(dir).dirName() == QLatin1String("bin");
}

// Where settings go when the program's own directory is not the place for them.
QString UserConfigDir() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir)) {
        return QString();
    }
    return WithSeparator(dir);
}

} // namespace

QString WithSeparator(const QString& dir) {
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

QString UserDataDir() {
    const QString configured = qEnvironmentVariable("XDG_DATA_HOME");
    const QString dataHome = !configured.isEmpty() && QDir::isAbsolutePath(configured)
                                 ? configured
                                 : QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/zknews/");
}

QString ProgramDirFor(const QString& executablePath) {
    const QFileInfo executable(executablePath);
    QString path = executablePath;
    const QString target = RedirectTarget(executable.absolutePath());
    if (!target.isEmpty()) {
        path = WithSeparator(target) + executable.fileName();
    }
    QString dir = path.left(path.lastIndexOf(u'/') + 1);
    if (dir.isEmpty()) {
        dir = QStringLiteral("./");
    }
    dir = WithSeparator(QDir::cleanPath(QDir::current().absoluteFilePath(dir)));
    const bool installed = target.isEmpty() && IsProgramsDir(dir);
    if (installed || !IsWritableDir(dir)) {
        const QString fallback = UserConfigDir();
        if (!fallback.isEmpty()) {
            return fallback;
        }
    }
    return dir;
}

const QString& ProgramDir() {
    static const QString dir = ProgramDirFor(QCoreApplication::applicationFilePath());
    return dir;
}

void IdleWait(int milliseconds) {
    while (milliseconds > 0) {
        const int slice = std::min(milliseconds, kIdleSlice);
        if (QCoreApplication::instance() != nullptr) {
            QEventLoop loop;
            QTimer::singleShot(slice, &loop, &QEventLoop::quit);
            loop.exec();
        } else {
            QThread::msleep(static_cast<unsigned long>(slice));
        }
        milliseconds -= kIdleSlice;
    }
}

std::unique_ptr<QFile> OpenFileRetry(const QString& name, TOpenMode mode) {
    for (int attempt = 1;; ++attempt) {
        auto file = std::make_unique<QFile>(name);
        errno = 0;
        if (file->open(QtOpenMode(mode))) {
            return file;
        }
        int error = errno;
        if (error == 0 && QFileInfo(name).isDir()) {
            // Qt refuses directories itself, without a system error.
            error = EISDIR;
        }
        file.reset();
        errno = error;
        if (attempt == kOpenAttempts) {
            return nullptr;
        }
        IdleWait(kOpenRetryWait);
    }
}

qint64 FileSizeOf(const QString& name) {
    if (name.isEmpty()) {
        return 0;
    }
    const QByteArray path = QFile::encodeName(name);
    struct stat status {};
    for (int failures = 0; failures < kStatAttempts;) {
        if (::stat(path.constData(), &status) == 0) {
            if (status.st_size == 0 && failures == 0) {
                IdleWait(kEmptyFileRecheckWait);
                if (::stat(path.constData(), &status) != 0) {
                    return 0;
                }
            }
            return static_cast<qint64>(status.st_size);
        }
        if (errno == ENOENT || errno == ENOTDIR) {
            return 0;
        }
        ++failures;
        IdleWait(kStatRetryWait);
    }
    return 0;
}

QByteArray LoadTextFile(const QString& name) {
    const qint64 size = FileSizeOf(name);
    if (size == 0) {
        return QByteArray();
    }
    const std::unique_ptr<QFile> file = OpenFileRetry(name, TOpenMode::Read);
    if (!file) {
        ShowCouldNotOpen(name);
        return QByteArray();
    }
    QByteArray data;
    try {
        data.resize(size);
    } catch (const std::bad_alloc&) {
        ShowInfo(QStringLiteral("Not Enough Memory to Read ") + name);
        return QByteArray();
    }
    const qint64 read = file->read(data.data(), size);
    // A file that shrank since its size was taken yields what it still holds.
    data.resize(std::max<qint64>(read, 0));
    return data;
}

bool SaveTextFile(const QString& name, const QByteArray& data) {
    QString fileName = name;
    TOpenMode mode = TOpenMode::Write;
    if (fileName.startsWith(u'+')) {
        fileName.remove(0, 1);
        mode = TOpenMode::Append;
        if (data.isEmpty()) {
            return true;
        }
    }
    const std::unique_ptr<QFile> file = OpenFileRetry(fileName, mode);
    if (!file) {
        ShowCouldNotOpen(fileName);
        return false;
    }
    // Written bytes sit in the file's buffer until the flush, which is where a full disk shows.
    const qint64 written = file->write(data);
    return written == data.size() && file->flush();
}

namespace {

// Characters a name may hold and still show as the name it is: no controls, nothing that
// turns the text around or hides in it, no line breaks.
bool IsShownAsItIs(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

// The extension kept when a name is shortened: a last dot no further than this from the end.
constexpr qsizetype kMaxKeptExtension = 16;

QString Shortened(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool keepsExtension = dot > 0 && name.size() - dot <= kMaxKeptExtension;
    QString stem = keepsExtension ? name.left(dot) : name;
    const QString extension = keepsExtension ? name.mid(dot) : QString();
    while (!stem.isEmpty() && (stem + extension).toUtf8().size() > kMaxPlainFileNameBytes) {
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    }
    return stem + extension;
}

} // namespace

QString PlainFileName(const QString& name, const QString& fallback) {
    const qsizetype slash = std::max(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    QString kept;
    for (const char32_t c : name.mid(slash + 1).toUcs4()) {
        if (IsShownAsItIs(c)) {
            kept += QString::fromUcs4(&c, 1);
        }
    }
    kept = kept.trimmed();
    if (kept.isEmpty() || kept == u"." || kept == u"..") {
        return fallback;
    }
    return kept.toUtf8().size() > kMaxPlainFileNameBytes ? Shortened(kept) : kept;
}

QString LastErrorText() {
    return qt_error_string(errno).trimmed();
}
