// A main window started with its settings in a private directory.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/main_window.h"
#include "temp_dir.h"
#include "ui_bearfix.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace bearfix::testing {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
        setenv("BEARFIX_SOCKET", (dir.path() / "bearfix.sock").c_str(), 1);
    }

    std::unique_ptr<TBearfix> start() {
        auto window = std::make_unique<TBearfix>();
        window->resize(800, 600);
        return window;
    }

    std::string iniPath() const { return (dir.path() / "config/bearfix/bearfix.ini").string(); }

    void writeIni(const std::string& text) const {
        std::filesystem::create_directories(dir.path() / "config/bearfix");
        std::ofstream(iniPath(), std::ios::binary) << text;
    }

    std::string readIni() const {
        std::ifstream in(iniPath(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    TempDir dir;
};

// Answers every message box that opens while it lives, keeping the last text.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start(10);
    }
    QString text;

private:
    QTimer timer_;
};

}  // namespace bearfix::testing
