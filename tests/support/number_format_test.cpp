#include "support/number_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "german_locale.h"

namespace bearfix {
namespace {

void expectPatterns() {
    struct { double value; const char* pattern; const char* text; } const cases[] = {
        {359.96, "##0.# '\xB0'", "360 \xB0"},
        {72.05, "##0.#", "72.1"},     // judged on the decimal digits, not on the binary value
        {-0.125, "##0.00", "-0.13"},  // half away from zero
        {-0.004, "##0.00", "0.00"},   // no sign on a zero
        {1234567, "##0", "1234567"},  // '#' does not limit the integer digits
        {99.95, "###0.0", "100.0"}, {0, "#0.000", "0.000"}, {5, "#.##", "5"}, {0.5, "#.##", ".5"},
        {1.5, "'<'0'>'", "<2>"},    {7, "0 \"km\"", "7 km"}, {2.25, "0.0#", "2.25"}, {2, "0.0#", "2.0"},
        {1e20, "0", "100000000000000000000"}, {1e-20, "0.00", "0.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatPicture(c.value, c.pattern), c.text) << c.value << " " << c.pattern;
}

TEST(NumberFormat, Patterns) { expectPatterns(); }

TEST(NumberFormat, PointEvenUnderAGermanLocale) {
    ASSERT_TRUE(testing::useGermanLocale()) << "no German locale: scripts/install-deps installs 'locales'";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5") << "the locale should be in effect";
    expectPatterns();
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace bearfix
