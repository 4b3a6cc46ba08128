#include "ports/shared_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace tessel {
namespace {

TEST(SharedLibrary, ResolvesFunctionsAndAMissingOneNamesFileAndFunction) {
    auto libm = SharedLibrary::Open("libm.so.6");
    EXPECT_DOUBLE_EQ(libm.RequireFunction<double (*)(double)>("cos")(0.0), 1.0);
    EXPECT_EQ(libm.FindFunction<double (*)(double)>("no_such_function"), nullptr);
    try {
        libm.Require("no_such_function");
        FAIL() << "expected LoadFailure";
    } catch (const LoadFailure& failure) {
        EXPECT_EQ(failure.File, "libm.so.6");
        EXPECT_EQ(failure.Function, "no_such_function");
        EXPECT_NE(std::string(failure.what()).find("no_such_function"), std::string::npos);
    }
}

TEST(SharedLibrary, AFileThatIsNotALibraryIsRefusedWithTheLoadersReason) {
    try {
        SharedLibrary::Open("/etc/hostname");
        FAIL() << "expected LoadFailure";
    } catch (const LoadFailure& failure) {
        EXPECT_EQ(failure.File, "/etc/hostname");
        EXPECT_TRUE(failure.Function.empty());
        EXPECT_FALSE(failure.Reason.empty());
    }
}

// This white-box program holds the framework in the executable itself, so
// the folder of the framework is the program's own (in a black-box program
// and for users it is the folder of libtessel.so).
TEST(SharedLibrary, CompanionsLieInTheFolderOfTheFrameworksOwnFile) {
    const std::filesystem::path program = std::filesystem::canonical("/proc/self/exe");
    EXPECT_EQ(std::filesystem::canonical(TesselLibraryFolder()), program.parent_path());
    EXPECT_EQ(std::filesystem::canonical(BesideTessel(program.filename().string())), program);
    EXPECT_EQ(BesideTessel("libx.so"), TesselLibraryFolder() + "/libx.so");
}

}  // namespace
}  // namespace tessel
