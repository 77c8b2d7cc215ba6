// The fast path must give exactly what sscanf("%f%f%f") gives, whenever it
// answers at all, and it must answer for the plain decimals of real files.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>
#include <string>

#include "pdb/number_scan.hpp"

namespace {

using record_scan::ScannedNumbers;

// The reference: the C library on the text, nothing else.
ScannedNumbers reference_scan(const std::string& text) {
    ScannedNumbers out;
    int end[3] = {0, 0, 0};
    out.count = std::sscanf(text.c_str(), "%f%n%f%n%f%n", &out.value[0], &end[0],
                            &out.value[1], &end[1], &out.value[2], &end[2]);
    if (out.count < 0) out.count = 0;
    for (int i = 0; i < out.count; ++i) out.end[i] = end[i];
    return out;
}

::testing::AssertionResult same_reading(const ScannedNumbers& got, const ScannedNumbers& want,
                                        const std::string& text) {
    bool same = got.count == want.count;
    for (int i = 0; same && i < want.count; ++i)
        same = std::bit_cast<std::uint32_t>(got.value[i]) ==
                   std::bit_cast<std::uint32_t>(want.value[i]) &&
               got.end[i] == want.end[i];
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "text \"" << text << "\": got " << got.count
                                         << " numbers, sscanf read " << want.count;
}

class TokenMaker {
public:
    explicit TokenMaker(unsigned seed) : random_(seed) {}

    // What structure files hold: an optional sign, 1 to 12 digits, maybe a point.
    std::string plain_decimal() {
        std::string token;
        if (int sign = pick(3); sign > 0) token += sign == 1 ? '-' : '+';
        int digits = 1 + pick(12);
        int point_at = pick(2) ? pick(digits + 1) : -1;
        for (int i = 0; i < digits; ++i) {
            if (i == point_at) token += '.';
            token += static_cast<char>('0' + pick(10));
        }
        if (point_at == digits) token += '.';
        return token;
    }

    // Everything else the C library may or may not take as a number.
    std::string odd_text() {
        static const char* const pieces[] = {"0", "1", "5", "9", "+", "-", ".", "e", "E",
                                             "x", "X", "p", "P", "inf", "nan", " ", "\t",
                                             "a", "f", "i", "n", "y", "(", "infinity"};
        std::string token;
        for (int n = 1 + pick(8); n > 0; --n) token += pieces[pick(std::size(pieces))];
        return token;
    }

    std::string separator() {
        static const char* const separators[] = {" ", "  ", "\t", "\r", "", "\v "};
        return separators[pick(std::size(separators))];
    }

    int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

private:
    std::mt19937 random_;
};

struct Tally {
    long texts = 0;
    long answered = 0;
};

void check_agreement(TokenMaker& maker, bool plain, Tally& tally) {
    std::string text = maker.separator();
    for (int i = 0; i < 3; ++i)
        text += (plain ? maker.plain_decimal() : maker.odd_text()) + maker.separator();
    ScannedNumbers fast;
    ++tally.texts;
    if (!record_scan::scan_numbers_fast(text, fast)) {
        ASSERT_TRUE(same_reading(record_scan::scan_numbers_exact(text), reference_scan(text), text));
        return;
    }
    ++tally.answered;
    ASSERT_TRUE(same_reading(fast, reference_scan(text), text));
}

TEST(NumberScan, FastPathAgreesWithSscanfOnPlainDecimals) {
    TokenMaker maker(20261208);
    Tally tally;
    for (int i = 0; i < 400'000; ++i) ASSERT_NO_FATAL_FAILURE(check_agreement(maker, true, tally));
    // Three tokens a text: well over a million tokens, most on the fast path.
    EXPECT_GT(tally.answered, tally.texts / 2);
}

TEST(NumberScan, FastPathAgreesWithSscanfOnOddText) {
    TokenMaker maker(42);
    Tally tally;
    for (int i = 0; i < 400'000; ++i) ASSERT_NO_FATAL_FAILURE(check_agreement(maker, false, tally));
}

TEST(NumberScan, FastPathAnswersForPdbFields) {
    const char* const fields[] = {"  12.345 -67.890   0.001", "-999.999-999.999-999.999",
                                  "   0.000  -0.000   1.000  1.00 20.00",
                                  "12.5 7 -3.25\n", "1.000 2.000 3.000 +0.4157"};
    for (const char* text : fields) {
        ScannedNumbers fast;
        ASSERT_TRUE(record_scan::scan_numbers_fast(text, fast)) << text;
        EXPECT_TRUE(same_reading(fast, reference_scan(text), text));
    }
}

TEST(NumberScan, ExactPathKeepsTheCLibraryQuirks) {
    // Each of these is read by the C library in its own way; the scanner
    // must read it the same way, whatever that way is.
    const char* const texts[] = {"1.0e 2 3",    "1e+ 2 3",    "0x1p3 0X.8 -0x10",
                                 "inf -INFINITY nan", "infin 1 2", "nan(12) 1 2",
                                 "1e5e 1 2",    "0x.p1 1 2",  "5x 1 2",
                                 "1.5-2.5+3.5", "", "   ", "1 2", "- 1 2", ". 1 2",
                                 "1e400 -1e-400 1e-45"};
    for (const char* text : texts) {
        EXPECT_TRUE(same_reading(record_scan::scan_numbers_exact(text), reference_scan(text), text));
        ScannedNumbers fast;
        if (record_scan::scan_numbers_fast(text, fast)) {
            EXPECT_TRUE(same_reading(fast, reference_scan(text), text));
        }
    }
}

TEST(NumberScan, ExactPathStopsAtTheFirstZeroByte) {
    using namespace std::string_literals;
    ScannedNumbers numbers = record_scan::scan_numbers_exact("1 2\0 3"s);
    EXPECT_EQ(numbers.count, 2);
    ScannedNumbers fast;
    if (record_scan::scan_numbers_fast("1 2\0 3"s, fast)) ADD_FAILURE() << "read past a zero byte";
}

TEST(NumberScan, WholeNumberTable) {
    struct Case {
        const char* text;
        bool whole;
    };
    const Case cases[] = {{"123.456", true}, {"-0.5", true}, {"1e2", true}, {"1.0e", true},
                          {"inf", true},     {"0x1p3", true}, {"1 2", false}, {"12a", false},
                          {"", false},       {"abc", false}, {"-", false}};
    for (const Case& c : cases) {
        float value = 0;
        EXPECT_EQ(record_scan::parse_whole_number(c.text, value), c.whole) << c.text;
    }
}

}  // namespace
