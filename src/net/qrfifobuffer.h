#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QFile;
class QIODevice;

// First-in-first-out store of received bytes. Up to `capacity` bytes are held in one
// contiguous memory block that grows with the bytes held (and is given back once drained), so
// an idle or lightly used connection costs a few kilobytes; anything beyond overflows into a
// temporary file ("Buf..." in the system temporary directory), so a huge download never exhausts
// memory. When the memory part has been drained, a one-shot worker thread pulls the next block back
// from the file.
//
// All calls come from one thread; the refill worker is excluded by the refilling flag, which
// every other operation waits on before touching any field.
class TQRFifoBuffer {
public:
    TQRFifoBuffer();
    ~TQRFifoBuffer();
    TQRFifoBuffer(const TQRFifoBuffer&) = delete;
    TQRFifoBuffer& operator=(const TQRFifoBuffer&) = delete;

    // Stores n bytes at the end; returns the amount stored in the part that took the tail.
    qint64 Append(const char* source, qint64 n);
    qint64 Append(const QByteArray& bytes) { return Append(bytes.constData(), bytes.size()); }
    // Stores what read writes, up to n bytes: straight into the memory block when it has room
    // for n, else through Append. read gets where to write and how much at most, and returns
    // how much it wrote (at most n; 0 or less stores nothing). Returns read's result.
    qint64 AppendFrom(const std::function<qint64(char* destination, qint64 n)>& read, qint64 n);
    // Takes up to n of the oldest bytes out; returns how many were delivered.
    qint64 Remove(char* destination, qint64 n);
    QByteArray Remove(qint64 n);
    // As Remove, without taking the bytes out.
    qint64 Peek(char* destination, qint64 n);
    // The oldest bytes, those held in memory, to be read where they lie instead of copied out.
    // Valid until the next call that adds or takes bytes: an Append may move them.
    QByteArrayView MemoryView();
    // Takes up to n of the oldest bytes out without delivering them; returns how many.
    qint64 Discard(qint64 n);
    // Bytes up to and including the first occurrence of pattern that starts at or after from;
    // 0 if none, -1 if impossible. A reader that waits for a pattern passes how far it has
    // searched already, so that each search looks only at the bytes that came since.
    qint64 Search(const QByteArray& pattern, qint64 from = 0);
    void Clear();
    void LoadFromStream(QIODevice& stream);
    void LoadFromFile(const QString& fileName);

    qint64 Count() const { return count_; }
    qint64 Capacity() const { return capacity_; }
    qint64 MemoryBytes() const { return memoryBytes_; }
    qint64 DiskBytes() const { return diskBytes_; }
    // Size of the memory block currently allocated (never above the capacity).
    qint64 AllocatedBytes() const { return allocated_; }
    // Path of the overflow file; empty while there is none.
    QString FileName() const { return fileName_; }

    void SetMemoryBufferCapacity(qint64 capacity);
    // Memory capacity as a fraction of the available physical memory: a multiple of 1 KiB,
    // at least 64 KiB.
    static qint64 CalculateThreshold(double fraction);
    static QString CreateTemporaryFileName();
    void InitDiskBuffer();

    // Waits until a running refill has finished (tests and benchmarks use it to settle).
    void WaitForRefill() const;

private:
    void Init();
    void Shuffle();
    void StartRefill();
    void Reallocate(qint64 size);
    void MakeRoomAtTail(qint64 n);
    // Counts n bytes just written behind the memory block's tail as held.
    void KeepAtTail(qint64 n);
    void ReleaseLargeBlock();
    qint64 ReadFromDisk(char* destination, qint64 offset, qint64 n) const;
    // Search's part in the overflow file, from a position that is at most pattern's length
    // less one before the file's first byte.
    qint64 SearchDisk(const QByteArray& pattern, qint64 from) const;

    qint64 count_ = 0;
    qint64 capacity_ = 0;
    std::unique_ptr<char[]> memory_;
    qint64 allocated_ = 0;
    qint64 memoryBytes_ = 0;
    qint64 memoryTail_ = 0;
    qint64 memoryHead_ = 0;
    QString fileName_;
    std::unique_ptr<QFile> disk_;
    qint64 diskBytes_ = 0;
    qint64 diskTail_ = 0;
    qint64 diskHead_ = 0;
    std::atomic<bool> refilling_{false};
};
