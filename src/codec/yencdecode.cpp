#include "codec/yencdecode.h"

#include <cstring>
#include <utility>
#include <zlib.h>

namespace {

constexpr char kEscape = '=';
constexpr uchar kOffset = 42;
constexpr uchar kEscapeOffset = 64;

bool StartsWithWord(QByteArrayView line, QByteArrayView word) {
    return line.startsWith(word) && (line.size() == word.size() || line[word.size()] == ' ');
}

// The value of key= on a control line ("=ybegin line=128 size=9 name=a b.bin"). name= is the
// last keyword and takes the rest of the line, blanks and "=" included; no keyword is looked
// for after it.
std::optional<QByteArrayView> Keyword(QByteArrayView line, QByteArrayView key) {
    qsizetype at = line.indexOf(' ');
    while (at >= 0) {
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
        const QByteArrayView rest = line.sliced(at);
        const bool isName = rest.startsWith("name=");
        if (rest.startsWith(key) && rest.sliced(key.size()).startsWith('=')) {
            const QByteArrayView value = rest.sliced(key.size() + 1);
            const qsizetype blank = value.indexOf(' ');
            return isName || blank < 0 ? value : value.first(blank);
        }
        if (isName) {
            break;
        }
        at = line.indexOf(' ', at);
    }
    return std::nullopt;
}

std::optional<qint64> NumberKeyword(QByteArrayView line, QByteArrayView key) {
    const std::optional<QByteArrayView> value = Keyword(line, key);
    bool ok = false;
    const qint64 number = value ? value->toLongLong(&ok) : 0;
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

std::optional<quint32> CrcKeyword(QByteArrayView line, QByteArrayView key) {
    const std::optional<QByteArrayView> value = Keyword(line, key);
    bool ok = false;
    const quint32 crc = value ? value->toUInt(&ok, 16) : 0;
    return ok ? std::optional<quint32>(crc) : std::nullopt;
}

} // namespace

bool TYEncDecoder::IsBeginLine(QByteArrayView line) {
    return line.startsWith("=ybegin ");
}

bool TYEncDecoder::IsEndLine(QByteArrayView line) {
    return StartsWithWord(line, "=yend");
}

TYEncDecoder::TYEncDecoder(QByteArrayView beginLine)
    : name_(Keyword(beginLine, "name").value_or(QByteArrayView()).toByteArray()),
      partNumber_(NumberKeyword(beginLine, "part")), fileSize_(NumberKeyword(beginLine, "size")) {}

void TYEncDecoder::AddLine(QByteArrayView line) {
    if (ended_) {
        return;
    }
    if (IsEndLine(line)) {
        ReadEndLine(line);
    } else if (!dataStarted_ && StartsWithWord(line, "=ypart")) {
        ReadPartLine(line);
    } else {
        AppendDecoded(line);
    }
    dataStarted_ = true;
}

void TYEncDecoder::ReadPartLine(QByteArrayView line) {
    partBegin_ = NumberKeyword(line, "begin");
    partEnd_ = NumberKeyword(line, "end");
}

void TYEncDecoder::ReadEndLine(QByteArrayView line) {
    endSize_ = NumberKeyword(line, "size");
    partCrc_ = CrcKeyword(line, "pcrc32");
    fileCrc_ = CrcKeyword(line, "crc32");
    ended_ = true;
}

// The hot loop. Escapes are rare (about 4 characters in 256), so the line is taken in runs up to
// the next "=", each run a plain subtraction the compiler vectorises. An "=" that ends the line
// escapes nothing (encoders never split an escape) and is dropped.
void TYEncDecoder::AppendDecoded(QByteArrayView line) {
    const qsizetype start = data_.size();
    data_.resize(start + line.size());
    char* out = data_.data() + start;
    const char* in = line.data();
    const char* const end = in + line.size();
    while (in != end) {
        const auto* escape = static_cast<const char*>(std::memchr(in, kEscape, end - in));
        const char* const runEnd = escape != nullptr ? escape : end;
        while (in != runEnd) {
            *out++ = static_cast<char>(static_cast<uchar>(*in++) - kOffset);
        }
        if (escape == nullptr || ++in == end) {
            break;
        }
        *out++ = static_cast<char>(static_cast<uchar>(*in++) - kEscapeOffset - kOffset);
    }
    data_.truncate(out - data_.constData());
}

bool TYEncDecoder::IsWholeFile() const {
    return !partBegin_ || (partBegin_ == 1 && partEnd_ == fileSize_);
}

std::optional<qint64> TYEncDecoder::DeclaredSize() const {
    if (endSize_) {
        return endSize_;
    }
    if (partBegin_ && partEnd_ && *partBegin_ >= 1 && *partEnd_ >= *partBegin_) {
        return *partEnd_ - *partBegin_ + 1;
    }
    return fileSize_;
}

std::optional<quint32> TYEncDecoder::DeclaredCrc() const {
    if (partCrc_ || !IsWholeFile()) {
        return partCrc_;
    }
    return fileCrc_;
}

QByteArray TYEncDecoder::TakeData() {
    takenCrc_ = YEncCrc32(data_, takenCrc_);
    takenSize_ += data_.size();
    return std::exchange(data_, QByteArray());
}

quint32 TYEncDecoder::Crc() const {
    return YEncCrc32(data_, takenCrc_);
}

quint32 YEncCrc32(QByteArrayView data, quint32 crc) {
    // zlib answers its initial value, 0, for no buffer at all, whatever crc came before.
    if (data.isEmpty()) {
        return crc;
    }
    return static_cast<quint32>(crc32_z(crc, reinterpret_cast<const Bytef*>(data.constData()),
                                        static_cast<size_t>(data.size())));
}
