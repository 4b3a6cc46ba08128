// Variant conversions and FormatValue on any value and any pattern.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <tessel/error.h>
#include <tessel/format.h>
#include <tessel/variant.h>

namespace {

tessel::Variant AnyValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: return tessel::Variant(in.ConsumeIntegral<int16_t>());
    case 1: return tessel::Variant(in.ConsumeIntegral<int32_t>());
    case 2: return tessel::Variant(in.ConsumeFloatingPoint<float>());
    case 3: return tessel::Variant(in.ConsumeFloatingPoint<double>());
    case 4: return tessel::Variant::RawBoolean(in.ConsumeIntegral<int16_t>());
    case 5: return tessel::Variant();
    default: return tessel::Variant(in.ConsumeRandomLengthString(64));
    }
}

template <class F>
void Quietly(F&& conversion) {
    try {
        conversion();
    } catch (const tessel::ComError& e) {
        // The run time's conversion failures, nothing else.
        if (e.Number != tessel::kErrOverflow && e.Number != tessel::kErrTypeMismatch) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const tessel::Variant value = AnyValue(in);
    const std::string pattern = in.ConsumeRemainingBytesAsString();

    Quietly([&] { value.ToInteger(); });
    Quietly([&] { value.ToLong(); });
    Quietly([&] { value.ToSingle(); });
    Quietly([&] { value.ToBoolean(); });
    Quietly([&] { (void)value.IsNumeric(); });
    Quietly([&] {
        const std::string text = value.ToString();
        // General format reads back as the same number (Singles to 7 digits).
        if (value.Type() == tessel::VarType::Double && std::isnormal(value.ToDouble()) &&
            tessel::Variant(text).ToDouble() != value.ToDouble() &&
            std::fabs(tessel::Variant(text).ToDouble() / value.ToDouble() - 1) > 1e-14)
            std::abort();
    });
    Quietly([&] {
        const std::string formatted = tessel::FormatValue(value, pattern);
        // What a pattern cannot show is written as without one.
        if (value.IsNumeric() && !std::isfinite(value.ToDouble()) && formatted != value.ToString()) std::abort();
    });
    return 0;
}
