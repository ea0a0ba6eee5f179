#include "support/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace bearfix {

namespace {

enum class Kind { Zero, Hash, Point, Literal };

struct Item {
    Kind kind;
    std::string text;  // for literals
};

std::vector<Item> parsePattern(std::string_view pattern) {
    std::vector<Item> items;
    auto literal = [&items](std::string_view text) {
        if (!items.empty() && items.back().kind == Kind::Literal) {
            items.back().text += text;
        } else {
            items.push_back({Kind::Literal, std::string(text)});
        }
    };
    bool seenPoint = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '\'' || c == '"') {
            std::size_t end = pattern.find(c, i + 1);
            if (end == std::string_view::npos) end = pattern.size();
            literal(pattern.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '0') {
            items.push_back({Kind::Zero, {}});
        } else if (c == '#') {
            items.push_back({Kind::Hash, {}});
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
            items.push_back({Kind::Point, {}});
        } else {
            literal(std::string_view(&pattern[i], 1));
        }
    }
    return items;
}

// The decimal digits of |value| rounded half away from zero to `decimals`
// places: integer digits (no leading zeros, possibly none) and exactly
// `decimals` fraction digits.
void roundedDigits(double value, int decimals, std::string& integer, std::string& fraction) {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    std::string_view text(buf, static_cast<std::size_t>(result.ptr - buf));  // d.dddddddddddddde+XX
    std::size_t e = text.find('e');
    std::string mantissa;
    mantissa += text[0];
    mantissa += text.substr(2, e - 2);
    int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());

    // All digits up to the rounding place, with the point after `pointAt` digits.
    int pointAt = exponent + 1;
    std::string digits;
    if (pointAt < 0) digits.assign(static_cast<std::size_t>(-pointAt), '0');
    digits += mantissa;
    if (pointAt < 0) pointAt = 0;
    int wanted = pointAt + decimals;
    if (static_cast<int>(digits.size()) < wanted) digits.append(static_cast<std::size_t>(wanted) - digits.size(), '0');
    bool roundUp = static_cast<int>(digits.size()) > wanted && digits[static_cast<std::size_t>(wanted)] >= '5';
    digits.resize(static_cast<std::size_t>(wanted));
    if (roundUp) {
        int i = wanted - 1;
        for (; i >= 0 && digits[static_cast<std::size_t>(i)] == '9'; --i) digits[static_cast<std::size_t>(i)] = '0';
        if (i >= 0) {
            ++digits[static_cast<std::size_t>(i)];
        } else {
            digits.insert(digits.begin(), '1');
            ++pointAt;
        }
    }
    integer = digits.substr(0, static_cast<std::size_t>(pointAt));
    fraction = digits.substr(static_cast<std::size_t>(pointAt));
    std::size_t firstNonZero = integer.find_first_not_of('0');
    integer.erase(0, firstNonZero == std::string::npos ? integer.size() : firstNonZero);
}

}  // namespace

std::string formatPicture(double value, std::string_view pattern) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";

    const std::vector<Item> items = parsePattern(pattern);
    std::size_t point = items.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == Kind::Point) point = i;
    }
    // Integer placeholders before the point; fraction placeholders after it.
    std::vector<std::size_t> intSlots, fracSlots;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind != Kind::Zero && items[i].kind != Kind::Hash) continue;
        (i < point ? intSlots : fracSlots).push_back(i);
    }
    if (intSlots.empty() && fracSlots.empty()) return std::string(pattern);

    std::string integer, fraction;
    roundedDigits(value, static_cast<int>(fracSlots.size()), integer, fraction);

    // Digits forced by '0': in the integer part from the first '0' on, in the
    // fraction up to the last '0'.
    std::size_t minInt = 0, minFrac = 0;
    for (std::size_t k = 0; k < intSlots.size(); ++k) {
        if (items[intSlots[k]].kind == Kind::Zero) {
            minInt = intSlots.size() - k;
            break;
        }
    }
    for (std::size_t k = 0; k < fracSlots.size(); ++k) {
        if (items[fracSlots[k]].kind == Kind::Zero) minFrac = k + 1;
    }
    if (integer.size() < minInt) integer.insert(0, minInt - integer.size(), '0');
    while (fraction.size() > minFrac && fraction.back() == '0') fraction.pop_back();

    bool negative = value < 0 && (integer.find_first_not_of('0') != std::string::npos ||
                                  fraction.find_first_not_of('0') != std::string::npos);

    // Integer digits are right-aligned to their placeholders, any extra ones
    // go with the first; fraction digits are left-aligned.
    std::string out;
    std::size_t intIndex = 0, fracIndex = 0;
    const std::size_t extra = integer.size() > intSlots.size() ? integer.size() - intSlots.size() : 0;
    bool signWritten = false;
    auto writeSign = [&] {
        if (negative && !signWritten) out += '-';
        signWritten = true;
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (item.kind == Kind::Literal) {
            out += item.text;
        } else if (item.kind == Kind::Point) {
            writeSign();
            if (!fraction.empty()) out += '.';
        } else if (i < point) {
            writeSign();
            std::size_t slot = intIndex++;
            std::size_t slotsLeft = intSlots.size() - slot;  // this one and those after it
            if (slot == 0) {
                out += integer.substr(0, extra + (integer.size() - extra >= slotsLeft ? 1 : 0));
            } else if (integer.size() - extra >= slotsLeft) {
                out += integer[integer.size() - slotsLeft];
            }
        } else {
            writeSign();
            if (fracIndex < fraction.size()) out += fraction[fracIndex];
            ++fracIndex;
        }
    }
    return out;
}

}  // namespace bearfix
