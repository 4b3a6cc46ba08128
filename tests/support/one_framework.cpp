// Linked into every white-box test program, which holds the framework in the
// executable: fails the test after which libtessel.so is found loaded too
// (a companion linking libtessel was loaded), because the process then holds
// two frameworks with two sets of loops and host controls.
#include <link.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string LoadedLibtessel() {
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* out) {
            const char* slash = std::strrchr(info->dlpi_name, '/');
            const char* file = slash ? slash + 1 : info->dlpi_name;
            if (std::strncmp(file, "libtessel.so", 12) == 0) {
                *static_cast<std::string*>(out) = info->dlpi_name;
                return 1;
            }
            return 0;
        },
        &found);
    return found;
}

class OneFramework : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        const std::string loaded = LoadedLibtessel();
        EXPECT_TRUE(loaded.empty()) << "this white-box program holds the framework itself, yet " << loaded
                                    << " was loaded: a second framework. Test that through a black-box program "
                                       "(tests/CMakeLists.txt).";
    }
};

const bool kRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new OneFramework);
    return true;
}();

}  // namespace
