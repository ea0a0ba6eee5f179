// One offscreen Qt application for the benchmarks that draw or use widgets.
#pragma once

#include <QApplication>
#include <cstdlib>

namespace bearfix {

inline void ensureQtApplication() {
    if (QCoreApplication::instance()) return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "bearfix_bench";
    static char* argv[] = {name, nullptr};
    // Never destroyed: at exit, after the windows, its clean-up would run
    // into Qt's own statics already gone.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

}  // namespace bearfix
