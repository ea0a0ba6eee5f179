#include "session/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
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

TEST(IniFile, EachValueIsReadInItsOwnEncodingAndForeignLinesStayAsTheyAre) {
    // A Windows-1252 line (the old Windows program's) must not turn the UTF-8
    // of the others into nonsense, and what the program does not own is
    // written back byte for byte.
    const std::string text = "[\xFF\xFE]\nx=\xE4\n[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'\nName=K\xF6ln\nPos2=N49\xB0\n";
    IniFile f;
    f.parse(text);
    EXPECT_EQ(f.getString("PREV_SESSION", "Pos1", ""), "N52\xB0" "08'");
    EXPECT_EQ(f.getString("PREV_SESSION", "Name", ""), "K\xF6ln");
    EXPECT_EQ(f.getString("\xFF\xFE", "x", ""), "\xE4");
    EXPECT_EQ(f.text(), text);
    f.setString("PREV_SESSION", "Pos2", "N49\xB0");
    EXPECT_EQ(f.text(), "[\xFF\xFE]\nx=\xE4\n[PREV_SESSION]\nPos1=N52\xC2\xB0" "08'\nName=K\xF6ln\nPos2=N49\xC2\xB0\n")
        << "what the program writes is UTF-8";
    EXPECT_EQ(truncateUtf8("K\xC3\xB6ln", 2), "K") << "never half a character";
    EXPECT_EQ(truncateUtf8("K\xC3\xB6ln", 3), "K\xC3\xB6");
}

TEST(IniFile, PathsKeepTheirBytes) {
    // (bytes, as the file has them), worked out by hand: bytes that are not
    // UTF-8 and a '%' that would read as an escape are written as %XX.
    const std::pair<std::string, std::string> cases[] = {
        {"/home/j\xF6rg/srtm", "/home/j%F6rg/srtm"},
        {"/data/K\xC3\xB6ln \xE2\x82\xAC/\xF0\x9F\x98\x80", "/data/K\xC3\xB6ln \xE2\x82\xAC/\xF0\x9F\x98\x80"},
        {"c:\\gtopo30", "c:\\gtopo30"},
        {"/x/100%/50%of/%4", "/x/100%/50%of/%4"},
        {"/x/%41b/%fF", "/x/%2541b/%25fF"},
        {"/x/\xC0\xAF/\xED\xA0\x80/\xF4\x90\x80\x80/\xE2\x82", "/x/%C0%AF/%ED%A0%80/%F4%90%80%80/%E2%82"},
        {"\xFF\xFE%", "%FF%FE%"},
        {" \t/x/a b\r\n\t ", "%20%09/x/a b%0D%0A%09%20"},
        {std::string("/x/a\0/b", 7), "/x/a"},
    };
    for (const auto& [bytes, written] : cases) {
        IniFile f;
        f.setPath("MAP", "SRTM3_dir", bytes);
        EXPECT_EQ(f.text(), "[MAP]\nSRTM3_dir=" + written + "\n");
        IniFile again;
        again.parse(f.text());
        EXPECT_EQ(again.getPath("MAP", "SRTM3_dir", ""), bytes.substr(0, bytes.find('\0'))) << written;
    }
    // Every byte a line can hold, after every other, comes back.
    std::string all;
    for (int b = 1; b < 256; ++b) all += {static_cast<char>(b), '%', static_cast<char>(b)};
    IniFile f;
    f.setPath("A", "p", all);
    IniFile again;
    again.parse(f.text());
    EXPECT_EQ(again.getPath("A", "p", ""), all);
    // An earlier version wrote the bytes as they were: they are the name.
    again.parse("[MAP]\nSRTM3_dir=/home/j\xF6rg/srtm\n");
    EXPECT_EQ(again.getPath("MAP", "SRTM3_dir", ""), "/home/j\xF6rg/srtm");
}

TEST(IniFile, WritingKeepsWhatItDoesNotKnow) {
    IniFile f;
    f.parse("; comment\n[Other]\nmine=1\n\n[MAP]\nProjection=1\n\n[Tail]\nz=9\n");
    f.setInt("map", "projection", 0);
    f.setString("MAP", "CenterAt", "N51\xB0" "19'40\" E007\xB0" "14'05\"");
    f.setPath("MAP", "SRTM3_dir", "/data/a\n[Tail]\r\nz=1");  // a line break would start a section
    f.setString("GUI", "GeoPosFormat", "7");
    EXPECT_EQ(f.text(),
              "; comment\n[Other]\nmine=1\n\n[MAP]\nProjection=0\nCenterAt=N51\xC2\xB0" "19'40\" E007\xC2\xB0"
              "14'05\"\nSRTM3_dir=/data/a%0A[Tail]%0D%0Az=1\n\n[Tail]\nz=9\n\n[GUI]\nGeoPosFormat=7\n");
}

TEST(IniFile, SaveReplacesAtomically) {
    TempDir dir;
    const std::string path = dir.write("bearfix.ini", "[A]\nold=1\n");
    const auto files = [&dir] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}); };
    IniFile f;
    EXPECT_EQ(f.load((dir.path() / "none.ini").string()), IniFile::Load::Missing);
    EXPECT_EQ(f.getInt("MAP", "ShowCities", 2), 2);
    EXPECT_FALSE(f.save((dir.path() / "no/such/dir.ini").string()));
    ASSERT_EQ(f.load(path), IniFile::Load::Read);
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

    // A pipe is neither waited for nor replaced.
    const std::string pipe = (dir.path() / "pipe.ini").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(f.save(pipe));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_EQ(files(), 3) << "no temporary file left";
}

TEST(IniFile, WhatCannotBeReadIsToldApart) {
    TempDir dir;
    const auto sized = [&dir](const char* name, std::uintmax_t size) {
        const std::string path = dir.write(name, "[A]\nx=1\n");
        std::filesystem::resize_file(path, size);
        return path;
    };
    const std::string locked = dir.write("locked.ini", "[A]\nx=1\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const std::string pipe = (dir.path() / "pipe.ini").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string path;
        IniFile::Load load;
        std::string reason;
    } cases[] = {
        {dir.write("good.ini", "[A]\nx=1\n"), IniFile::Load::Read, ""},
        {(dir.path() / "missing.ini").string(), IniFile::Load::Missing, ""},
        {sized("at_limit.ini", IniFile::kMaxFileSize), IniFile::Load::Read, ""},
        {sized("too_large.ini", IniFile::kMaxFileSize + 1), IniFile::Load::Unreadable, "larger than 1 MB"},
        {pipe, IniFile::Load::Unreadable, "not a regular file"},
        {dir.path().string(), IniFile::Load::Unreadable, "not a regular file"},
        {(dir.path() / "good.ini/x").string(), IniFile::Load::Unreadable, "Not a directory"},
        {locked, geteuid() == 0 ? IniFile::Load::Read : IniFile::Load::Unreadable,  // root reads it anyway
         geteuid() == 0 ? "" : "Permission denied"},
    };
    for (const auto& c : cases) {
        IniFile f;
        f.parse("[B]\ny=2\n");
        std::string reason;
        EXPECT_EQ(f.load(c.path, &reason), c.load) << c.path;
        EXPECT_EQ(reason, c.reason) << c.path;
        EXPECT_EQ(f.getInt("A", "x", 0), c.load == IniFile::Load::Read ? 1 : 0) << c.path;
        EXPECT_FALSE(f.has("B", "y")) << "the old content is gone: " << c.path;
    }
}

TEST(IniFile, OnlyStaleTemporariesOfItsOwnAreRemoved) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "config" / "bearfix.ini.Dir123");
    const std::string path = dir.write("config/bearfix.ini", "[A]\n");
    const std::string ours[] = {"bearfix.ini.a1B2c3", "bearfix.ini.ZZZZZZ", "bearfix.ini.000000"};
    const std::string theirs[] = {"bearfix.ini.a1B2c", "bearfix.ini.a1B2c3d", "bearfix.ini.a1-2c3", "other.ini.a1B2c3",
                                  "bearfix.ini.Dir123", "bearfix.ini.Link12", "bearfix.ini"};
    const auto anHourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const std::string& name : ours) std::filesystem::last_write_time(dir.write("config/" + name, "stale"), anHourAgo);
    dir.write("config/bearfix.ini.Fresh1", "a save going on in another instance");
    for (const std::string& name : theirs) {
        if (name == "bearfix.ini.Link12") {
            std::filesystem::create_symlink(dir.write("target", "x"), dir.path() / "config" / name);
        } else if (name != "bearfix.ini.Dir123" && name != "bearfix.ini") {
            dir.write("config/" + name, "keep");
        }
    }
    dir.write("bearfix.ini.q1w2e3", "another directory");
    if (geteuid() == 0) {  // only root can give a file to another user
        const std::string other = dir.write("config/bearfix.ini.Other1", "another user's");
        std::filesystem::last_write_time(other, anHourAgo);
        ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
    }
    EXPECT_EQ(IniFile::removeStaleTemporaries(path), 3);
    EXPECT_EQ(std::filesystem::exists(dir.path() / "config/bearfix.ini.Other1"), geteuid() == 0);
    for (const std::string& name : ours) EXPECT_FALSE(std::filesystem::exists(dir.path() / "config" / name)) << name;
    for (const std::string& name : theirs)
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(dir.path() / "config" / name))) << name;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "bearfix.ini.q1w2e3"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "target"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "config/bearfix.ini.Fresh1"));
}

}  // namespace
}  // namespace bearfix
