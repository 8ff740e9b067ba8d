#pragma once

#include "testfiles.h"
#include "testhelpers.h"

#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <algorithm>
#include <cstring>
#include <functional>

// The lines of a text whose every line ends with CR LF; fails the caller's check (returns an
// empty list) when some CR or LF stands apart.
inline QList<QByteArray> CrLfLines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end = text.indexOf("\r\n"); end >= 0; end = text.indexOf("\r\n", start)) {
        lines.append(text.mid(start, end - start));
        start = end + 2;
    }
    const bool clean = start == text.size() && text.count('\r') == lines.size() &&
                       text.count('\n') == lines.size();
    return clean ? lines : QList<QByteArray>();
}

// A golden file of tests/codec/data. One that cannot be read fails the test: compared with
// another missing one, two empty readings would agree and prove nothing.
inline QByteArray Golden(const char* name) {
    return FileBytes(QStringLiteral(ZK_CODEC_DATA "/") + QString::fromLatin1(name));
}

// A file on a failing disk: it reports its full size, delivers the first goodBytes and then
// fails every read, and refuses every write.
class FailingDevice : public QIODevice {
public:
    FailingDevice(qint64 size, qint64 goodBytes) : size_(size), goodBytes_(goodBytes) {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    qint64 size() const override { return size_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 count = std::min(maxSize, goodBytes_ - pos());
        if (count <= 0) {
            return -1;
        }
        std::memset(data, 'A', static_cast<size_t>(count));
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 size_;
    qint64 goodBytes_;
};
