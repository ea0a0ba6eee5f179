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
    static QApplication app(argc, argv);
}

}  // namespace bearfix
