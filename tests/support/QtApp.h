#pragma once
// One QApplication for a test executable (offscreen: QT_QPA_PLATFORM is set by ctest).
#include <QApplication>

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "dravik_qt_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
