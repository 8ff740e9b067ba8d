#include <QApplication>
#include <gtest/gtest.h>

// Tests of dialogs and text views: a widget application, on the offscreen platform unless the
// environment asks for another (to watch a test run on a real display).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
