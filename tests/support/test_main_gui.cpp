#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Tests of dialogs and text views: a widget application, on the offscreen platform unless the
// environment asks for another (to watch a test run on a real display).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // No test reads or writes the user's own memory of servers that compression failed with.
    const QTemporaryDir data;
    qputenv("ZKNEWS_NO_COMPRESSION", data.filePath(QStringLiteral("no-compression.txt")).toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
