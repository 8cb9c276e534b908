// Whole runs of the tool on the simulated system: a user's session from
// start to exit, and a storm of a million random mouse events checked
// against a model of what must happen.
#include <gmock/gmock.h>

#include <functional>
#include <memory>
#include <random>

#include "app/main_window.h"
#include "app/program.h"
#include "app/start_button.h"
#include "mouse/detector.h"
#include "mouse/hook.h"
#include "tests/host/test_support.h"

using ::testing::ElementsAreArray;

namespace {

class ScenarioTest : public HostTest {};

const char8_t kUsage[] = u8"鼠标右键双击回桌面\r\n关闭窗口即可退出\r\n每次使用钩子只用安装1次\r\n建议 固定在任务栏\r\n";

TEST_F(ScenarioTest, StartDoubleRightClickAndCloseThroughTheWholeProgram) {
    int64_t stamp = 1700000000000;
    SimSetClock([&] { return ReadingForStamp(stamp); });
    std::vector<std::function<void()>> steps = {
        [] { SimClickWithMouse(SimFindWindow(kPushButtonKind)); },  // no hook yet: no lines
        [] {
            SimInjectMouse(kMsgMouseMove);
            SimInjectMouse(kMsgLeftButtonDown);
            SimInjectMouse(kMsgLeftButtonUp);
            SimInjectMouse(kMsgMouseWheel);
        },
        [&] {
            SimInjectMouse(kMsgRightButtonDown);
            SimInjectMouse(kMsgRightButtonUp);
            stamp += 100;
            SimInjectMouse(kMsgRightButtonDown);
            SimInjectMouse(kMsgRightButtonUp);
            stamp += 600;
            SimInjectMouse(kMsgRightButtonDown);
            SimInjectMouse(kMsgRightButtonUp);
        },
        [] { SimClickWithMouse(SimFindWindow(kPushButtonKind)); },
        [] { SimInjectMouse(kMsgLeftButtonDown); },  // after the window: no hook left to see it
    };
    auto next = std::make_shared<std::size_t>(0);
    SimSetUser([steps, next] {
        if (*next == steps.size()) return false;
        steps[(*next)++]();
        return true;
    });

    EXPECT_EQ(RunProgram(), 0);

    const std::string other = Gbk(u8"鼠标回调：0|0\r\n");
    const std::string release = Gbk(u8"鼠标回调：2|2\r\n");
    const std::string expected = Gbk(kUsage) + other + other + other + (other + release) + (other + release) +
                                 (other + release) + other + other + Gbk(kUsage);
    EXPECT_EQ(SimWindow(SimFindWindow(kLogEditKind)).text, expected);
    EXPECT_THAT(SimKeyEvents(), ElementsAreArray(std::vector<SimKeyEventRecord>{{0x5B, 0}, {0x44, 0}, {0x5B, 2}, {0x44, 2}}));
    EXPECT_EQ(SimInstalledHookCount(), 0u);
    EXPECT_EQ(SimLoadedLibraryCount(), 0);
    EXPECT_EQ(g_rightUpStamps.capacity(), 0u);
    EXPECT_EQ(SimQuitCode(), 0);
}

// What must happen for one event, worked out without the program's code.
struct ModelRecord {
    std::string log;
    std::size_t keySequences = 0;
    bool haveStamp = false;
    uint32_t lastStamp = 0;
};

uint32_t ModelStamp(int64_t millisecondsFrom1970At8) {
    return static_cast<uint32_t>(static_cast<uint64_t>(millisecondsFrom1970At8));
}

TEST_F(ScenarioTest, MillionRandomEventsAreEachForwardedOnceLoggedOnceAndFireExactlyWhenTheModelSays) {
    InitGlobals();
    CreateMainWindow();
    SimKeepHookCallLog(false);
    g_hookHandle = reinterpret_cast<HookHandle>(uintptr_t{0x5151});

    std::mt19937_64 random(7);
    const uint32_t messages[] = {0x0200, 0x0200, 0x0200, 0x0201, 0x0202, 0x0204, 0x0205, 0x0205,
                                 0x0205, 0x0207, 0x0208, 0x020A, 0x020B, 0x020C, 0x020E, 0x0300};
    int64_t clock = 1700000000000;
    SimSetClock([&] { return ReadingForStamp(clock); });

    struct Expected {
        int nCode;
        uintptr_t wParam;
        intptr_t lParam;
        intptr_t result;
        int forwarded;
    } current{};
    SimSetNextHookResult([&](int nCode, uintptr_t wParam, intptr_t lParam) {
        ++current.forwarded;
        EXPECT_EQ(nCode, current.nCode);
        EXPECT_EQ(wParam, current.wParam);
        EXPECT_EQ(lParam, current.lParam);
        return current.result;
    });

    ModelRecord model;
    const std::string other = Gbk(u8"鼠标回调：0|0\r\n");
    const std::string release = Gbk(u8"鼠标回调：2|2\r\n");
    for (int i = 0; i < 1000000; ++i) {
        const uint64_t bits = random();
        current = {static_cast<int>(bits % 5) - 1, messages[(bits >> 8) % std::size(messages)],
                   static_cast<intptr_t>(bits >> 20), static_cast<intptr_t>(bits >> 3), 0};
        // Clock steps: mostly forward by up to 0.7 s, now and then set back a second.
        clock += (bits >> 40) % 16 == 0 ? -1000 : static_cast<int64_t>((bits >> 44) % 700);

        if (current.nCode >= 0 && current.wParam != 0x0200) {
            if (current.wParam == 0x0205) {
                const uint32_t stamp = ModelStamp(clock);
                if (model.haveStamp) {
                    const auto distance = static_cast<int32_t>(stamp - model.lastStamp);
                    if (distance > -300 && distance < 300) ++model.keySequences;
                }
                model.haveStamp = true;
                model.lastStamp = stamp;
                model.log += release;
            } else {
                model.log += other;
            }
        }
        ASSERT_EQ(MouseHookProc(current.nCode, current.wParam, current.lParam), current.result);
        ASSERT_EQ(current.forwarded, 1) << "event " << i;
        ASSERT_EQ(SimKeyEvents().size(), model.keySequences * 4) << "event " << i;
    }
    EXPECT_EQ(LogText(), model.log);
    for (std::size_t i = 0; i < SimKeyEvents().size(); i += 4) {
        ASSERT_EQ(SimKeyEvents()[i], (SimKeyEventRecord{0x5B, 0}));
        ASSERT_EQ(SimKeyEvents()[i + 1], (SimKeyEventRecord{0x44, 0}));
        ASSERT_EQ(SimKeyEvents()[i + 2], (SimKeyEventRecord{0x5B, 2}));
        ASSERT_EQ(SimKeyEvents()[i + 3], (SimKeyEventRecord{0x44, 2}));
    }
    EXPECT_GT(model.keySequences, 1000u);  // the storm did exercise the firing path

    // The stamp list is one block, and the exit routine gives it back.
    const std::size_t allocationsBefore = SimLiveAllocations();
    ReleaseGlobals();
    EXPECT_EQ(SimLiveAllocations(), allocationsBefore - 1);
    EXPECT_EQ(g_rightUpStamps.capacity(), 0u);
}

}  // namespace
