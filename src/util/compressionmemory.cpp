#include "util/compressionmemory.h"

#include "util/exception.h"
#include "util/filehelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace compressionmemory {
namespace {

QString Line(const QString& host, int port) {
    return host.toLower() + u' ' + QString::number(port);
}

// The file's servers, each as Line gives it; nothing when there is no file yet.
QStringList KeptLines() {
    QFile file(FilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QStringList words = QString::fromUtf8(line).simplified().split(u' ');
        bool isPort = false;
        const int port = words.size() == 2 ? words[1].toInt(&isPort) : 0;
        if (isPort) {
            lines << Line(words[0], port);
        }
    }
    return lines;
}

} // namespace

QString FilePath() {
    const QString configured = qEnvironmentVariable("ZKNEWS_NO_COMPRESSION");
    return configured.isEmpty() ? UserDataDir() + QStringLiteral("no-compression.txt")
                                : configured;
}

bool FailedBefore(const QString& host, int port) {
    return KeptLines().contains(Line(host, port));
}

void Remember(const QString& host, int port) {
    if (FailedBefore(host, port)) {
        return;
    }
    QFile file(FilePath());
    QByteArray line = Line(host, port).toUtf8() + '\n';
    // A last line without its line end, as an editor may leave it, stays a line of its own.
    if (file.size() > 0 && file.open(QIODevice::ReadOnly)) {
        file.seek(file.size() - 1);
        if (file.read(1) != "\n") {
            line.prepend('\n');
        }
        file.close();
    }
    if (!QDir().mkpath(QFileInfo(file).absolutePath()) ||
        !file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size()) {
        throw Exception(QStringLiteral("Cannot keep the server that compression failed with in ") +
                        file.fileName() + QStringLiteral(": ") + file.errorString());
    }
}

} // namespace compressionmemory
