// A main window started with its settings, data and socket in a private directory.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QtTest/QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

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
        setenv("BEARFIX_GPSD", "off", 1);  // not the user's gpsd: tests start their own
    }
    std::unique_ptr<TBearfix> start() {
        auto window = std::make_unique<TBearfix>();
        window->resize(800, 600);
        return window;
    }
    // Shown and active, with its first map drawn.
    std::unique_ptr<TBearfix> startShown() {
        auto window = start();
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(firstMapDrawn(*window));
        return window;
    }
    // The first tick's work (results, "Drawing....", the first map) runs as
    // soon as the event loop does.
    static ::testing::AssertionResult firstMapDrawn(TBearfix& w) {
        if (QTest::qWaitFor([&w] { return !w.initialDrawPending; }, 20000)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no first map";
    }
    // A message as the socket hands it to the mailbox.
    static void post(TBearfix& w, const std::string& text) {
        ASSERT_EQ(postToMailbox(w.mailbox(), 1, 0, static_cast<int32_t>(text.size()), text.data()), kReplyStored);
    }
    // A's and B's bearings given as the user gives them: typed into their
    // fields (the first run's example is no bearing of the log's fix).
    static void giveBearings(TBearfix& w) {
        for (QLineEdit* field : {w.form().Ed_Brg1X, w.form().Ed_Brg2X}) {
            const QString text = field->text();
            field->selectAll();
            QTest::keyClicks(field, text);
        }
    }
    // A field that holds no position is red.
    static bool isRed(const QLineEdit* field) { return field->palette().color(QPalette::Base) == QColor(255, 160, 160); }
    std::string iniPath() const { return (dir.path() / "config/bearfix/bearfix.ini").string(); }
    void writeIni(const std::string& text) const {
        std::filesystem::create_directories(dir.path() / "config/bearfix");
        std::ofstream(iniPath(), std::ios::binary) << text;
    }
    std::string readIni() const {
        std::ifstream in(iniPath(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    ::testing::AssertionResult iniHas(const std::string& text) const {
        const std::string ini = readIni();
        if (ini.find(text) != std::string::npos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << ini;
    }

    TempDir dir;
};

}  // namespace bearfix::testing
