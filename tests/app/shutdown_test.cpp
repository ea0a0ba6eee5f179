// The real program, offscreen, ended every ordinary way: what it was sent over the socket is in its files.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QtTest/QTest>
#include <fstream>
#include <iterator>
#include <memory>

#include "remote/remote_client.h"
#include "remote/remote_mailbox.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

class ShutdownTest : public ::testing::Test {
protected:
    // Started with its files in the test's directory, and listening.
    std::unique_ptr<QProcess> start(const char* socketName, const QString& autosaveMs = "") {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString d = QString::fromStdString(dir.path().string());
        for (const auto& [name, value] : {std::pair<QString, QString>{"QT_QPA_PLATFORM", "offscreen"},
                                          {"XDG_CONFIG_HOME", d + "/config"}, {"XDG_DATA_HOME", d + "/data"},
                                          {"XDG_RUNTIME_DIR", d}, {"BEARFIX_SOCKET", d + "/" + socketName},
                                          {"BEARFIX_GPSD", "off"}, {"BEARFIX_AUTOSAVE_MS", autosaveMs}})
            env.insert(name, value);
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(BEARFIX_SOURCE_DIR);
        p->setChildProcessModifier([] {  // as from a desktop, not a background job that ignores them
            for (int number : {SIGTERM, SIGINT, SIGHUP}) ::signal(number, SIG_DFL);
        });
        p->start(BEARFIX_PROGRAM, {});
        EXPECT_TRUE(QTest::qWaitFor([&] { return sent(socketName, "", 1000); }, 20000));
        return p;
    }
    bool sent(const char* name, const std::string& text, int ms = 5000) const {
        return deliverCommand(socket(name), text, ms).reply == kReplyStored;
    }
    static ::testing::AssertionResult endedWell(QProcess& p, std::initializer_list<int> signals_ = {}) {
        for (int number : signals_) ::kill(static_cast<pid_t>(p.processId()), number);
        if (!p.waitForFinished(20000)) return ::testing::AssertionFailure() << "still running";
        if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "status " << p.exitCode() << ": " << p.readAllStandardError().data();
    }
    std::string file(const char* name) const {
        std::ifstream in(dir.path() / "config/bearfix" / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool has(const char* name, const std::string& text) const { return file(name).find(text) != std::string::npos; }
    std::string socket(const char* name) const { return (dir.path() / name).string(); }
    testing::TempDir dir;
};

// The logout's SIGTERM comes with a SIGHUP: the second may not cut the save short.
TEST_F(ShutdownTest, SignalsEndItAsQuitDoes) {
    const struct { std::initializer_list<int> ends; const char* pos; } cases[] = {
        {{SIGTERM}, "n50.1 e8.6"}, {{SIGINT}, "n50.2 e8.7"}, {{SIGHUP}, "n50.3 e8.8"},
        {{SIGTERM, SIGHUP}, "n50.4 e8.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pos);
        auto p = start("bearfix.sock");
        // Queued: run at the next tick, or at the end.
        EXPECT_TRUE(sent("bearfix.sock", std::string("set pos1=") + c.pos));
        EXPECT_TRUE(sent("bearfix.sock", std::string("bearing add station=\"") + c.pos + "\" lat=50 lon=8 brg=45"));
        ASSERT_TRUE(endedWell(*p, c.ends));
        EXPECT_TRUE(has("bearfix.ini", std::string("\nPos1=") + c.pos + "\n")) << file("bearfix.ini");
        EXPECT_TRUE(has("bearings.csv", std::string("\n") + c.pos + ",50,8,45,")) << file("bearings.csv");
        EXPECT_FALSE(std::filesystem::exists(socket("bearfix.sock")));
    }
}

// Saved in the background while it runs; after a kill the next start takes
// over the dead one's socket and settings, not read-only.
TEST_F(ShutdownTest, BackgroundSaveOutlivesAKill) {
    auto p = start("bearfix.sock", "100");
    EXPECT_TRUE(sent("bearfix.sock", "set pos1=n51 e9"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return has("bearfix.ini", "\nPos1=n51 e9\n"); }, 20000)) << file("bearfix.ini");
    ASSERT_FALSE(endedWell(*p, {SIGKILL}));
    auto next = start("bearfix.sock");
    EXPECT_TRUE(sent("bearfix.sock", "set pos2=n52 e10"));
    ASSERT_TRUE(endedWell(*next, {SIGTERM}));
    EXPECT_TRUE(has("bearfix.ini", "\nPos1=n51 e9\n") && has("bearfix.ini", "\nPos2=n52 e10\n")) << file("bearfix.ini");
    EXPECT_EQ(next->readAllStandardError().indexOf("read-only"), -1);
}

// A second start raises the first and ends; one that cannot reach the first
// (here: through another socket) opens read-only and leaves the files alone.
TEST_F(ShutdownTest, SecondStartDoesNotOverwriteTheFirst) {
    auto first = start("bearfix.sock");
    QProcess second;
    second.setProcessEnvironment(first->processEnvironment());
    second.start(BEARFIX_PROGRAM, {});
    ASSERT_TRUE(endedWell(second));
    EXPECT_TRUE(second.readAllStandardOutput().startsWith(
        QString("Bearfix runs already (process %1)").arg(first->processId()).toUtf8()));
    auto readOnly = start("other.sock");
    EXPECT_TRUE(sent("bearfix.sock", "set pos1=n53 e11"));
    EXPECT_TRUE(sent("other.sock", "set pos1=n1 e1"));
    EXPECT_TRUE(sent("other.sock", "bearing add station=\"second\" lat=1 lon=1 brg=1"));
    ASSERT_TRUE(endedWell(*first, {SIGTERM}));
    ASSERT_TRUE(endedWell(*readOnly, {SIGTERM}));
    EXPECT_TRUE(has("bearfix.ini", "\nPos1=n53 e11\n")) << file("bearfix.ini");
    EXPECT_FALSE(has("bearings.csv", "second"));
    EXPECT_NE(readOnly->readAllStandardError().indexOf("this window is read-only"), -1);
}

}  // namespace
}  // namespace bearfix
