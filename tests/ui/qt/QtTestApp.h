// One QApplication for a whole test program, made on first use (the tests
// run with gtest_main, so there is no main of our own to make it in).
#pragma once

#include <QApplication>

namespace brellin::testing {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "brellin-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace brellin::testing
