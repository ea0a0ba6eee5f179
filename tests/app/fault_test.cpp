// Settings that cannot be written, and settings files nobody would write.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>

#include "window_fixture.h"

namespace bearfix {
namespace {

namespace fs = std::filesystem;

class SettingsFaultTest : public testing::WindowTest {
protected:
    // Closes the window, answering the message box of the failed save.
    void closeFailing(TBearfix& w) {
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
        EXPECT_EQ(shown, "Unable to write to " + QString::fromStdString(iniPath()));
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

TEST_F(SettingsFaultTest, ReadOnlyDirectoryKeepsTheOldFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    fs::permissions(dir.path() / "config/bearfix", fs::perms::owner_read | fs::perms::owner_exec);
    auto w = start();
    w->form().Ed_Brg1X->setText("13");
    closeFailing(*w);
    fs::permissions(dir.path() / "config/bearfix", fs::perms::owner_all);
    EXPECT_EQ(readIni(), "[PREV_SESSION]\nBrg1X=12\n");
}

TEST_F(SettingsFaultTest, SymlinkToDevFullIsNotReplaced) {
    struct stat device;
    if (::stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode)) GTEST_SKIP() << "no /dev/full here";
    fs::create_directories(dir.path() / "config/bearfix");
    fs::create_symlink("/dev/full", iniPath());
    closeFailing(*start());
    EXPECT_TRUE(fs::is_symlink(iniPath()));
    ASSERT_EQ(::stat("/dev/full", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode)) << "the device is still a device";
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
    w->Timer1Timer();
    EXPECT_EQ(f.Ed_LocX->text(), "no intersection found") << "the window works with what it could read";
    w->close();
    EXPECT_TRUE(iniHas("ShowCities=3")) << "the second [MAP] is kept";
    EXPECT_TRUE(iniHas("CenterHow=1"));
}

}  // namespace
}  // namespace bearfix
