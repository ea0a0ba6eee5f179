#include "tracks/xml_scan.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace bearfix {

namespace {

// The library's white space.
bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r'; }

// The library takes every byte above 126 for a letter.
bool isLetter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 127 ? std::isalpha(u) != 0 : true;
}
bool isLetterOrDigit(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 127 ? std::isalnum(u) != 0 : true;
}

// White space, and the byte-order marks the library skips with it.
const char* skipSpace(const char* p) {
    for (;;) {
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        if (u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF))))
            p += 3;
        else if (*p != '\0' && isSpace(*p))
            ++p;
        else
            return p;
    }
}

bool startsWith(const char* p, const char* prefix) { return std::strncmp(p, prefix, std::strlen(prefix)) == 0; }

bool startsWithNoCase(const char* p, const char* prefix) {
    for (; *prefix; ++p, ++prefix) {
        if (std::tolower(static_cast<unsigned char>(*p)) != *prefix) return false;
    }
    return true;
}

const char* readName(const char* p) {
    if (!isLetter(*p) && *p != '_') return nullptr;
    while (isLetterOrDigit(*p) || *p == '_' || *p == '-' || *p == '.' || *p == ':') ++p;
    return p;
}

// name = "value", name = 'value' or name = value; null where the library gives up.
const char* readAttribute(const char* p) {
    p = readName(p);
    if (!p || !*p) return nullptr;
    p = skipSpace(p);
    if (*p != '=') return nullptr;
    p = skipSpace(p + 1);
    if (!*p) return nullptr;
    if (*p == '\'' || *p == '"') {
        const char* end = std::strchr(p + 1, *p);
        return end ? end + 1 : nullptr;
    }
    for (; *p && !isSpace(*p) && *p != '/' && *p != '>'; ++p) {
        if (*p == '\'' || *p == '"') return nullptr;
    }
    return p;
}

// After "<?xml": the three attributes the library knows, anything else up to '>'.
const char* readDeclaration(const char* p) {
    while (*p) {
        if (*p == '>') return p + 1;
        p = skipSpace(p);
        if (!*p) return nullptr;
        if (startsWithNoCase(p, "version") || startsWithNoCase(p, "encoding") || startsWithNoCase(p, "standalone")) {
            p = readAttribute(p);
            if (!p) return nullptr;
        } else {
            while (*p && *p != '>' && !isSpace(*p)) ++p;
        }
    }
    return nullptr;
}

}  // namespace

XmlShape measureXml(const char* p, int maxDepth) {
    XmlShape shape;
    int depth = 0;
    p = skipSpace(p);
    while (*p) {
        const char* end = nullptr;
        if (*p != '<') {
            if (depth == 0) break;  // outside the elements the library reads markup only
            ++shape.nodes;          // text; p is past the blanks, so it is not blank
            end = std::strchr(p, '<');
            if (!end) break;
            p = end;
            continue;
        }
        if (depth > 0 && p[1] == '/') {  // the end of the open element
            end = std::strchr(p, '>');
            if (!end) break;
            p = end + 1;
            --depth;
        } else if (startsWithNoCase(p, "<?xml")) {
            ++shape.nodes;
            p = readDeclaration(p + 5);
            if (!p) break;
        } else if (startsWith(p, "<!--") || startsWith(p, "<![CDATA[")) {
            ++shape.nodes;
            const bool comment = p[2] == '-';
            end = std::strstr(p + (comment ? 4 : 9), comment ? "-->" : "]]>");
            if (!end) break;
            p = end + 3;
        } else if (p[1] == '!' || !(isLetter(p[1]) || p[1] == '_')) {  // anything else up to '>'
            ++shape.nodes;
            end = std::strchr(p + 1, '>');
            if (!end) break;
            p = end + 1;
        } else {  // an element: its name, its attributes, then "/>" or '>'
            ++shape.nodes;
            shape.depth = std::max(shape.depth, ++depth);
            if (depth > maxDepth) break;
            p = readName(skipSpace(p + 1));
            if (!p || !*p) break;
            int attributes = 0;
            for (;;) {
                p = skipSpace(p);
                if (*p == '/' && p[1] == '>') {
                    p += 2;
                    --depth;
                    break;
                }
                if (*p == '>') {
                    ++p;
                    break;
                }
                p = *p == '/' ? nullptr : readAttribute(p);
                if (!p || !*p) break;
                ++shape.nodes;
                shape.attributes = std::max(shape.attributes, ++attributes);
            }
            if (!p || !*p) break;
        }
        p = skipSpace(p);
    }
    return shape;
}

const char* xmlRefusal(const char* text) {
    const XmlShape shape = measureXml(text, kMaxXmlDepth);
    if (shape.depth > kMaxXmlDepth) return "elements nested too deeply";
    if (shape.attributes > kMaxXmlAttributes) return "too many attributes in one element";
    if (shape.nodes > kMaxXmlNodes) return "too many XML elements";
    return nullptr;
}

}  // namespace bearfix
