#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Tests of the lower layers run an event loop but never create a widget.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // No test reads or writes the user's own memory of servers that compression failed with.
    const QTemporaryDir data;
    qputenv("ZKNEWS_NO_COMPRESSION", data.filePath(QStringLiteral("no-compression.txt")).toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
