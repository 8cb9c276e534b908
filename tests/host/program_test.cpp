// The whole run through ProgramMain: start-up, the loop, the ways to close,
// the exit code and what is released at the end.
#include <gmock/gmock.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "app/main_window.h"
#include "app/program.h"
#include "mouse/detector.h"
#include "system/fatal.h"
#include "tests/host/test_support.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class ProgramTest : public HostTest {
protected:
    // The user does each step in turn whenever the loop waits for input.
    static void PlayUser(std::vector<std::function<void()>> steps) {
        auto remaining = std::make_shared<std::vector<std::function<void()>>>(std::move(steps));
        auto next = std::make_shared<std::size_t>(0);
        SimSetUser([remaining, next] {
            if (*next == remaining->size()) return false;
            (*remaining)[(*next)++]();
            return true;
        });
    }
};

struct CloseCase {
    const char* name;
    std::function<void()> close;
    friend void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }
};

class CloseTest : public ProgramTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, EveryWayOfClosingEndsTheRunWithExitCodeZeroAndReleasesEverything) {
    PlayUser({GetParam().close});
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(SimQuitCode(), 0);
    EXPECT_EQ(SimPendingMessages(), 0u);
    EXPECT_EQ(SimProgramFolderEntered(), 1);
    EXPECT_EQ(SimFloatingPointResets(), 1);
    EXPECT_EQ(SimDelivered(kMsgDestroy), 1);
    EXPECT_FALSE(MainWindowExists());
    EXPECT_EQ(g_rightUpStamps.capacity(), 0u);  // the exit routine ran
    EXPECT_EQ(SimLoadedLibraryCount(), 0);
    EXPECT_EQ(SimInstalledHookCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CloseTest,
    ::testing::Values(CloseCase{"CloseBox", [] { SimCloseBox(); }},
                      CloseCase{"Escape", [] { SimPressKey(kKeyEscape); }},
                      CloseCase{"SpaceTwiceOnTheButton",
                                [] {
                                    PlatformSetFocus(SimFindWindow(kPushButtonKind));
                                    SimPressKey(' ');
                                    SimPressKey(' ');
                                }},
                      CloseCase{"ButtonClickedTwiceWithTheMouse",
                                [] {
                                    SimClickWithMouse(SimFindWindow(kPushButtonKind));
                                    SimClickWithMouse(SimFindWindow(kPushButtonKind));
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramTest, MessagesPostedBeforeTheQuitAreStillDispatched) {
    PlayUser({[] {
        SimCloseBox();
        SimPost(SimFindWindow(kMainWindowKind), kMsgDestroyRequest);
    }});
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(SimPendingMessages(), 0u);
    EXPECT_EQ(SimDelivered(kMsgDestroyRequest), 0);  // it came too late for the window: dropped
}

TEST_F(ProgramTest, LoopReturnsAtOnceWithoutAWindow) {
    RunMessageLoop();  // the simulated loop would fail the test if it waited
    EXPECT_FALSE(SimQuitPosted());
}

TEST_F(ProgramTest, StartUpShowsTheWindowBeforeAnyHook) {
    PlayUser({[] {
        EXPECT_TRUE(SimWindow(SimFindWindow(kMainWindowKind)).visible);
        EXPECT_EQ(SimInstalledHookCount(), 0u);
        EXPECT_EQ(g_rightUpStamps.size(), 0u);
        EXPECT_GE(g_rightUpStamps.capacity(), 1u);
        SimCloseBox();
    }});
    EXPECT_EQ(RunProgram(), 0);
}

void SayExitRoutineRan() {
    std::fputs("exit routine ran\n", stderr);
}

TEST_F(ProgramTest, FatalErrorDuringTheRunExitsWithMinusOneAndSkipsTheExitRoutines) {
    EXPECT_EXIT(
        {
            RegisterExitRoutine(SayExitRoutineRan);
            PlayUser({[] { FatalErrorReport(0, "boom"); }});
            RunProgram();
        },
        ::testing::ExitedWithCode(255), AllOf(HasSubstr("boom"), Not(HasSubstr("exit routine ran"))));
}

TEST_F(ProgramTest, ExitRoutinesRunOnceEachInOrderOfRegistration) {
    static std::string order;
    order.clear();
    auto first = [] { order += "1"; };
    auto second = [] { order += "2"; };
    RegisterExitRoutine(first);
    RegisterExitRoutine(second);
    RegisterExitRoutine(first);
    RunExitRoutines();
    EXPECT_EQ(order, "12");
}

TEST_F(ProgramTest, RefusedStampListAtStartUpIsReportedWithItsSize) {
    EXPECT_EXIT(
        {
            SimRefuseAllocationsFrom(16384);  // the list's first block: 4096 stamps of 4 bytes
            InitGlobals();
        },
        ::testing::ExitedWithCode(255), HasSubstr(Gbk(u8"分配 16384 字节内存失败!")));
}

}  // namespace
