// The mouse hook procedure: which events are logged, the detector's place in
// the order of effects, and the forwarding of every event.
#include <gmock/gmock.h>

#include "app/main_window.h"
#include "app/program.h"
#include "app/start_button.h"
#include "mouse/detector.h"
#include "mouse/hook.h"
#include "tests/host/test_support.h"

namespace {

class HookTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        InitGlobals();
        CreateMainWindow();
        g_hookHandle = reinterpret_cast<HookHandle>(uintptr_t{0x4242});
    }
};

// An address that would fault if the procedure ever read the event record.
constexpr intptr_t kUnreadableRecord = 0x10;

struct EventCase {
    const char* name;
    int nCode;
    uint32_t message;
    const char8_t* line;  // null: nothing logged
    bool detector;
    friend void PrintTo(const EventCase& c, std::ostream* out) { *out << c.name; }
};

class EventTest : public HookTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventTest, LogsItsLineRunsTheDetectorOnlyOnARightReleaseAndForwardsUnchanged) {
    const EventCase& c = GetParam();
    SimSetNextHookResult([](int, uintptr_t, intptr_t) { return intptr_t{-77}; });
    EXPECT_EQ(MouseHookProc(c.nCode, c.message, kUnreadableRecord), -77);

    EXPECT_EQ(LogText(), c.line != nullptr ? Gbk(c.line) : "");
    EXPECT_EQ(SimClockReadings(), c.detector ? 1 : 0);
    EXPECT_EQ(RightUpStampCount(), c.detector ? 1u : 0u);
    ASSERT_EQ(SimHookCalls().size(), 1u);
    const SimHookCallRecord& forwarded = SimHookCalls()[0];
    EXPECT_EQ(forwarded.call, "CallNextHookEx");
    EXPECT_EQ(forwarded.hook, g_hookHandle);
    EXPECT_EQ(forwarded.code, c.nCode);
    EXPECT_EQ(forwarded.wParam, c.message);
    EXPECT_EQ(forwarded.lParam, kUnreadableRecord);
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventTest,
    ::testing::Values(EventCase{"NegativeCodeRightRelease", -1, 0x0205, nullptr, false},
                      EventCase{"NegativeCodeLeftPress", -1, 0x0201, nullptr, false},
                      EventCase{"Move", 0, 0x0200, nullptr, false},
                      EventCase{"LeftPress", 0, 0x0201, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"LeftRelease", 0, 0x0202, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"RightPress", 0, 0x0204, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"MiddlePress", 0, 0x0207, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"XButtonRelease", 0, 0x020C, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"Wheel", 0, 0x020A, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"HorizontalWheel", 0, 0x020E, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"UnknownMessage", 0, 0x1234, u8"鼠标回调：0|0\r\n", false},
                      EventCase{"RightRelease", 0, 0x0205, u8"鼠标回调：2|2\r\n", true},
                      EventCase{"RightReleaseAnyPositiveCode", 3, 0x0205, u8"鼠标回调：2|2\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HookTest, ResultOfTheNextHookIsReturnedWhateverItIs) {
    for (intptr_t result : {intptr_t{0}, intptr_t{1}, intptr_t{-1}, INTPTR_MAX}) {
        SimSetNextHookResult([result](int, uintptr_t, intptr_t) { return result; });
        EXPECT_EQ(MouseHookProc(0, 0x0201, 0), result);
        EXPECT_EQ(MouseHookProc(0, 0x0200, 0), result);
    }
}

// On a double click the keys go out first, then the release's line, then
// the release is passed on.
TEST_F(HookTest, DetectorRunsBeforeTheLineWhichComesBeforeForwarding) {
    std::vector<std::string> seenByClock;
    std::vector<std::string> seenByNextHook;
    int64_t stamp = 1700000000000;
    SimSetClock([&] {
        seenByClock.push_back(LogText());
        return ReadingForStamp(stamp += 100);
    });
    SimSetNextHookResult([&](int, uintptr_t, intptr_t) {
        seenByNextHook.push_back(LogText() + "|keys " + std::to_string(SimKeyEvents().size()));
        return intptr_t{0};
    });
    MouseHookProc(0, 0x0205, 0);
    MouseHookProc(0, 0x0205, 0);
    const std::string line = Gbk(u8"鼠标回调：2|2\r\n");
    EXPECT_THAT(seenByClock, ::testing::ElementsAre("", line));
    EXPECT_THAT(seenByNextHook, ::testing::ElementsAre(line + "|keys 0", line + line + "|keys 4"));
}

}  // namespace
