#pragma once

// Whole files for tests: written, read back, and kept in a directory of the test's own.
#include <QAnyStringView>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The bytes of the file at path. A file that cannot be read fails the calling test and reads as
// "(missing)", which no expected content is: a check cannot pass on a file that is not there.
inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString() << ": "
                      << file.errorString().toStdString();
        return QByteArrayLiteral("(missing)");
    }
    return file.readAll();
}

// Makes or replaces the file at path with bytes; a file that cannot be written fails the test.
inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly))
        << "cannot write " << path.toStdString() << ": " << file.errorString().toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

// A directory of the test's own, removed with it, and its files by name.
struct TestDir {
    QTemporaryDir dir;

    TestDir() { EXPECT_TRUE(dir.isValid()) << dir.errorString().toStdString(); }

    QString Path(QAnyStringView name) const { return dir.filePath(name.toString()); }
    void Write(QAnyStringView name, const QByteArray& bytes) const { WriteFile(Path(name), bytes); }
    QByteArray Read(QAnyStringView name) const { return FileBytes(Path(name)); }
};

// For the test's lifetime the servers that compression failed with (util/compressionmemory.h)
// are kept in a file of its own, which starts missing.
struct TestCompressionMemory {
    static constexpr char kVariable[] = "ZKNEWS_NO_COMPRESSION";
    TestDir dir;
    const QByteArray saved = qgetenv(kVariable);

    TestCompressionMemory() { qputenv(kVariable, Path().toUtf8()); }
    ~TestCompressionMemory() { qputenv(kVariable, saved); }
    TestCompressionMemory(const TestCompressionMemory&) = delete;
    TestCompressionMemory& operator=(const TestCompressionMemory&) = delete;

    QString Path() const { return dir.Path("no-compression.txt"); }
};
