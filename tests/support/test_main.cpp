#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests of the lower layers run an event loop but never create a widget.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
