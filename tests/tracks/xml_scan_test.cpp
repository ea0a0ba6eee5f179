#include "tracks/xml_scan.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <utility>
#include <vector>

#include "fuzz/xml_library_depth.h"
#include "support/message_log.h"
#include "temp_dir.h"
#include "tracks/track_import.h"
#include "tracks/track_store.h"

namespace bearfix {
namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// The scan sees at least the nesting the library builds, and exactly that
// wherever the library reads the text without an error.
TEST(XmlScan, SeesTheNestingTheLibraryBuilds) {
    const std::string cases[] = {
        "<a><b><c/></b></a>",
        "<?xml version=\"1.0\"?>\n<kml>\n  <Document>\n    <Folder><Placemark/></Folder>\n  </Document>\n</kml>\n",
        "<a x='>' y=\"/>\" z = '<b><b>'><b/></a>",          // markup inside quotes
        "<a><!-- <b><c><d> --><e/></a>",                    // and inside comments
        "<a><![CDATA[<b><c>]]><e/></a>",                     // and CDATA
        "<?xml version='1.0' encoding=\"<a><a><a>\"?><r/>",  // and the declaration's values
        "<?xml foo='<a>' ?><r><s/></r>",                     // other declaration text ends at '>'
        "<!DOCTYPE a [<!ELEMENT a (b)>]><a><b/></a>",        // a document type ends at its first '>'
        "<a>text<b attr=bare>more</b>&amp;&#x3c;<c/></a>",
        "<a/><b><c/></b>",                                    // two roots
        "<a\n\tb = \"1\"\n><_c.d-e:f/></a>",
        "<\xEF\xBB\xBF" "a><b/></a>",                        // a byte-order mark is white space to the library
        "<\xC3\xA9t\xC3\xA9><b/></\xC3\xA9t\xC3\xA9>",
        "< a><b/></a>",                                       // no element at all
        "x<a><b/></a>",                                       // text before the root ends the document
        "<a></b><c><d/></c></a>",                             // the wrong end tag
        "<a b='1' b='2'><c/></a>",                            // an attribute twice
        "<a b='><c><d>",                                      // an open quote
        "<a b=c'd><e/></a>",
        "<a b><c/></a>",
        "<a/ ><b/>",
        "<a><b><!-- never closed",
        "<a><![CDATA[ never closed",
        "<a><b",
        "<a>" + repeat("<b>", 300),
        repeat("<a>", 40) + repeat("</a>", 40) + repeat("<b><c/></b>", 3),
    };
    for (const std::string& text : cases) {
        const auto [depth, clean] = fuzz::xmlLibraryDepth(text);
        const int scanned = measureXml(text.c_str(), 1000).depth;
        EXPECT_GE(scanned, depth) << text;
        if (clean) {
            EXPECT_EQ(scanned, depth) << text;
        }
    }
}

TEST(XmlScan, HostileFilesAreRefusedBeforeTheLibrarySeesThem) {
    testing::TempDir dir;
    std::vector<std::string> log;
    setMessageSink([&log](MessageLevel, const std::string& text) { log.push_back(text); });
    const std::string kml = "<kml><Document>", end = "</Document></kml>";
    std::string manyAttributes = "<gpx a=\"\"";
    for (int i = 1; i < 256; ++i) manyAttributes += " a" + std::to_string(i) + "=\"\"";
    const struct {
        const char* file;
        std::string text;
        const char* reason;
    } cases[] = {
        {"deep.kml", kml + repeat("<Folder>", 50000), "elements nested too deeply"},
        {"deep.gpx", repeat("<gpx>", 100000), "elements nested too deeply"},
        {"just.kml", kml + repeat("<Folder>", 254) + repeat("</Folder>", 254) + end, "no track points found"},
        {"over.kml", kml + repeat("<Folder>", 255) + repeat("</Folder>", 255) + end, "elements nested too deeply"},
        {"attributes.gpx", manyAttributes + "/>", "no track points found"},
        {"attributes.gpx", manyAttributes + " b=''/>", "too many attributes in one element"},
        {"nodes.kml", "<kml>" + repeat("<a/>", 2'000'000) + "</kml>", "too many XML elements"},
    };
    for (const auto& c : cases) {
        log.clear();
        const std::string path = dir.write(c.file, c.text);
        EXPECT_FALSE(loadTrackFileReporting(path, 0));
        EXPECT_EQ(log.back(), "Error loading \"" + path + "\": " + c.reason);
    }
    setMessageSink({});
    clearTracks();
}

}  // namespace
}  // namespace bearfix
