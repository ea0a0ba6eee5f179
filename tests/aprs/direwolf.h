// What direwolf's decode_aprs (Debian package direwolf) makes of one
// packet: a TNC-2 line, or bytes as hex (a KISS frame from "c0 00" on, a
// raw AX.25 frame otherwise). Its colour escapes are taken off.
#pragma once

#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <string>

#include "temp_dir.h"

namespace bearfix::testing {

struct DirewolfReading {
    std::string text;             // all of it
    std::string tnc2;             // of hex input: the monitor line it prints
    bool dfSymbol = false;        // "Triangle DF primary symbol"
    std::string object;           // "Object, \"NAME\"" (or Killed Object / Item)
    std::optional<double> lat, lon;
    std::optional<int> mph, course;
    std::optional<double> mhz;
};

inline DirewolfReading direwolfDecode(const std::string& input) {
    TempDir dir;
    const std::string path = (dir.path() / "packet.txt").string();
    std::ofstream(path, std::ios::binary) << input << "\n";
    DirewolfReading r;
    if (FILE* p = popen(("decode_aprs " + path + " 2>&1").c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.text.append(buf, n);
        pclose(p);
    }
    r.text = std::regex_replace(r.text, std::regex("\x1b\\[[0-9;]*[A-Za-z]"), "");
    std::smatch m;
    if (std::regex_search(r.text, m, std::regex("-------------------\n([^\n]*)\n"))) r.tnc2 = m[1];
    r.dfSymbol = r.text.find("Triangle DF primary symbol") != std::string::npos;
    if (std::regex_search(r.text, m, std::regex("(?:Object|Item), \"([^\"]*)\""))) r.object = m[1];
    if (std::regex_search(r.text, m, std::regex("\n([NS]) ([0-9]+) ([0-9.]+), ([EW]) ([0-9]+) ([0-9.]+)"))) {
        r.lat = (m[1] == "S" ? -1 : 1) * (std::stod(m[2]) + std::stod(m[3]) / 60);
        r.lon = (m[4] == "W" ? -1 : 1) * (std::stod(m[5]) + std::stod(m[6]) / 60);
        const std::string rest = m.suffix().str().substr(0, m.suffix().str().find('\n'));
        if (std::regex_search(rest, m, std::regex(", ([0-9]+) MPH"))) r.mph = std::stoi(m[1]);
        if (std::regex_search(rest, m, std::regex(", course ([0-9]+)"))) r.course = std::stoi(m[1]);
        if (std::regex_search(rest, m, std::regex(", ([0-9.]+) MHz"))) r.mhz = std::stod(m[1]);
    }
    return r;
}

}  // namespace bearfix::testing
