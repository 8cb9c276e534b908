// Binding system functions by name: where they are looked for, in which
// order, once, and the reports when they cannot be found.
#include <gmock/gmock.h>

#include "app/start_button.h"
#include "mouse/hook.h"
#include "system/external.h"
#include "tests/host/test_support.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class ExternalTest : public HostTest {};

void CallEntry(ExternalEntry entry) {
    LocalTimeRecord reading{};
    switch (entry) {
        case kSetWindowsHookExA: CallExternal<kSetWindowsHookExA>(kHookMouseLowLevel, MouseHookProc, static_cast<void*>(nullptr), uint32_t{0}); break;
        case kUnhookWindowsHookEx: CallExternal<kUnhookWindowsHookEx>(HookHandle{}); break;
        case kCallNextHookEx: CallExternal<kCallNextHookEx>(HookHandle{}, 0, uintptr_t{0}, intptr_t{0}); break;
        case kGetLocalTime: CallExternal<kGetLocalTime>(&reading); break;
        case kExternalEntryCount: break;
    }
}

TEST_F(ExternalTest, NamelessEntryIsSearchedInTheCommonLibrariesInOrderAndBoundOnce) {
    CallEntry(kSetWindowsHookExA);
    EXPECT_THAT(SimLibraryCalls(),
                ElementsAre("load Kernel32.dll 0x800", "find kernel32.dll SetWindowsHookExA", "free kernel32.dll",
                            "load Gdi32.dll 0x800", "find gdi32.dll SetWindowsHookExA", "free gdi32.dll",
                            "load User32.dll 0x800", "find user32.dll SetWindowsHookExA"));
    EXPECT_EQ(SimLoadedLibraryCount(), 1);  // User32 stays loaded for later calls

    SimLibraryCalls().clear();
    CallEntry(kSetWindowsHookExA);
    EXPECT_TRUE(SimLibraryCalls().empty());
    EXPECT_EQ(SimHookCalls().size(), 2u);  // both calls reached the system
}

struct NamedEntryCase {
    ExternalEntry entry;
    const char* load;
    const char* find;
    friend void PrintTo(const NamedEntryCase& c, std::ostream* out) { *out << c.find; }
};

class NamedEntryTest : public ExternalTest, public ::testing::WithParamInterface<NamedEntryCase> {};

TEST_P(NamedEntryTest, IsLoadedFromTheSystemFolderByItsDeclaredNameOnce) {
    CallEntry(GetParam().entry);
    CallEntry(GetParam().entry);
    EXPECT_THAT(SimLibraryCalls(), ElementsAre(GetParam().load, GetParam().find));
}

INSTANTIATE_TEST_SUITE_P(Entries, NamedEntryTest,
                         ::testing::Values(NamedEntryCase{kUnhookWindowsHookEx, "load user32.dll 0x800", "find user32.dll UnhookWindowsHookEx"},
                                           NamedEntryCase{kCallNextHookEx, "load user32.dll 0x800", "find user32.dll CallNextHookEx"},
                                           NamedEntryCase{kGetLocalTime, "load kernel32 0x800", "find kernel32.dll GetLocalTime"}));

// A library planted in the program's folder must never be the one loaded:
// every load names the bare library and asks for the system folder only.
TEST_F(ExternalTest, EveryLoadAsksForTheSystemFolderOnlyAndNeverForAPath) {
    for (int entry = 0; entry < kExternalEntryCount; ++entry) CallEntry(static_cast<ExternalEntry>(entry));
    int loads = 0;
    for (const std::string& call : SimLibraryCalls()) {
        if (call.rfind("load ", 0) != 0) continue;
        ++loads;
        EXPECT_THAT(call, ::testing::EndsWith(" 0x800"));
        EXPECT_EQ(call.find_first_of("/\\:"), std::string::npos) << call;
    }
    EXPECT_EQ(loads, 6);  // three for the nameless entry, one for each named one
    EXPECT_EQ(SimProgramFolderEntered(), 0);
}

TEST_F(ExternalTest, ReleasingTheBindingsFreesEveryLibraryAndBindsAfreshLater) {
    for (int entry = 0; entry < kExternalEntryCount; ++entry) CallEntry(static_cast<ExternalEntry>(entry));
    EXPECT_EQ(SimLoadedLibraryCount(), 4);
    ReleaseExternalBindings();
    EXPECT_EQ(SimLoadedLibraryCount(), 0);
    SimLibraryCalls().clear();
    CallEntry(kCallNextHookEx);
    EXPECT_EQ(SimLibraryCalls().size(), 2u);
}

struct MissingEntryCase {
    const char* name;
    ExternalEntry entry;
    const char* library;  // the library to take away, or the one to lose the entry
    bool wholeLibrary;
    const char8_t* report;
    friend void PrintTo(const MissingEntryCase& c, std::ostream* out) { *out << c.name; }
};

class MissingEntryTest : public ExternalTest, public ::testing::WithParamInterface<MissingEntryCase> {};

TEST_P(MissingEntryTest, EndsTheProgramWithTheReportNamingWhatIsMissing) {
    const MissingEntryCase& c = GetParam();
    const std::string entryName = ExternalCallTable[c.entry].entryName;
    EXPECT_EXIT(
        {
            if (c.wholeLibrary) {
                SimRemoveLibrary(c.library);
            } else {
                SimRemoveEntry(c.library, entryName);
            }
            CallEntry(c.entry);
        },
        ::testing::ExitedWithCode(255), HasSubstr(Gbk(c.report)));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, MissingEntryTest,
    ::testing::Values(
        MissingEntryCase{"NamelessEntryInNoLibrary", kSetWindowsHookExA, "user32.dll", false,
                         u8"错误信息：无法找到指定DLL库文件中的输出命令“SetWindowsHookExA”\r\n"},
        MissingEntryCase{"NamedLibraryWithoutTheEntry", kCallNextHookEx, "user32.dll", false,
                         u8"错误信息：无法找到指定DLL库文件“user32.dll”中的输出命令“CallNextHookEx”\r\n"},
        MissingEntryCase{"NamedLibraryMissing", kGetLocalTime, "kernel32.dll", true,
                         u8"错误信息：无法找到指定DLL库文件“kernel32”中的输出命令“GetLocalTime”\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Only the named library is asked: another library that has the entry is
// not tried in its place.
TEST_F(ExternalTest, NamedEntryIsNotLookedForElsewhere) {
    EXPECT_EXIT(
        {
            SimRemoveLibrary("user32.dll");
            CallEntry(kUnhookWindowsHookEx);
        },
        ::testing::ExitedWithCode(255), HasSubstr("library calls: load user32.dll 0x800;\n"));
}

}  // namespace
