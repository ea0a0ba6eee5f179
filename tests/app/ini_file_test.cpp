#include "app/ini_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/cp1252.h"
#include "temp_dir.h"

namespace bearfix {
namespace {

using testing::TempDir;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(IniFile, Reading) {
    IniFile f;
    f.parse(
        "; written by hand\r\n"
        "[Prev_Session]\r\n"
        "  pos1 = N52\xC2\xB0" "08'26\" E008\xC2\xB0" "28'57\"  \r\n"
        "Brg1X=\r\n"
        "Brg1X=second\r\n"
        "Width=0x1F\r\n"
        "Height=12abc\r\n"
        "Left=-40\r\n"
        "Top=99999999999\r\n"
        "[MAP]\r\n"
        "ShowTopo=0X10\r\n"
        "GTOPO30_dir=/data/gtopo30\r\r\n"
        "SRTM3_dir=/data/srtm\r9\n"
        "Range_km=" + std::string(3000, '9') + "\r\n");
    EXPECT_EQ(f.getString("PREV_SESSION", "Pos1", "x"), "N52\xB0" "08'26\" E008\xB0" "28'57\"");
    EXPECT_EQ(f.getString("prev_session", "BRG1X", "x"), "") << "the first occurrence wins";
    EXPECT_EQ(f.getString("PREV_SESSION", "Brg2X", "288"), "288");
    EXPECT_EQ(f.getString("NOPE", "Pos1", "d"), "d");
    EXPECT_EQ(f.getInt("PREV_SESSION", "Width", 1), 31);
    EXPECT_EQ(f.getInt("PREV_SESSION", "Height", 7), 7);
    EXPECT_EQ(f.getInt("PREV_SESSION", "Left", 7), -40);
    EXPECT_EQ(f.getInt("PREV_SESSION", "Top", 7), 7);
    EXPECT_EQ(f.getInt("PREV_SESSION", "Brg1X", 7), 7);
    EXPECT_EQ(f.getInt("MAP", "ShowTopo", 0), 16);
    EXPECT_EQ(f.getPath("MAP", "GTOPO30_dir", ""), "/data/gtopo30") << "no line break gets into a value";
    EXPECT_EQ(f.getPath("MAP", "SRTM3_dir", ""), "/data/srtm") << "nor what follows one";
    EXPECT_EQ(f.getString("MAP", "Range_km", "").size(), IniFile::kMaxText);
}

TEST(IniFile, ByteOrderMarksBeforeTheFirstSection) {
    for (const char* marks : {"", "\xEF\xBB\xBF", "\xEF\xBB\xBF\xEF\xBB\xBF"}) {
        IniFile f;
        f.parse(std::string(marks) + "[PREV_SESSION]\nBrg1X=12\n");
        EXPECT_EQ(f.getString("PREV_SESSION", "Brg1X", ""), "12") << "marks: " << std::strlen(marks) / 3;
        EXPECT_EQ(f.text(), "[PREV_SESSION]\nBrg1X=12\n") << "marks: " << std::strlen(marks) / 3;
    }
}

TEST(IniFile, EachLineIsReadInItsOwnEncoding) {
    // One line of Windows-1252 (a file name written by another program) must
    // not turn the UTF-8 of the others into nonsense.
    IniFile f;
    f.parse("[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'\nName=K\xF6ln\n");
    EXPECT_EQ(f.getString("PREV_SESSION", "Pos1", ""), "N52\xB0" "08'");
    EXPECT_EQ(f.getString("PREV_SESSION", "Name", ""), "K\xF6ln");
    EXPECT_EQ(f.getPath("PREV_SESSION", "Name", ""), "K\xC3\xB6ln");
    EXPECT_EQ(f.text(), "[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'\nName=K\xC3\xB6ln\n") << "written back as UTF-8";
    EXPECT_EQ(truncateUtf8("K\xC3\xB6ln", 2), "K") << "never half a character";
    EXPECT_EQ(truncateUtf8("K\xC3\xB6ln", 3), "K\xC3\xB6");
}

TEST(IniFile, WritingKeepsWhatItDoesNotKnow) {
    IniFile f;
    f.parse("; comment\n[Other]\nmine=1\n\n[MAP]\nProjection=1\n\n[Tail]\nz=9\n");
    f.setInt("map", "projection", 0);
    f.setString("MAP", "CenterAt", "N51\xB0" "19'40\" E007\xB0" "14'05\"");
    f.setPath("MAP", "SRTM3_dir", "/data/a\n[Tail]\nz=1");  // a line break would start a section
    f.setString("GUI", "GeoPosFormat", "7");
    EXPECT_EQ(f.text(),
              "; comment\n[Other]\nmine=1\n\n[MAP]\nProjection=0\nCenterAt=N51\xC2\xB0" "19'40\" E007\xC2\xB0"
              "14'05\"\nSRTM3_dir=/data/a\n\n[Tail]\nz=9\n\n[GUI]\nGeoPosFormat=7\n");
}

TEST(IniFile, SaveReplacesAtomically) {
    TempDir dir;
    const std::string path = dir.write("bearfix.ini", "[A]\nold=1\n");
    const auto files = [&dir] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    IniFile f;
    EXPECT_FALSE(f.load((dir.path() / "none.ini").string()));
    EXPECT_EQ(f.getInt("MAP", "ShowCities", 2), 2);
    EXPECT_FALSE(f.save((dir.path() / "no/such/dir.ini").string()));
    ASSERT_TRUE(f.load(path));
    f.setString("A", "new", "value \"quoted\"");
    ASSERT_TRUE(f.save(path));
    EXPECT_EQ(readFile(path), "[A]\nold=1\nnew=value \"quoted\"\n");
    EXPECT_EQ(files(), 1) << "no temporary file left";

    // Through a symbolic link the link stays and its target changes.
    std::filesystem::create_symlink(path, dir.path() / "link.ini");
    f.setInt("A", "old", 2);
    ASSERT_TRUE(f.save((dir.path() / "link.ini").string()));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.ini"));
    const std::string saved = readFile(path);
    EXPECT_NE(saved.find("old=2"), std::string::npos);

    // A full disk: the save fails and the old file is intact.
    f.setInt("A", "old", 3);
    {
        testing::FileSizeLimit full(8);
        EXPECT_FALSE(f.save(path));
    }
    EXPECT_EQ(readFile(path), saved);
    EXPECT_EQ(files(), 2) << "no temporary file left";
}

}  // namespace
}  // namespace bearfix
