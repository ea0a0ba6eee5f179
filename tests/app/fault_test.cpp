// Settings that cannot be written, and settings files nobody would write.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QtTest/QTest>
#include <chrono>
#include <filesystem>
#include <functional>

#include "window_fixture.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

class SettingsFaultTest : public testing::WindowTest {
protected:
    // Closes the window, answering the message box of the failed save.
    void closeFailing(TBearfix& w) { closeExpecting(w, "Unable to write to " + iniPath()); }
    // Closes the window; `box` is the text of the message box it shows, empty for none.
    void closeExpecting(TBearfix& w, const std::string& box) {
        QString shown;
        QTimer poll;
        poll.callOnTimeout([&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->done(QMessageBox::Ok);
            }
        });
        poll.start(10);
        w.close();
        EXPECT_EQ(shown, QString::fromStdString(box));
    }
};

TEST_F(SettingsFaultTest, FullDiskKeepsTheOldFile) {
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    auto w = start();
    w->form().Ed_Brg1X->setText("13");
    {
        testing::FileSizeLimit full(16);
        closeFailing(*w);
    }
    EXPECT_EQ(readIni(), "[PREV_SESSION]\nBrg1X=12\n");
}

// Root writes into read-only directories: as root, this test runs again as
// user 65534, in a process of its own.
TEST_F(SettingsFaultTest, ReadOnlyDirectoryKeepsTheOldFile) {
    if (geteuid() == 0) {
        QProcess self;
        self.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                               QString::fromStdString(fs::read_symlink("/proc/self/exe").string()),
                               "--gtest_filter=SettingsFaultTest.ReadOnlyDirectoryKeepsTheOldFile"});
        ASSERT_TRUE(self.waitForFinished(60000));
        const QByteArray out = self.readAllStandardOutput();
        EXPECT_EQ(self.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test.")) << out.toStdString();
        return;
    }
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    fs::permissions(dir.path() / "config/bearfix", fs::perms::owner_read | fs::perms::owner_exec);
    auto w = start();
    w->form().Ed_Brg1X->setText("13");
    closeFailing(*w);
    fs::permissions(dir.path() / "config/bearfix", fs::perms::owner_all);
    EXPECT_EQ(readIni(), "[PREV_SESSION]\nBrg1X=12\n");
}

// What is there and cannot be read is said at start and never replaced
// with defaults at close.
TEST_F(SettingsFaultTest, UnreadableSettingsAreToldAndKept) {
    const std::string settings = "[PREV_SESSION]\nBrg1X=12\n";
    const struct {
        const char* name;
        std::function<void(const std::string& path)> make;
        const char* reason;
    } cases[] = {
        {"larger than the limit",
         [&](const std::string& path) {
             writeIni(settings);
             fs::resize_file(path, IniFile::kMaxFileSize + 1);
         },
         "larger than 1 MB"},
        {"a pipe", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, "not a regular file"},
        {"a link to /dev/full", [](const std::string& path) { fs::create_symlink("/dev/full", path); },
         "not a regular file"},
        {"a directory", [](const std::string& path) { fs::create_directory(path); }, "not a regular file"},
        {"without permission",
         [&](const std::string& path) {
             writeIni(settings);
             fs::permissions(path, fs::perms::none);
         },
         "Permission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.reason) == "Permission denied" && geteuid() == 0) continue;  // root reads it anyway
        fs::remove_all(dir.path() / "config");
        fs::create_directories(dir.path() / "config/bearfix");
        c.make(iniPath());
        const auto before = fs::symlink_status(iniPath()).type();
        const std::uintmax_t size = fs::is_regular_file(iniPath()) ? fs::file_size(iniPath()) : 0;
        auto w = start();
        QString warned;
        w->dialogs.warn = [&warned](const QString& text) { warned = text; };
        const QString message = "Cannot read " + QString::fromStdString(iniPath()) + ": " + c.reason +
                                "; settings will not be saved";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !warned.isEmpty(); }, 5000));
        EXPECT_EQ(warned, message);
        EXPECT_TRUE(w->form().Mem_Msgs->toPlainText().contains("Error: " + message));
        EXPECT_EQ(w->form().Ed_Brg1X->text(), "260") << "the defaults";
        w->form().Ed_Brg1X->setText("13");
        closeExpecting(*w, "");
        EXPECT_EQ(fs::symlink_status(iniPath()).type(), before);
        if (size > 0) {
            fs::permissions(iniPath(), fs::perms::owner_all);
            EXPECT_EQ(fs::file_size(iniPath()), size);
            EXPECT_EQ(readIni().substr(0, settings.size()), settings);
        }
    }
}

// Replaced by a pipe while the program ran: refused at close, not waited for.
TEST_F(SettingsFaultTest, APipeAtCloseIsNotWaitedFor) {
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    auto w = start();
    fs::remove(iniPath());
    ASSERT_EQ(mkfifo(iniPath().c_str(), 0600), 0);
    closeExpecting(*w, "Cannot read " + iniPath() + ": not a regular file; settings will not be saved");
    EXPECT_TRUE(fs::is_fifo(iniPath()));
}

// (Which files are stale temporaries: the settings file's own test.)
TEST_F(SettingsFaultTest, StaleTemporariesAreRemovedAtStart) {
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    const fs::path stale = dir.path() / "config/bearfix/bearfix.ini.Ab3dE9";
    std::ofstream(stale) << std::string(5000, 'x');
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));
    auto w = start();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_EQ(w->form().Ed_Brg1X->text(), "12");
}

TEST_F(SettingsFaultTest, WindowBoundsFarOffOpenTheWindowOnTheScreen) {
    writeIni("[PREV_SESSION]\nLeft=2147483647\nTop=2147483647\nWidth=2147483647\nHeight=2147483647\n");
    auto w = start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(w->geometry())) << "opened centred, no larger than the screen";
    w->close();
    EXPECT_TRUE(iniHas("Left=" + std::to_string(w->x()) + "\nTop=" + std::to_string(w->y()) + "\n"));
    EXPECT_GE(w->x(), screen.left());
}

TEST_F(SettingsFaultTest, JunkSettingsFile) {
    std::string junk;
    for (int i = 0; i < 3000; ++i) junk += static_cast<char>((i * 131) % 256);
    writeIni("[PREV_SESSION]\nBrg1X=" + std::string(IniFile::kMaxFileSize / 2, '7') + "\n" + junk +
             "\n[PREV_SESSION]\nBrg1X=99\nBrg2X=45\n[MAP]\nRange_km=\x01\x02\nCenterHow=2147483648\n"
             "[MAP]\nShowCities=3\n");
    auto w = start();
    Ui::TBearfix& f = w->form();
    EXPECT_EQ(f.Ed_Brg1X->text().size(), 2047) << "the first Brg1X, cut at 2047 characters";
    EXPECT_EQ(f.Ed_Brg2X->text(), "45") << "a key of a repeated section is still found";
    EXPECT_EQ(f.CB_MapCenter->currentIndex(), 1) << "a number too large for an integer gives the default";
    ASSERT_TRUE(firstMapDrawn(*w));
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found") << "the window works with what it could read";
    w->close();
    EXPECT_TRUE(iniHas("ShowCities=3")) << "the second [MAP] is kept";
    EXPECT_TRUE(iniHas("CenterHow=1"));
}

}  // namespace
}  // namespace bearfix
