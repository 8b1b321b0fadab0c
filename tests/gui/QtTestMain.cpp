#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

// GoogleTest with a QApplication on the main thread, as the dialog needs one.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
