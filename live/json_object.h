// A strict reader for one JSON object whose members the program reads are
// plain values (strings, numbers, true, false, null), as the datagrams of DF
// receivers carry them. Nested objects and arrays are checked and passed
// over. The text must be valid UTF-8 JSON (RFC 8259) with nothing but blanks
// after the object; a key given twice is refused, so that no two readers can
// see different values.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace bearfix {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Nested };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;  // always finite
    std::string text;     // UTF-8
};

struct JsonLimits {
    std::size_t maxBytes = 65536;
    std::size_t maxDepth = 16;    // of nested objects and arrays
    std::size_t maxMembers = 256;  // of the outer object
};

// The members of the outer object, or false with `why` ("at byte 17: a
// string ends without its quote").
bool parseJsonObject(std::string_view text, std::map<std::string, JsonValue>& out, std::string& why,
                     const JsonLimits& limits = {});

}  // namespace bearfix
