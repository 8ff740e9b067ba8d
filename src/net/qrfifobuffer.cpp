#include "net/qrfifobuffer.h"

#include "util/exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cstring>
#include <thread>

namespace {

constexpr qint64 kMinimumCapacity = 65536;
constexpr qint64 kDiskChunk = 65536;
// The memory block starts this small and returns to it once drained if it had grown past
// kRetainedBlock; a block up to that size is kept so steady traffic does not reallocate.
constexpr qint64 kSmallestBlock = 4096;
constexpr qint64 kRetainedBlock = 262144;

qint64 AvailablePhysicalMemory() {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> lines = meminfo.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("MemAvailable:")) {
            const QByteArray kib = line.mid(13).trimmed().split(' ').value(0);
            return kib.toLongLong() * 1024;
        }
    }
    return 0;
}

} // namespace

TQRFifoBuffer::TQRFifoBuffer() : capacity_(CalculateThreshold(0.05)) {
    Init();
}

TQRFifoBuffer::~TQRFifoBuffer() {
    WaitForRefill();
    if (disk_) {
        disk_->close();
        QFile::remove(fileName_);
    }
}

void TQRFifoBuffer::WaitForRefill() const {
    // Woken by the worker the moment it finishes, rather than polling.
    refilling_.wait(true, std::memory_order_acquire);
}

qint64 TQRFifoBuffer::CalculateThreshold(double fraction) {
    qint64 threshold =
        static_cast<qint64>(static_cast<double>(AvailablePhysicalMemory()) * fraction);
    threshold -= threshold % 1024;
    return std::max(threshold, kMinimumCapacity);
}

void TQRFifoBuffer::Init() {
    count_ = diskBytes_ = diskTail_ = diskHead_ = 0;
    memoryBytes_ = memoryTail_ = memoryHead_ = 0;
    Reallocate(std::min(kSmallestBlock, capacity_));
    refilling_ = false;
}

void TQRFifoBuffer::Reallocate(qint64 size) {
    // The bytes held move to the start of the new block.
    std::unique_ptr<char[]> block(new char[static_cast<size_t>(size)]);
    if (memoryBytes_ > 0) {
        std::memcpy(block.get(), memory_.get() + memoryHead_, static_cast<size_t>(memoryBytes_));
    }
    memory_ = std::move(block);
    allocated_ = size;
    memoryHead_ = 0;
    memoryTail_ = memoryBytes_;
}

void TQRFifoBuffer::MakeRoomAtTail(qint64 n) {
    if (memoryTail_ + n <= allocated_) {
        return;
    }
    if (memoryBytes_ + n <= allocated_ / 2) {
        // Plenty of room once the taken-out bytes in front are reclaimed: slide, don't grow.
        std::memmove(memory_.get(), memory_.get() + memoryHead_, static_cast<size_t>(memoryBytes_));
        memoryHead_ = 0;
        memoryTail_ = memoryBytes_;
        return;
    }
    if (allocated_ < capacity_) {
        Reallocate(std::min(capacity_, std::max(allocated_ * 2, memoryBytes_ + n)));
    }
}

void TQRFifoBuffer::ReleaseLargeBlock() {
    if (allocated_ > kRetainedBlock) {
        Reallocate(std::min(kSmallestBlock, capacity_));
    }
}

QString TQRFifoBuffer::CreateTemporaryFileName() {
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/BufXXXXXX"));
    file.setAutoRemove(false);
    if (!file.open()) {
        throw Exception(QStringLiteral("Can't create a temporary file"));
    }
    return file.fileName();
}

void TQRFifoBuffer::InitDiskBuffer() {
    fileName_ = CreateTemporaryFileName();
    disk_ = std::make_unique<QFile>(fileName_);
    if (!disk_->open(QIODevice::ReadWrite)) {
        const QString reason = disk_->errorString();
        disk_.reset();
        QFile::remove(fileName_);
        fileName_.clear();
        throw Exception(QStringLiteral("Can't create a temporary file: ") + reason);
    }
    disk_->resize(1024);
    diskBytes_ = diskTail_ = diskHead_ = 0;
}

void TQRFifoBuffer::KeepAtTail(qint64 n) {
    memoryBytes_ += n;
    memoryTail_ += n;
    count_ += n;
}

qint64 TQRFifoBuffer::Append(const char* source, qint64 n) {
    WaitForRefill();
    if (n <= 0) {
        return 0;
    }
    if (source == nullptr) {
        throw Exception(QStringLiteral("Can't read the source buffer"));
    }
    // Once bytes wait in the overflow file, newer ones queue behind them there.
    qint64 m = 0;
    if (diskBytes_ == 0) {
        MakeRoomAtTail(n);
        m = std::min(n, std::min(capacity_, allocated_) - memoryTail_);
    }
    std::memcpy(memory_.get() + memoryTail_, source, static_cast<size_t>(m));
    KeepAtTail(m);
    if (m == n) {
        return m;
    }
    if (!disk_) {
        InitDiskBuffer();
    }
    const qint64 rest = n - m;
    if (!disk_->seek(diskTail_) || disk_->write(source + m, rest) != rest) {
        throw Exception(QStringLiteral("Can't write the overflow file ") + fileName_ +
                        QStringLiteral(": ") + disk_->errorString());
    }
    diskBytes_ += rest;
    diskTail_ += rest;
    count_ += rest;
    return rest;
}

qint64 TQRFifoBuffer::AppendFrom(const std::function<qint64(char* destination, qint64 n)>& read,
                                 qint64 n) {
    WaitForRefill();
    if (diskBytes_ == 0 && n > 0) {
        MakeRoomAtTail(n);
        if (memoryTail_ + n <= std::min(capacity_, allocated_)) {
            const qint64 written = std::min(read(memory_.get() + memoryTail_, n), n);
            KeepAtTail(std::max<qint64>(written, 0));
            return written;
        }
    }
    // Full, or bytes wait in the overflow file: the plain way, through a block of its own.
    QByteArray block(n, Qt::Uninitialized);
    const qint64 written = std::min(read(block.data(), n), n);
    if (written > 0) {
        Append(block.constData(), written);
    }
    return written;
}

qint64 TQRFifoBuffer::ReadFromDisk(char* destination, qint64 offset, qint64 n) const {
    if (!disk_ || n <= 0 || !disk_->seek(offset)) {
        return 0;
    }
    return std::max<qint64>(disk_->read(destination, n), 0);
}

qint64 TQRFifoBuffer::Peek(char* destination, qint64 n) {
    WaitForRefill();
    if (n <= 0 || count_ <= 0) {
        return 0;
    }
    if (destination == nullptr) {
        throw Exception(QStringLiteral("Can't write to the destination buffer"));
    }
    const qint64 fromMemory = std::min(n, memoryBytes_);
    std::memcpy(destination, memory_.get() + memoryHead_, static_cast<size_t>(fromMemory));
    const qint64 fromDisk =
        ReadFromDisk(destination + fromMemory, diskHead_, std::min(n - fromMemory, diskBytes_));
    return fromMemory + fromDisk;
}

qint64 TQRFifoBuffer::Remove(char* destination, qint64 n) {
    return Discard(Peek(destination, n));
}

QByteArrayView TQRFifoBuffer::MemoryView() {
    WaitForRefill();
    return {memory_.get() + memoryHead_, memoryBytes_};
}

qint64 TQRFifoBuffer::Discard(qint64 n) {
    WaitForRefill();
    const qint64 taken = std::clamp<qint64>(n, 0, count_);
    const qint64 fromMemory = std::min(taken, memoryBytes_);
    const qint64 fromDisk = taken - fromMemory;
    memoryBytes_ -= fromMemory;
    memoryHead_ += fromMemory;
    diskBytes_ -= fromDisk;
    diskHead_ += fromDisk;
    if (diskBytes_ == 0) {
        diskHead_ = diskTail_ = 0;
    }
    count_ -= taken;
    if (memoryBytes_ == 0) {
        memoryHead_ = memoryTail_ = 0;
        if (diskBytes_ > 0) {
            StartRefill();
        } else {
            ReleaseLargeBlock();
        }
    }
    return taken;
}

QByteArray TQRFifoBuffer::Remove(qint64 n) {
    QByteArray bytes(std::clamp<qint64>(n, 0, count_), Qt::Uninitialized);
    bytes.truncate(Remove(bytes.data(), bytes.size()));
    return bytes;
}

void TQRFifoBuffer::StartRefill() {
    // The block is sized here, on the calling thread; the worker only fills it.
    const qint64 refill = std::min(diskBytes_, capacity_);
    if (allocated_ < refill) {
        Reallocate(refill);
    }
    refilling_.store(true, std::memory_order_release);
    std::thread([this] { Shuffle(); }).detach();
}

void TQRFifoBuffer::Shuffle() {
    if (disk_) {
        const qint64 bytesRead =
            ReadFromDisk(memory_.get(), diskHead_, std::min(diskBytes_, capacity_));
        memoryBytes_ = memoryTail_ = bytesRead;
        memoryHead_ = 0;
        diskBytes_ -= bytesRead;
        if (diskBytes_ == 0) {
            // The file is reused from its start rather than truncated.
            diskTail_ = diskHead_ = 0;
        } else {
            diskHead_ += bytesRead;
        }
    }
    refilling_.store(false, std::memory_order_release);
    refilling_.notify_all();
}

qint64 TQRFifoBuffer::SearchDisk(const QByteArray& pattern, qint64 from) const {
    // The memory part's last bytes are carried in front of each disk chunk so that an
    // occurrence that straddles the seam, or two chunks, is found too.
    const qint64 memoryTailOverlap = std::max<qint64>(memoryBytes_ - from, 0);
    QByteArray window(memory_.get() + memoryTail_ - memoryTailOverlap, memoryTailOverlap);
    qint64 windowStart = from;
    QByteArray chunk(kDiskChunk, Qt::Uninitialized);
    for (qint64 offset = std::max<qint64>(from - memoryBytes_, 0); offset < diskBytes_;) {
        const qint64 got = ReadFromDisk(chunk.data(), diskHead_ + offset,
                                        std::min(kDiskChunk, diskBytes_ - offset));
        if (got <= 0) {
            return 0;
        }
        window.append(chunk.constData(), got);
        const qint64 found = window.indexOf(pattern);
        if (found >= 0) {
            return windowStart + found + pattern.size();
        }
        const qint64 keep = std::min<qint64>(pattern.size() - 1, window.size());
        windowStart += window.size() - keep;
        window = window.right(keep);
        offset += got;
    }
    return 0;
}

qint64 TQRFifoBuffer::Search(const QByteArray& pattern, qint64 from) {
    WaitForRefill();
    const qint64 length = pattern.size();
    if (memoryBytes_ <= 0) {
        return 0;
    }
    if (count_ < length || length > 65535) {
        return -1;
    }
    from = std::max<qint64>(from, 0);
    if (from < memoryBytes_) {
        const QByteArrayView held(memory_.get() + memoryHead_, memoryBytes_);
        const qint64 found = held.indexOf(pattern, from);
        if (found >= 0) {
            return found + length;
        }
    }
    if (diskBytes_ == 0) {
        return 0;
    }
    return SearchDisk(pattern, std::max(from, memoryBytes_ - std::min(length - 1, memoryBytes_)));
}

void TQRFifoBuffer::Clear() {
    WaitForRefill();
    if (disk_) {
        disk_->close();
        disk_.reset();
        QFile::remove(fileName_);
        fileName_.clear();
    }
    Init();
}

void TQRFifoBuffer::SetMemoryBufferCapacity(qint64 capacity) {
    WaitForRefill();
    if (capacity < memoryBytes_) {
        throw Exception(QStringLiteral("Can not lower memory capacity at this time"));
    }
    capacity_ = capacity;
    Reallocate(std::max(std::min(allocated_, capacity_), std::min(kSmallestBlock, capacity_)));
}

void TQRFifoBuffer::LoadFromStream(QIODevice& stream) {
    WaitForRefill();
    stream.seek(0);
    const qint64 size = stream.size();
    if (size <= 0) {
        return;
    }
    if (size <= capacity_) {
        if (allocated_ < size) {
            Reallocate(size);
        }
        count_ = memoryBytes_ = memoryTail_ = std::max<qint64>(stream.read(memory_.get(), size), 0);
        memoryHead_ = 0;
        diskBytes_ = diskTail_ = diskHead_ = 0;
        return;
    }
    if (!disk_) {
        InitDiskBuffer();
    }
    disk_->seek(0);
    QByteArray chunk(kDiskChunk, Qt::Uninitialized);
    qint64 copied = 0;
    while (copied < size) {
        const qint64 got = stream.read(chunk.data(), kDiskChunk);
        if (got <= 0 || disk_->write(chunk.constData(), got) != got) {
            break;
        }
        copied += got;
    }
    count_ = diskBytes_ = diskTail_ = copied;
    diskHead_ = 0;
    memoryBytes_ = memoryTail_ = memoryHead_ = 0;
    StartRefill();
}

void TQRFifoBuffer::LoadFromFile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(QStringLiteral("Cannot open file ") + fileName + QStringLiteral(": ") +
                        file.errorString());
    }
    LoadFromStream(file);
}
