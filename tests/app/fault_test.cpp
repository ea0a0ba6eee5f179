// What users and their machines do to Bearfix: settings that cannot be
// written, settings files nobody would write, map data that is missing.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "window_fixture.h"

namespace bearfix {
namespace {

using testing::WindowTest;

TEST_F(WindowTest, SettingsWrittenToAFullDevice) {
    struct stat device;
    if (::stat("/dev/full", &device) != 0 || !S_ISCHR(device.st_mode)) GTEST_SKIP() << "no /dev/full here";
    std::filesystem::create_directories(dir.path() / "config/bearfix");
    std::filesystem::create_symlink("/dev/full", iniPath());
    auto w = start();
    testing::MessageBoxCatcher boxes;
    w->close();
    EXPECT_EQ(boxes.text, QString("Unable to write to %1").arg(QString::fromStdString(iniPath())));
    EXPECT_TRUE(std::filesystem::is_symlink(iniPath()));
    ASSERT_EQ(::stat("/dev/full", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode)) << "the device is still a device";
}

TEST_F(WindowTest, SettingsDirectoryReadOnly) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    writeIni("[PREV_SESSION]\nBrg1X=12\n");
    std::filesystem::permissions(dir.path() / "config/bearfix", std::filesystem::perms::owner_read |
                                                                    std::filesystem::perms::owner_exec);
    auto w = start();
    w->form().Ed_Brg1X->setText("13");
    testing::MessageBoxCatcher boxes;
    w->close();
    EXPECT_TRUE(boxes.text.startsWith("Unable to write to "));
    std::filesystem::permissions(dir.path() / "config/bearfix", std::filesystem::perms::owner_all);
    EXPECT_EQ(readIni(), "[PREV_SESSION]\nBrg1X=12\n");
}

TEST_F(WindowTest, SettingsFilesNobodyWouldWrite) {
    std::string junk;
    for (int i = 0; i < 3000; ++i) junk += static_cast<char>((i * 131) % 256);
    writeIni("[PREV_SESSION]\nBrg1X=" + std::string(1 << 20, '7') + "\n" + junk +
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
    const std::string written = readIni();
    EXPECT_NE(written.find("Brg2X=45"), std::string::npos);
    EXPECT_NE(written.find("ShowCities=3"), std::string::npos) << "the second [MAP] is kept";
    EXPECT_NE(written.find("CenterHow=1"), std::string::npos);
}

}  // namespace
}  // namespace bearfix
