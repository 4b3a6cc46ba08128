#include "ports/shared_library.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>

namespace tessel {
namespace {

TEST(SharedLibrary, ResolvesAFunctionOfALoadedLibrary) {
    auto libm = SharedLibrary::Open("libm.so.6");
    auto cosine = libm.RequireFunction<double (*)(double)>("cos");
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(libm.FindFunction<double (*)(double)>("no_such_function"), nullptr);
}

TEST(SharedLibrary, AMissingFunctionNamesFileAndFunction) {
    auto libm = SharedLibrary::Open("libm.so.6");
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

TEST(SharedLibrary, CompanionsLieInTheFolderOfLibtessel) {
    const std::string folder = TesselLibraryFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(BesideTessel("libx.so"), (folder == "/" ? "/" : folder + "/") + "libx.so");
    EXPECT_EQ(::access(BesideTessel("libtessel.so.0").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace tessel
