// Parameter values: settings of every kind with any allowed values, written
// and read with any value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <tessel/error.h>
#include <tessel/parameter.h>

namespace {

tessel::Variant AnyValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return tessel::Variant(in.ConsumeIntegral<int16_t>());
    case 1: return tessel::Variant(in.ConsumeFloatingPoint<double>());
    case 2: return tessel::Variant::Missing();
    default: return tessel::Variant(in.ConsumeRandomLengthString(32));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    auto root = tessel::Parameter::Create();
    try {
        root->Define("Root", 0, tessel::kParameterText, "", "");
        const int settings = in.ConsumeIntegralInRange(1, 4);
        for (int i = 0; i < settings; ++i) {
            const auto kind = static_cast<int16_t>(in.ConsumeIntegralInRange(2, 4));
            auto setting = root->Add("S" + std::to_string(i), 0, kind, in.ConsumeRandomLengthString(64),
                                     in.ConsumeRandomLengthString(8));
            setting->Value(-1, -1, AnyValue(in));
        }
        while (in.remaining_bytes() > 0) {
            const auto setting = root->Item(tessel::Variant("s" + std::to_string(in.ConsumeIntegralInRange(0, 3))));
            const tessel::Variant candidate = AnyValue(in);
            if (setting->Allows(candidate)) setting->Value(-1, -1, candidate);
            (void)setting->Choices();
            (void)setting->Value(-1, -1).ToString();
        }
    } catch (const tessel::ComError& e) {
        // Unknown settings (5) and conversions of what was stored (6, 13).
        if (e.Number != tessel::kErrInvalidProcedureCall && e.Number != tessel::kErrOverflow &&
            e.Number != tessel::kErrTypeMismatch)
            std::abort();
    }
    return 0;
}
