#include "live/json_object.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <tuple>

namespace bearfix {

namespace {

class Reader {
public:
    Reader(std::string_view text, const JsonLimits& limits) : s_(text), limits_(limits) {}

    bool object(std::map<std::string, JsonValue>& out) {
        blanks();
        if (!take('{')) return fail("not a JSON object");
        blanks();
        if (take('}')) return end();
        for (;;) {
            blanks();
            std::string key;
            if (peek() != '"') return fail("a member name is not a string");
            if (!string(key)) return false;
            blanks();
            if (!take(':')) return fail("no ':' after a member name");
            JsonValue value;
            if (!this->value(value, 0)) return false;
            if (out.size() >= limits_.maxMembers) return fail("more than " + std::to_string(limits_.maxMembers) + " members");
            if (!out.emplace(std::move(key), std::move(value)).second) return fail("a member name given twice");
            blanks();
            if (take('}')) return end();
            if (!take(',')) return fail("no ',' or '}' after a member");
        }
    }

    const std::string& why() const { return why_; }

private:
    char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    bool take(char c) {
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void blanks() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r')) ++at_;
    }
    bool fail(const std::string& what) {
        why_ = "at byte " + std::to_string(at_) + ": " + what;
        return false;
    }
    bool end() {
        blanks();
        return at_ == s_.size() || fail("more after the object");
    }

    bool value(JsonValue& v, std::size_t depth) {
        blanks();
        const char c = peek();
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return string(v.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            v.kind = JsonValue::Kind::Number;
            return number(v.number);
        }
        if (c == '{' || c == '[') {
            v.kind = JsonValue::Kind::Nested;
            return nested(depth + 1);
        }
        for (auto [word, kind, truth] : {std::tuple{"true", JsonValue::Kind::Bool, true},
                                         std::tuple{"false", JsonValue::Kind::Bool, false},
                                         std::tuple{"null", JsonValue::Kind::Null, false}}) {
            const std::string_view w(word);
            if (s_.substr(at_, w.size()) == w) {
                at_ += w.size();
                v.kind = kind;
                v.boolean = truth;
                return true;
            }
        }
        return fail(at_ < s_.size() ? "not a JSON value" : "the text ends inside the object");
    }

    // An object or array below the outer object: checked, not kept.
    bool nested(std::size_t depth) {
        if (depth > limits_.maxDepth) return fail("nested deeper than " + std::to_string(limits_.maxDepth));
        const bool isObject = take('{');
        if (!isObject) take('[');
        const char close = isObject ? '}' : ']';
        blanks();
        if (take(close)) return true;
        for (;;) {
            blanks();
            if (isObject) {
                std::string key;
                if (peek() != '"') return fail("a member name is not a string");
                if (!string(key)) return false;
                blanks();
                if (!take(':')) return fail("no ':' after a member name");
            }
            JsonValue ignored;
            if (!value(ignored, depth)) return false;
            blanks();
            if (take(close)) return true;
            if (!take(',')) return fail(isObject ? "no ',' or '}' after a member" : "no ',' or ']' after a value");
        }
    }

    bool hex4(uint32_t& out) {
        out = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = peek();
            out <<= 4;
            if (c >= '0' && c <= '9') {
                out |= static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                out |= static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                out |= static_cast<uint32_t>(c - 'A' + 10);
            } else {
                return fail("a \\u escape without four hex digits");
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // One UTF-8 character of the raw text, checked (no overlong forms, no
    // surrogates, nothing above U+10FFFF).
    bool utf8Char(std::string& out) {
        const auto b0 = static_cast<unsigned char>(s_[at_]);
        int more;
        uint32_t cp, min;
        if (b0 < 0x80) {
            out += s_[at_++];
            return true;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            more = 1, cp = b0 & 0x1F, min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            more = 2, cp = b0 & 0x0F, min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            more = 3, cp = b0 & 0x07, min = 0x10000;
        } else {
            return fail("not UTF-8");
        }
        if (at_ + static_cast<std::size_t>(more) >= s_.size()) return fail("not UTF-8");
        for (int i = 1; i <= more; ++i) {
            const auto b = static_cast<unsigned char>(s_[at_ + static_cast<std::size_t>(i)]);
            if ((b & 0xC0) != 0x80) return fail("not UTF-8");
            cp = cp << 6 | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return fail("not UTF-8");
        out.append(s_.substr(at_, static_cast<std::size_t>(more) + 1));
        at_ += static_cast<std::size_t>(more) + 1;
        return true;
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        for (;;) {
            if (at_ >= s_.size()) return fail("a string ends without its quote");
            const char c = s_[at_];
            if (c == '"') {
                ++at_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
            if (c != '\\') {
                if (!utf8Char(out)) return false;
                continue;
            }
            ++at_;
            const char e = peek();
            ++at_;
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    uint32_t cp;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("a lone low surrogate");
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low;
                        if (!(take('\\') && take('u'))) return fail("a high surrogate without its low half");
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return fail("a high surrogate without its low half");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default: --at_; return fail("an unknown escape in a string");
            }
        }
    }

    bool number(double& out) {
        const std::size_t begin = at_;
        auto digits = [this] {
            const std::size_t from = at_;
            while (peek() >= '0' && peek() <= '9') ++at_;
            return at_ > from;
        };
        take('-');
        if (take('0')) {
            if (peek() >= '0' && peek() <= '9') return fail("a number with a leading zero");
        } else if (!digits()) {
            return fail("a '-' without digits");
        }
        if (take('.') && !digits()) return fail("a number without digits after its '.'");
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (!take('+')) take('-');
            if (!digits()) return fail("a number without digits in its exponent");
        }
        const auto [end, ec] = std::from_chars(s_.data() + begin, s_.data() + at_, out);
        // Beyond the range of a double is no value a receiver measures.
        if (ec != std::errc() || end != s_.data() + at_ || !std::isfinite(out)) {
            at_ = begin;
            return fail("a number out of range");
        }
        if (out == 0.0) out = 0.0;  // no -0
        return true;
    }

    std::string_view s_;
    const JsonLimits& limits_;
    std::size_t at_ = 0;
    std::string why_;
};

}  // namespace

bool parseJsonObject(std::string_view text, std::map<std::string, JsonValue>& out, std::string& why,
                     const JsonLimits& limits) {
    out.clear();
    if (text.size() > limits.maxBytes) {
        why = "longer than " + std::to_string(limits.maxBytes) + " bytes";
        return false;
    }
    Reader reader(text, limits);
    if (reader.object(out)) return true;
    why = reader.why();
    out.clear();
    return false;
}

}  // namespace bearfix
