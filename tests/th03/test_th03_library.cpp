// Finding and loading the logger library, and a new clsTH03.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "th03_fixture.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using TH03Library = TH03Test;

fs::path ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "th03-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    return pattern;
}

TEST_F(TH03Library, TheLibraryIsTheOneBesideLibtessel) {
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&TH03ThreadUnits), &info), 0);
    const fs::path libtessel = fs::canonical(info.dli_fname);
    EXPECT_EQ(fs::path(TH03LibraryPath()), libtessel.parent_path() / "libth0332.so");
    UseTH03Library("/opt/loggers/libth0332.so");
    EXPECT_EQ(TH03LibraryPath(), "/opt/loggers/libth0332.so");
}

TEST_F(TH03Library, OnLineLeavesTheCurrentDirectoryAlone) {
    const fs::path before = fs::current_path();
    const fs::path scratch = ScratchFolder();
    fs::current_path(scratch);
    auto th03 = Channel("COM1", "1");
    th03->OnLine(true);
    EXPECT_EQ(fs::current_path(), scratch);
    EXPECT_TRUE(th03->OnLine());
    fs::current_path(before);
    fs::remove_all(scratch);
}

struct BadLibrary {
    const char* name;
    int32_t number;
    const char* description;
    const char* detailMentions;
};

void PrintTo(const BadLibrary& library, std::ostream* out) { *out << library.name; }

class TH03BadLibrary : public TH03Test, public ::testing::WithParamInterface<BadLibrary> {};

TEST_P(TH03BadLibrary, OnLineRefusesItAndTheObjectStaysOffLine) {
    const fs::path scratch = ScratchFolder();
    std::string path;
    const std::string kind = GetParam().name;
    if (kind == "Missing") {
        path = (scratch / "libth0332.so").string();
    } else if (kind == "NotALibrary") {
        path = (scratch / "libth0332.so").string();
        std::ofstream(path) << "not an ELF file\n";
    } else {
        path = TH03_INCOMPLETE_LIBRARY;
    }
    UseTH03Library(path);
    auto th03 = Channel("COM1", "1");
    const ComError e = CaughtError([&] { th03->OnLine(true); });
    EXPECT_EQ(e.Number, GetParam().number);
    EXPECT_EQ(e.Source, "clsTH03.IPortSetup_Online");
    EXPECT_EQ(e.Description, GetParam().description);
    EXPECT_NE(e.Detail.find(GetParam().detailMentions), std::string::npos) << e.Detail;
    EXPECT_FALSE(th03->OnLine());
    EXPECT_EQ(TH03ThreadUnits().OnLineCount, 0);
    th03->OnLine(false);

    // Back to the library beside libtessel, the same object goes on-line.
    UseTH03Library("");
    th03->OnLine(true);
    EXPECT_TRUE(th03->OnLine());
    EXPECT_EQ(th03sim_calls("th03_open_unit"), 1);
    fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(
    , TH03BadLibrary,
    ::testing::Values(BadLibrary{"Missing", kErrFileNotFound, "File not found", "libth0332.so"},
                      BadLibrary{"NotALibrary", kErrLibraryLoad, "Error in loading DLL", "libth0332.so"},
                      BadLibrary{"LacksAFunction", kErrLibraryFunctionNotFound, "Specified DLL function not found",
                                 "th03_get_version"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(TH03Library, AnotherLibraryCannotBeNamedWhileALoggerIsOpenThroughThisOne) {
    auto th03 = Channel("COM1", "1");
    th03->OnLine(true);
    const std::string before = TH03LibraryPath();
    const ComError e = CaughtError([] { UseTH03Library("/nowhere/libth0332.so"); });
    EXPECT_EQ(e.Number, kErrInvalidProcedureCall);
    EXPECT_EQ(TH03LibraryPath(), before);
    EXPECT_NO_THROW(th03->value());
    th03->OnLine(false);
    EXPECT_NO_THROW(UseTH03Library("/nowhere/libth0332.so"));
}

TEST_F(TH03Library, ANewChannelHasItsDefaultSettings) {
    auto setup = QueryInterface<IPortSetup>(std::make_shared<clsTH03>());
    ASSERT_TRUE(setup);
    EXPECT_FALSE(setup->OnLine());
    auto settings = setup->Settings();
    EXPECT_EQ(settings->Item("Comm Port")->Value(-1, -1).ToInteger(), 1);
    EXPECT_EQ(settings->Item("Channel")->Value(-1, -1), Variant("1"));
    EXPECT_EQ(settings->Item("Sensor")->Value(-1, -1), Variant("1"));
    setup->Name("oven");
    EXPECT_EQ(setup->Name(), "oven");
    setup->OnLine(true);
    EXPECT_TRUE(Logged("th03_set_channel(1, 1, 1, 10) = 1"));
    EXPECT_FALSE(QueryInterface<IPort>(setup));
}

}  // namespace
}  // namespace tessel::test
