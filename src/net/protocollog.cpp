#include "net/protocollog.h"

#include <QFile>
#include <memory>

namespace protocollog {
namespace {

QFile* LogFile() {
    static const std::unique_ptr<QFile> file = [] {
        const QByteArray path = qgetenv("ZKNEWS_PROTOCOL_LOG");
        if (path.isEmpty()) {
            return std::unique_ptr<QFile>();
        }
        auto log = std::make_unique<QFile>(QString::fromLocal8Bit(path));
        if (!log->open(QIODevice::WriteOnly | QIODevice::Append)) {
            qWarning("ZKNEWS_PROTOCOL_LOG: cannot open %s", path.constData());
            return std::unique_ptr<QFile>();
        }
        return log;
    }();
    return file.get();
}

void Write(const char* direction, const QByteArray& line) {
    if (QFile* file = LogFile()) {
        QByteArray entry = direction + Masked(line);
        if (!entry.endsWith('\n')) {
            entry += '\n';
        }
        file->write(entry);
        file->flush();
    }
}

} // namespace

QByteArray Masked(const QByteArray& line) {
    for (const QByteArray& command :
         {QByteArrayLiteral("AUTHINFO PASS "), QByteArrayLiteral("PASS ")}) {
        if (line.size() >= command.size() &&
            line.left(command.size()).compare(command, Qt::CaseInsensitive) == 0) {
            const bool crlf = line.endsWith("\r\n");
            return line.left(command.size()) + "********" + (crlf ? "\r\n" : "");
        }
    }
    return line;
}

void Sent(const QByteArray& line) {
    Write("C: ", line);
}

void Received(const QByteArray& line) {
    Write("S: ", line);
}

void Note(const QByteArray& text) {
    Write("-- ", text);
}

} // namespace protocollog
