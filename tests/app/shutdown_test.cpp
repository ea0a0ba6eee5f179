// The real program, offscreen, ended every ordinary way: signals, a kill
// after the background save, a second start. What it was sent over the
// socket must be in its files afterwards.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "remote/remote_client.h"
#include "remote/remote_mailbox.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

class ShutdownTest : public ::testing::Test {
protected:
    // Started with its files in the test's directory; ready once it listens.
    std::unique_ptr<QProcess> start(const std::string& socket, const QString& autosaveMs = "") {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString d = QString::fromStdString(dir.path().string());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", d + "/config");
        env.insert("XDG_DATA_HOME", d + "/data");
        env.insert("XDG_RUNTIME_DIR", d);
        env.insert("BEARFIX_SOCKET", QString::fromStdString(socket));
        env.insert("BEARFIX_GPSD", "off");
        if (!autosaveMs.isEmpty()) env.insert("BEARFIX_AUTOSAVE_MS", autosaveMs);
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(BEARFIX_SOURCE_DIR);
        p->setChildProcessModifier([] {  // as from a desktop, not a background job that ignores them
            for (int number : {SIGTERM, SIGINT, SIGHUP}) ::signal(number, SIG_DFL);
        });
        p->start(BEARFIX_PROGRAM, {});
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }
    static bool listening(const std::string& socket) {
        return QTest::qWaitFor([&] { return deliverCommand(socket, "", 1000).result == Delivery::Result::Delivered; },
                               20000);
    }
    static void send(const std::string& socket, const std::string& text) {
        const Delivery d = deliverCommand(socket, text, 5000);
        EXPECT_TRUE(d.result == Delivery::Result::Delivered && d.reply == kReplyStored) << text;
    }
    static void endWith(QProcess& p, int signal) { ::kill(static_cast<pid_t>(p.processId()), signal); }
    static ::testing::AssertionResult endedWell(QProcess& p) {
        if (!p.waitForFinished(20000)) return ::testing::AssertionFailure() << "still running";
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return ::testing::AssertionFailure() << "ended with " << p.exitCode() << ": " << p.readAllStandardError().toStdString();
        return ::testing::AssertionSuccess();
    }
    std::string file(const char* name) const {
        std::ifstream in(dir.path() / "config/bearfix" / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool has(const char* name, const std::string& text) const { return file(name).find(text) != std::string::npos; }
    std::string socket(const char* name = "bearfix.sock") const { return (dir.path() / name).string(); }

    testing::TempDir dir;
};

// The logout's SIGTERM comes with a SIGHUP: the second may not cut the save short.
TEST_F(ShutdownTest, SignalsEndItAsQuitDoes) {
    const struct { std::vector<int> ends; const char* pos; } cases[] = {
        {{SIGTERM}, "n50.1 e8.6"}, {{SIGINT}, "n50.2 e8.7"}, {{SIGHUP}, "n50.3 e8.8"}, {{SIGTERM, SIGHUP}, "n50.4 e8.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pos);
        auto p = start(socket());
        ASSERT_TRUE(listening(socket()));
        send(socket(), std::string("set pos1=") + c.pos);  // queued: it runs at the next tick, or at the end
        send(socket(), std::string("bearing add station=\"") + c.pos + "\" lat=50 lon=8 brg=45");
        for (int number : c.ends) endWith(*p, number);
        ASSERT_TRUE(endedWell(*p));
        EXPECT_TRUE(has("bearfix.ini", std::string("\nPos1=") + c.pos + "\n")) << file("bearfix.ini");
        EXPECT_TRUE(has("bearings.csv", std::string("\n") + c.pos + ",50,8,45,")) << file("bearings.csv");
        EXPECT_FALSE(fs::exists(socket()));
    }
}

// Saved in the background while it runs; after a kill the next start takes
// over the dead one's socket and settings, not read-only.
TEST_F(ShutdownTest, BackgroundSaveOutlivesAKill) {
    auto p = start(socket(), "100");
    ASSERT_TRUE(listening(socket()));
    send(socket(), "set pos1=n51 e9");
    EXPECT_TRUE(QTest::qWaitFor([&] { return has("bearfix.ini", "\nPos1=n51 e9\n"); }, 20000)) << file("bearfix.ini");
    endWith(*p, SIGKILL);
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_TRUE(has("bearfix.ini", "\nPos1=n51 e9\n"));

    auto next = start(socket());
    ASSERT_TRUE(listening(socket()));
    send(socket(), "set pos2=n52 e10");
    endWith(*next, SIGTERM);
    ASSERT_TRUE(endedWell(*next));
    EXPECT_TRUE(has("bearfix.ini", "\nPos1=n51 e9\n") && has("bearfix.ini", "\nPos2=n52 e10\n")) << file("bearfix.ini");
    EXPECT_EQ(next->readAllStandardError().indexOf("read-only"), -1);
}

// A second start raises the first and ends; one that cannot reach the first
// (here: another socket) opens read-only and leaves the files alone.
TEST_F(ShutdownTest, SecondStartDoesNotOverwriteTheFirst) {
    auto first = start(socket());
    ASSERT_TRUE(listening(socket()));
    auto second = start(socket());
    ASSERT_TRUE(endedWell(*second));
    EXPECT_TRUE(second->readAllStandardOutput().startsWith(
        QString("Bearfix runs already (process %1)").arg(first->processId()).toUtf8()));

    auto readOnly = start(socket("other.sock"));
    ASSERT_TRUE(listening(socket("other.sock")));
    send(socket(), "set pos1=n53 e11");
    send(socket("other.sock"), "set pos1=n1 e1");
    send(socket("other.sock"), "bearing add station=\"second\" lat=1 lon=1 brg=1");
    endWith(*first, SIGTERM);
    ASSERT_TRUE(endedWell(*first));
    endWith(*readOnly, SIGTERM);
    ASSERT_TRUE(endedWell(*readOnly));
    EXPECT_TRUE(has("bearfix.ini", "\nPos1=n53 e11\n")) << file("bearfix.ini");
    EXPECT_FALSE(has("bearings.csv", "second"));
    EXPECT_NE(readOnly->readAllStandardError().indexOf("this window is read-only"), -1);
}

}  // namespace
}  // namespace bearfix
