// Conversions and number formatting: the rules every driver message and
// setting depends on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <tessel/error.h>
#include <tessel/format.h>
#include <tessel/variant.h>

using namespace tessel;

namespace {

// The number of the ComError that fn raises, or 0 when it raises none.
template <class F>
int32_t ErrorOf(F fn) {
    try {
        fn();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Source, "Tessel");
        EXPECT_EQ(e.Description, RuntimeErrorText(e.Number));
        return e.Number;
    }
    return 0;
}

}  // namespace

TEST(VariantToInteger, RoundsHalfToEvenAfterParsingTextAsTheRunTimeDoes) {
    const std::pair<Variant, int> cases[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.5f, 2}, {2.500001, 3}, {"2.5", 2},
        {32767.4, 32767}, {-32768.5, -32768}, {" 12 ", 12}, {"+7", 7}, {"-3.5", -4}, {"1E3", 1000},
        {"1d2", 100}, {".5e1", 5}, {"&H1F", 31}, {"&HFFFF", -1}, {"&O17", 15}, {Variant(), 0}, {true, -1}};
    for (const auto& [value, n] : cases) EXPECT_EQ(value.ToInteger(), n) << value.ToString();
    EXPECT_EQ(Variant(2147483646.5).ToLong(), 2147483646);
    EXPECT_EQ(Variant("&HFFFFFFFF").ToLong(), -1);  // 32-bit two's complement
}

TEST(VariantConversions, RaiseOverflowOnlyAfterRoundingAndTypeMismatchForNonNumbers) {
    for (Variant v : {Variant(32767.5), Variant(-32768.6), Variant(int32_t{40000}), Variant(std::nan(""))})
        EXPECT_EQ(ErrorOf([&] { v.ToInteger(); }), kErrOverflow) << v.ToString();
    EXPECT_EQ(ErrorOf([] { Variant("1E10").ToLong(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(2147483647.5).ToLong(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(1e39).ToSingle(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("1E400").ToDouble(); }), kErrOverflow);
    EXPECT_FLOAT_EQ(Variant("3.4E38").ToSingle(), 3.4e38f);
    for (Variant v : {"", " ", "abc", "12abc", "1E", "--1", "&H", "&HG", "1.2.3", "COM1", "True"})
        EXPECT_EQ(ErrorOf([&] { v.ToInteger(); }), kErrTypeMismatch) << '"' << v.ToString() << '"';
    EXPECT_EQ(ErrorOf([] { Variant::Bytes({1, 2}).ToInteger(); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Missing().ToInteger(); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant("yes").ToBoolean(); }), kErrTypeMismatch);
}

TEST(VariantConversions, BooleansAcceptNumbersAndWords) {
    for (Variant v : {Variant(int16_t{2}), Variant("true"), Variant("-1")}) EXPECT_TRUE(v.ToBoolean()) << v.ToString();
    for (Variant v : {Variant(0.0), Variant("FALSE")}) EXPECT_FALSE(v.ToBoolean()) << v.ToString();
    EXPECT_EQ(Variant(true).RawBooleanValue(), -1);
}

TEST(VariantToString, WritesNumbersInGeneralFormat) {
    const std::pair<Variant, const char*> cases[] = {
        {2.5, "2.5"}, {0.1f, "0.1"},  // 7 digits hide the single's binary error
        {1.0f / 3.0f, "0.3333333"}, {1.0 / 3.0, "0.333333333333333"}, {1e-5, "1E-05"}, {0.0001, "0.0001"},
        {1e15, "1E+15"}, {123456789012345.0, "123456789012345"}, {1e7f, "1E+07"}, {-0.0, "0"},
        {int16_t{-5}, "-5"}, {true, "True"}, {false, "False"}};
    for (const auto& [value, text] : cases) EXPECT_EQ(value.ToString(), text);
    EXPECT_EQ(Variant::Bytes({'A', 0, 'B'}).ToString(), std::string("A\0B", 3));
    const std::pair<Variant, const char*> general[] = {{int16_t{1}, "1"}, {1.0f, "1"}, {2.5f, "2.5"}, {0.25, "0.25"},
                                                       {10.0f, "10"}, {-1.5, "-1.5"}, {"abc", "abc"}, {Variant(), ""}};
    for (const auto& [value, text] : general) EXPECT_EQ(FormatValue(value), text) << "no blank, no trailing zeros";
}

TEST(FormatValue, Patterns) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        Variant value;
        std::string pattern;
        const char* text;
    } cases[] = {
        {2.5, "0.00", "2.50"}, {1234567.891, "#,##0.00", "1,234,567.89"}, {1234567.891, "Standard", "1,234,567.89"},
        {0.25, "0%", "25%"}, {12345.0, "0.00E+00", "1.23E+04"}, {9.999, "0.00E+00", "1.00E+01"},  // carries
        {0.00012, "0.0E-0", "1.2E-4"}, {0.5, "#.##", ".5"}, {7.0, "000", "007"}, {-5.0, "0;(0)", "(5)"},
        {-5.0, "0.0", "-5.0"}, {0.0, "0.0;-0.0;\"zero\"", "zero"}, {3.0, "\\V 0", "V 3"}, {"n/a", "0.00", "n/a"},
        // What a pattern cannot show is written in general format.
        {inf, "0.00", "inf"}, {-inf, "#,##0.00;(#,##0.00)", "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "0.00E+00", "nan"},
        {std::numeric_limits<float>::infinity(), "Percent", "inf"}, {1e307, "0.00%", "1E+307"},
        {-1e307, "0%", "-1E+307"},
        // Every digit of extreme magnitudes.
        {1e22, "#,##0", "10,000,000,000,000,000,000,000"},
        {0.1, "0." + std::string(40, '0'), "0.1000000000000000055511151231257827021182"},
        {5e-324, "0.00E+00", "4.94E-324"}, {1.7976931348623157e308, "0.0E+0", "1.8E+308"},
        {1e-320, std::string(30, '0') + "E-0", "999988867182683005413375236765E-350"}, {0.0, "##0.0E+00", "0.0E+00"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatValue(c.value, c.pattern), c.text) << c.pattern;
    const std::string huge = FormatValue(Variant(1e300), "0." + std::string(100, '0'));
    EXPECT_EQ(huge.size(), 301u + 1u + 100u);
    EXPECT_EQ(huge.substr(huge.size() - 101), "." + std::string(100, '0'));
}
