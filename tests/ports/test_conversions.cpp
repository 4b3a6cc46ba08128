// Conversions and number formatting: the rules every driver message and
// setting depends on.
#include <gtest/gtest.h>

#include <cfloat>
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

TEST(VariantToInteger, RoundsHalfToEven) {
    EXPECT_EQ(Variant(0.5).ToInteger(), 0);
    EXPECT_EQ(Variant(1.5).ToInteger(), 2);
    EXPECT_EQ(Variant(2.5).ToInteger(), 2);
    EXPECT_EQ(Variant(3.5).ToInteger(), 4);
    EXPECT_EQ(Variant(-2.5).ToInteger(), -2);
    EXPECT_EQ(Variant(2.5f).ToInteger(), 2);
    EXPECT_EQ(Variant(2.500001).ToInteger(), 3);
    EXPECT_EQ(Variant("2.5").ToInteger(), 2);
    EXPECT_EQ(Variant(2147483646.5).ToLong(), 2147483646);
}

TEST(VariantToInteger, OverflowsOnlyAfterRounding) {
    EXPECT_EQ(Variant(32767.4).ToInteger(), 32767);
    EXPECT_EQ(Variant(-32768.5).ToInteger(), -32768);  // rounds to the even -32768
    EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInteger(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(-32768.6).ToInteger(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(int32_t{40000}).ToInteger(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("1E10").ToLong(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(2147483647.5).ToLong(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToInteger(); }), kErrOverflow);
}

TEST(VariantToInteger, ParsesTextAsTheRunTimeDoes) {
    EXPECT_EQ(Variant(" 12 ").ToInteger(), 12);
    EXPECT_EQ(Variant("+7").ToInteger(), 7);
    EXPECT_EQ(Variant("-3.5").ToInteger(), -4);
    EXPECT_EQ(Variant("1E3").ToInteger(), 1000);
    EXPECT_EQ(Variant("1d2").ToInteger(), 100);
    EXPECT_EQ(Variant(".5e1").ToInteger(), 5);
    EXPECT_EQ(Variant("&H1F").ToInteger(), 31);
    EXPECT_EQ(Variant("&HFFFF").ToInteger(), -1);  // 16-bit two's complement
    EXPECT_EQ(Variant("&HFFFFFFFF").ToLong(), -1);
    EXPECT_EQ(Variant("&O17").ToInteger(), 15);
    EXPECT_EQ(Variant().ToInteger(), 0);
    EXPECT_EQ(Variant(true).ToInteger(), -1);
}

TEST(VariantToInteger, RefusesWhatIsNotANumber) {
    for (const char* text : {"", " ", "abc", "12abc", "1E", "--1", "&H", "&HG", "1.2.3", "COM1", "True"})
        EXPECT_EQ(ErrorOf([&] { Variant(text).ToInteger(); }), kErrTypeMismatch) << '"' << text << '"';
    EXPECT_EQ(ErrorOf([] { Variant::Bytes({1, 2}).ToInteger(); }), kErrTypeMismatch);
    EXPECT_EQ(ErrorOf([] { Variant::Missing().ToInteger(); }), kErrTypeMismatch);
}

TEST(VariantToSingle, OverflowsBeyondTheRangeOfASingle) {
    EXPECT_FLOAT_EQ(Variant("3.4E38").ToSingle(), 3.4e38f);
    EXPECT_EQ(ErrorOf([] { Variant(1e39).ToSingle(); }), kErrOverflow);
    EXPECT_EQ(ErrorOf([] { Variant("1E400").ToDouble(); }), kErrOverflow);
    EXPECT_FLOAT_EQ(Variant("2.5").ToSingle(), 2.5f);
}

TEST(VariantToString, WritesNumbersInGeneralFormat) {
    EXPECT_EQ(Variant(2.5).ToString(), "2.5");
    EXPECT_EQ(Variant(0.1f).ToString(), "0.1");  // 7 digits hide the single's binary error
    EXPECT_EQ(Variant(1.0f / 3.0f).ToString(), "0.3333333");
    EXPECT_EQ(Variant(1.0 / 3.0).ToString(), "0.333333333333333");
    EXPECT_EQ(Variant(1e-5).ToString(), "1E-05");
    EXPECT_EQ(Variant(0.0001).ToString(), "0.0001");
    EXPECT_EQ(Variant(1e15).ToString(), "1E+15");
    EXPECT_EQ(Variant(123456789012345.0).ToString(), "123456789012345");
    EXPECT_EQ(Variant(1e7f).ToString(), "1E+07");
    EXPECT_EQ(Variant(-0.0).ToString(), "0");
    EXPECT_EQ(Variant(int16_t{-5}).ToString(), "-5");
    EXPECT_EQ(Variant(true).ToString(), "True");
    EXPECT_EQ(Variant(false).ToString(), "False");
    EXPECT_EQ(Variant::Bytes({'A', 0, 'B'}).ToString(), std::string("A\0B", 3));
}

TEST(VariantToBoolean, AcceptsNumbersAndWords) {
    EXPECT_TRUE(Variant(int16_t{2}).ToBoolean());
    EXPECT_FALSE(Variant(0.0).ToBoolean());
    EXPECT_TRUE(Variant("true").ToBoolean());
    EXPECT_FALSE(Variant("FALSE").ToBoolean());
    EXPECT_TRUE(Variant("-1").ToBoolean());
    EXPECT_EQ(ErrorOf([] { Variant("yes").ToBoolean(); }), kErrTypeMismatch);
    EXPECT_EQ(Variant::RawBoolean(1).RawBooleanValue(), 1);
    EXPECT_EQ(Variant(true).RawBooleanValue(), -1);
}

TEST(FormatValue, GeneralFormatHasNoBlankAndNoTrailingZeros) {
    EXPECT_EQ(FormatValue(Variant(int16_t{1})), "1");
    EXPECT_EQ(FormatValue(Variant(1.0f)), "1");
    EXPECT_EQ(FormatValue(Variant(2.5f)), "2.5");
    EXPECT_EQ(FormatValue(Variant(0.25)), "0.25");
    EXPECT_EQ(FormatValue(Variant(10.0f)), "10");
    EXPECT_EQ(FormatValue(Variant(-1.5)), "-1.5");
    EXPECT_EQ(FormatValue(Variant("abc")), "abc");
    EXPECT_EQ(FormatValue(Variant()), "");
}

TEST(FormatValue, Patterns) {
    EXPECT_EQ(FormatValue(Variant(2.5), "0.00"), "2.50");
    EXPECT_EQ(FormatValue(Variant(1234567.891), "#,##0.00"), "1,234,567.89");
    EXPECT_EQ(FormatValue(Variant(1234567.891), "Standard"), "1,234,567.89");
    EXPECT_EQ(FormatValue(Variant(0.25), "0%"), "25%");
    EXPECT_EQ(FormatValue(Variant(12345.0), "0.00E+00"), "1.23E+04");
    EXPECT_EQ(FormatValue(Variant(9.999), "0.00E+00"), "1.00E+01");  // rounding carries into the exponent
    EXPECT_EQ(FormatValue(Variant(0.00012), "0.0E-0"), "1.2E-4");
    EXPECT_EQ(FormatValue(Variant(0.5), "#.##"), ".5");
    EXPECT_EQ(FormatValue(Variant(7.0), "000"), "007");
    EXPECT_EQ(FormatValue(Variant(-5.0), "0;(0)"), "(5)");
    EXPECT_EQ(FormatValue(Variant(-5.0), "0.0"), "-5.0");
    EXPECT_EQ(FormatValue(Variant(0.0), "0.0;-0.0;\"zero\""), "zero");
    EXPECT_EQ(FormatValue(Variant(3.0), "\\V 0"), "V 3");
    EXPECT_EQ(FormatValue(Variant("n/a"), "0.00"), "n/a");
}

TEST(FormatValue, NumbersAPatternCannotShowAreWrittenInGeneralFormat) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        Variant value;
        const char* pattern;
        const char* text;
    } cases[] = {
        {Variant(inf), "0.00", "inf"},
        {Variant(-inf), "#,##0.00;(#,##0.00)", "-inf"},
        {Variant(std::numeric_limits<double>::quiet_NaN()), "0.00E+00", "nan"},
        {Variant(std::numeric_limits<float>::infinity()), "Percent", "inf"},
        {Variant(1e307), "0.00%", "1E+307"},
        {Variant(-1e307), "0%", "-1E+307"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatValue(c.value, c.pattern), c.text) << c.pattern;
}

TEST(FormatValue, PatternsShowEveryDigitOfExtremeMagnitudes) {
    EXPECT_EQ(FormatValue(Variant(1e22), "#,##0"), "10,000,000,000,000,000,000,000");
    const std::string huge = FormatValue(Variant(1e300), "0." + std::string(100, '0'));
    EXPECT_EQ(huge.size(), 301u + 1u + 100u);
    EXPECT_EQ(huge.substr(huge.size() - 101), "." + std::string(100, '0'));
    EXPECT_EQ(FormatValue(Variant(0.1), "0." + std::string(40, '0')), "0.1000000000000000055511151231257827021182");
    EXPECT_EQ(FormatValue(Variant(5e-324), "0.00E+00"), "4.94E-324");
    EXPECT_EQ(FormatValue(Variant(1.7976931348623157e308), "0.0E+0"), "1.8E+308");
    EXPECT_EQ(FormatValue(Variant(1e-320), std::string(30, '0') + "E-0"), "999988867182683005413375236765E-350");
    EXPECT_EQ(FormatValue(Variant(0.0), "##0.0E+00"), "0.0E+00");
}
