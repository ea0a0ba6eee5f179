// How tracks are shown, and which track file to reload at start-up.
#pragma once

#include <climits>
#include <cstdint>
#include <string>

namespace bearfix {

struct TrackSettings {
    int32_t gpsPort = 0;  // n of "COM%d"; -1 = "soundcard"
    int32_t gpsBaudRate = 9600;
    int32_t posFormat = 0;             // the PosFormat chosen in the options
    int32_t trackLineWidth = 4;        // drawn when 1..49, else 2
    uint32_t trackLabelColour = 49280;  // 0x00BBGGRR: (128, 192, 0)
    uint32_t trackLineColour = 192;     // 0x00BBGGRR: (192, 0, 0)
    std::string lastFileName;          // at most kMaxFileName bytes, as the file system spells it
    int32_t lastFileType = 0;
    int32_t colorPalette = 0;  // kept for the settings file only
    int32_t trackOptions = 0;  // kReloadOnStart and bits kept as they are

    static constexpr int32_t kReloadOnStart = 0x10;
    static constexpr std::size_t kMaxFileName = PATH_MAX - 1;  // the longest path Linux opens
};

}  // namespace bearfix
