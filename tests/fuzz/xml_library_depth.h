// How deep the XML library nests the elements it builds from a text: what
// the scan that guards it must see at least.
#pragma once

#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace bearfix::fuzz {

// The deepest nesting, and whether the library read the text without an error.
inline std::pair<int, bool> xmlLibraryDepth(std::string text) {
    text.append(4, '\0');
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> open{{&doc, 0}};
    while (!open.empty()) {
        auto [node, depth] = open.back();
        open.pop_back();
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) {
            if (!child->ToElement()) continue;
            deepest = std::max(deepest, depth + 1);
            open.emplace_back(child, depth + 1);
        }
    }
    return {deepest, !doc.Error()};
}

}  // namespace bearfix::fuzz
