// Reading track files into the track store: Google Earth KML (and XML of the
// same shape), GPX, and the auxiliary track files of the sibling program
// Wavemill. CSV and NMEA files are recognised and answered with a message.
#pragma once

#include <string>

namespace bearfix {

// File-type codes, kept as "LastFileType" in the settings.
enum TrackFileType : int {
    kTrackByExtension = 0,
    kTrackKml = 1,
    kTrackNmea = 2,
    kTrackCsv = 3,
    kTrackAux = 4,
    kTrackGpx = 5,
};

// Imports `path` as the type says, or as its extension says (".kml"/".xml",
// ".gpx" and ".csv" always decide; ".nma" and ".aux" only for type 0). Appends
// to the store, never clears it. Logs the number of points it stored on
// success and "Error: Couldn't load anything from %s ." otherwise, after a
// count of the points left out for their coordinates, if any. XML files are
// refused when larger than 256 MB, nested deeper than 256 elements or holding
// more nodes or attributes than the XML library should be asked to keep.
bool loadTrackFile(const std::string& path, int type);

// loadTrackFile, and on failure "Error loading "%s": %s" with the reason.
bool loadTrackFileReporting(const std::string& path, int type);

// The XML library's description of the last XML file that failed to parse
// during the current import; empty when none did.
const std::string& lastXmlError();

bool importKml(const std::string& path);
bool importGpx(const std::string& path);
bool importAux(const std::string& path);
bool importCsv(const std::string& path);
bool importNmea(const std::string& path);

// The pieces of the KML coordinates reader: a number with an optional
// fraction and exponent (exponents beyond +-30 ignored), and one expected
// character (spaces before it skipped, unless it is the space itself).
double parseKmlNumber(const char*& cursor);
bool expectKmlChar(const char*& cursor, char expected);
// Appends the points of a coordinates text ("lon,lat,alt lon,lat,alt ...",
// the altitudes may be left out); stops at the first tuple that breaks the
// form. A position off the globe or not finite is left out. Returns the
// points appended.
int parseKmlCoordinates(const char* text);

}  // namespace bearfix
