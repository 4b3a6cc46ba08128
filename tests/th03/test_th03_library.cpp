// Finding and loading the logger library, and a new clsTH03.
#include <dlfcn.h>
#include <unistd.h>

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
    EXPECT_EQ(fs::path(TH03LibraryPath()), fs::canonical(info.dli_fname).parent_path() / "libth0332.so");
    UseTH03Library("/opt/loggers/libth0332.so");
    EXPECT_EQ(TH03LibraryPath(), "/opt/loggers/libth0332.so");
}

TEST_F(TH03Library, OnLineLeavesTheCurrentDirectoryAlone) {
    const fs::path before = fs::current_path(), scratch = ScratchFolder();
    fs::current_path(scratch);
    auto th03 = Channel("COM1", "1");
    th03->OnLine(true);
    EXPECT_EQ(fs::current_path(), scratch);
    EXPECT_TRUE(th03->OnLine());
    fs::current_path(before);
    fs::remove_all(scratch);
}

// Each library that cannot be used: on-line refuses it and the object stays
// off-line; back to the library beside libtessel, the same object goes on-line.
TEST_F(TH03Library, OnLineRefusesABadLibraryAndTheObjectStaysOffLine) {
    const fs::path scratch = ScratchFolder();
    const std::string missing = scratch / "libth0332.so", notALibrary = scratch / "not-a-library" / "libth0332.so";
    fs::create_directory(scratch / "not-a-library");
    std::ofstream(notALibrary) << "not an ELF file\n";
    const struct {
        std::string path;
        int32_t number;
        const char *description, *detailMentions;
    } cases[] = {
        {missing, kErrFileNotFound, "File not found", "libth0332.so"},
        {notALibrary, kErrLibraryLoad, "Error in loading DLL", "libth0332.so"},
        {TH03_INCOMPLETE_LIBRARY, kErrLibraryFunctionNotFound, "Specified DLL function not found", "th03_get_version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        th03sim_reset();
        UseTH03Library(c.path);
        auto th03 = Channel("COM1", "1");
        const ComError e = ExpectError([&] { th03->OnLine(true); }, c.number, "clsTH03.IPortSetup_Online", c.description);
        EXPECT_NE(e.Detail.find(c.detailMentions), std::string::npos) << e.Detail;
        EXPECT_FALSE(th03->OnLine());
        EXPECT_EQ(TH03ThreadUnits().OnLineCount, 0);
        th03->OnLine(false);
        UseTH03Library("");
        th03->OnLine(true);
        EXPECT_TRUE(th03->OnLine());
        EXPECT_EQ(th03sim_calls("th03_open_unit"), 1);
    }
    fs::remove_all(scratch);
}

TEST_F(TH03Library, AnotherLibraryCannotBeNamedWhileALoggerIsOpenThroughThisOne) {
    auto th03 = Channel("COM1", "1");
    th03->OnLine(true);
    const std::string before = TH03LibraryPath();
    EXPECT_EQ(CaughtError([] { UseTH03Library("/nowhere/libth0332.so"); }).Number, kErrInvalidProcedureCall);
    EXPECT_EQ(TH03LibraryPath(), before);
    EXPECT_NO_THROW(th03->value());
    th03->OnLine(false);
    EXPECT_NO_THROW(UseTH03Library("/nowhere/libth0332.so"));
}

TEST_F(TH03Library, ANewChannelHasItsDefaultSettings) {
    auto setup = QueryInterface<IPortSetup>(std::make_shared<clsTH03>());
    ASSERT_TRUE(setup);
    EXPECT_FALSE(setup->OnLine());
    EXPECT_FALSE(QueryInterface<IPort>(setup));
    auto settings = setup->Settings();
    EXPECT_EQ(settings->Item("Comm Port")->Value(-1, -1).ToInteger(), 1);
    EXPECT_EQ(settings->Item("Channel")->Value(-1, -1), Variant("1"));
    EXPECT_EQ(settings->Item("Sensor")->Value(-1, -1), Variant("1"));
    setup->OnLine(true);
    EXPECT_TRUE(Logged("th03_set_channel(1, 1, 1, 10) = 1"));
}

}  // namespace
}  // namespace tessel::test
