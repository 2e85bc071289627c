// Entry point of every widget test (harvix_test ... GUI): one QApplication for all
// cases, on Qt's offscreen platform unless QT_QPA_PLATFORM names another, so that
// listing and running the tests needs no display.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
