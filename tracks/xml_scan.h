// A linear look at an XML text before the XML library parses it. The library
// (TinyXML) parses recursively, one stack frame per nested element, and keeps
// every node in memory; a hostile file could overflow the stack or exhaust
// the memory. The scan follows the library's own reading rules, so that it
// sees the nesting the library would build, and counts what it would store.
#pragma once

namespace bearfix {

struct XmlShape {
    int depth = 0;        // deepest nesting of elements
    long nodes = 0;       // elements, attributes, texts, comments and the like
    int attributes = 0;   // most attributes on one element
};

// Scans a NUL-terminated, well-formed UTF-8 text as the library reads it,
// up to where the library would stop with an error. Stops early once depth
// exceeds `maxDepth`.
XmlShape measureXml(const char* text, int maxDepth);

// Limits on what an XML track file may ask of the library.
inline constexpr int kMaxXmlDepth = 256;
inline constexpr long kMaxXmlNodes = 2'000'000;  // some 430 MB in the library's tree
inline constexpr int kMaxXmlAttributes = 256;

// Why the library must not get the text, or nullptr when it may.
const char* xmlRefusal(const char* text);

}  // namespace bearfix
