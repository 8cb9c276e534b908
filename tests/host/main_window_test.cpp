// The main window: layout, the four control operations, deferred
// destruction, closing and the keyboard.
#include <gmock/gmock.h>

#include "app/main_window.h"
#include "tests/host/test_support.h"

using ::testing::HasSubstr;

namespace {

class MainWindowTest : public HostTest {
protected:
    // Runs what is queued, as the message loop would, without waiting.
    static void DispatchPending() {
        MessageRecord message;
        SimSetUser([] {
            PlatformPostQuitMessage(0);
            return true;
        });
        while (PlatformGetMessage(&message)) {
            if (!HandleDialogKey(message)) PlatformDispatchMessage();
        }
    }
};

bool SameRect(const WindowRect& a, const WindowRect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

struct LayoutCase {
    int screenWidth;
    int screenHeight;
    int frameErrorWidth;  // how far off the system's first frame is
    int frameErrorHeight;
    WindowRect expected;
    int moves;
    friend void PrintTo(const LayoutCase& c, std::ostream* out) {
        *out << c.screenWidth << "x" << c.screenHeight << " frame error " << c.frameErrorWidth << "," << c.frameErrorHeight;
    }
};

class LayoutTest : public MainWindowTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutTest, WindowIsCentredAtExactly244By240WithItsControls) {
    const LayoutCase& c = GetParam();
    SimSetScreenSize(c.screenWidth, c.screenHeight);
    SimSetFrameSizeError(c.frameErrorWidth, c.frameErrorHeight);
    CreateMainWindow();

    const SimWindowRecord& window = SimWindow(MainWindow());
    EXPECT_TRUE(SameRect(window.rect, c.expected));
    EXPECT_EQ(window.moves, c.moves);
    EXPECT_EQ(window.text, Gbk(u8"Varnok专用"));
    EXPECT_TRUE(window.visible && window.activated);

    const SimWindowRecord& button = SimWindow(StartButton());
    EXPECT_TRUE(SameRect(button.rect, WindowRect{72, 16, 80, 32}));
    EXPECT_EQ(button.text, Gbk(u8"开始"));
    EXPECT_EQ(button.parent, MainWindow());
    EXPECT_TRUE(button.visible && !button.activated);

    const SimWindowRecord& log = SimWindow(LogBox());
    EXPECT_TRUE(SameRect(log.rect, WindowRect{16, 64, 200, 136}));
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(log.parent, MainWindow());
    EXPECT_TRUE(log.visible && !log.activated);
    EXPECT_EQ(log.selectionStart, 0u);
    EXPECT_EQ(log.selectionEnd, 0u);
    EXPECT_EQ(log.scrollCaretCount, 1);
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"开始"));
}

INSTANTIATE_TEST_SUITE_P(Screens, LayoutTest,
                         ::testing::Values(LayoutCase{1024, 768, 0, 0, {390, 264, 244, 240}, 0},
                                           LayoutCase{1025, 769, 0, 0, {390, 264, 244, 240}, 0},  // halves truncate
                                           LayoutCase{1920, 1080, 0, 0, {838, 420, 244, 240}, 0},
                                           LayoutCase{1024, 768, 6, -3, {390, 264, 244, 240}, 1}));

TEST_F(MainWindowTest, RefusedWindowEndsTheProgramWithTheStartUpReport) {
    for (WindowKind kind : {kMainWindowKind, kPushButtonKind, kLogEditKind}) {
        EXPECT_EXIT(
            {
                SimRefuseWindow(kind);
                CreateMainWindow();
            },
            ::testing::ExitedWithCode(255), HasSubstr(Gbk(u8"错误信息：载入启动窗口失败\r\n")))
            << "window kind " << kind;
    }
}

TEST_F(MainWindowTest, AppendsLandAtTheEndWhateverTheUserSelected) {
    CreateMainWindow();
    AppendToLogBox("one\r\n");
    SimWindowRecord& log = SimMutableWindow(LogBox());
    log.selectionStart = 1;  // the user selects "ne" and the caret sits inside the text
    log.selectionEnd = 3;
    AppendToLogBox("two\r\n");
    EXPECT_EQ(LogText(), "one\r\ntwo\r\n");
    EXPECT_EQ(log.selectionStart, 10u);  // the caret ends after the inserted text
    EXPECT_EQ(log.selectionEnd, 10u);
    EXPECT_EQ(log.scrollCaretCount, 3);
}

TEST_F(MainWindowTest, CaptionOfRecordIsWhatWasSetAndIsShown) {
    CreateMainWindow();
    SetStartButtonCaption(Gbk(u8"关闭"));
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"关闭"));
    EXPECT_EQ(SimWindow(StartButton()).text, Gbk(u8"关闭"));
    SetStartButtonCaption("");
    EXPECT_EQ(GetStartButtonCaption(), "");
    EXPECT_EQ(SimWindow(StartButton()).text, "");
    // The caption of record, not the control's text, is what is read.
    SimMutableWindow(StartButton()).text = "other";
    EXPECT_EQ(GetStartButtonCaption(), "");
}

TEST_F(MainWindowTest, DestructionIsDeferredUntilTheLoopGetsBackToTheWindow) {
    CreateMainWindow();
    DestroyMainWindow();
    // The caller goes on with a window that is still whole.
    EXPECT_TRUE(MainWindowExists());
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"开始"));
    AppendToLogBox("after\r\n");
    EXPECT_EQ(LogText(), "after\r\n");
    EXPECT_EQ(SimDelivered(kMsgDestroy), 0);

    DispatchPending();
    EXPECT_FALSE(MainWindowExists());
    EXPECT_FALSE(PlatformIsWindow(StartButton()));
    EXPECT_FALSE(PlatformIsWindow(LogBox()));
    EXPECT_EQ(SimDelivered(kMsgDestroy), 1);
    EXPECT_EQ(SimDelivered(kMsgNcDestroy), 1);
}

TEST_F(MainWindowTest, DestroyRequestWithoutACallIsIgnoredAndALateOneIsDropped) {
    CreateMainWindow();
    SimPost(MainWindow(), kMsgDestroyRequest);
    DispatchPending();
    EXPECT_TRUE(MainWindowExists());

    DestroyMainWindow();
    DestroyMainWindow();  // two requests, one destruction
    DispatchPending();
    EXPECT_FALSE(MainWindowExists());
    EXPECT_EQ(SimDelivered(kMsgDestroy), 1);
}

TEST_F(MainWindowTest, CloseBoxDestroysTheWindowAtOnceRaisingTheEventOnce) {
    CreateMainWindow();
    SimCloseBox();
    DispatchPending();
    EXPECT_FALSE(MainWindowExists());
    EXPECT_EQ(SimDelivered(kMsgDestroy), 1);
}

struct GoneCase {
    const char* name;
    void (*operation)();
    const char8_t* message;
    friend void PrintTo(const GoneCase& c, std::ostream* out) { *out << c.name; }
};

class GoneTest : public MainWindowTest, public ::testing::WithParamInterface<GoneCase> {};

TEST_P(GoneTest, OperationAfterTheWindowIsGoneEndsTheProgramWithItsReport) {
    const std::string expected = Gbk(u8"错误信息：") + Gbk(GetParam().message) + "\r\n";
    EXPECT_EXIT(
        {
            CreateMainWindow();
            PlatformDestroyWindow(MainWindow());
            GetParam().operation();
        },
        ::testing::ExitedWithCode(255), HasSubstr(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, GoneTest,
    ::testing::Values(GoneCase{"Append", [] { AppendToLogBox("x"); }, u8"指定窗口或窗口组件不存在或尚未载入"},
                      GoneCase{"Destroy", [] { DestroyMainWindow(); }, u8"指定窗口或窗口组件不存在或尚未载入"},
                      GoneCase{"GetCaption", [] { GetStartButtonCaption(); }, u8"读取组件属性时发现指定窗口尚未载入"},
                      GoneCase{"SetCaption", [] { SetStartButtonCaption("x"); }, u8"修改组件属性时发现指定窗口尚未载入"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, TabAndShiftTabWalkTheControlsAndAreConsumed) {
    CreateMainWindow();
    ASSERT_EQ(SimFocus(), MainWindow());
    const WindowHandle expected[] = {StartButton(), LogBox(), StartButton()};
    for (WindowHandle next : expected) {
        SimPressKey(kKeyTab);
        DispatchPending();
        EXPECT_EQ(SimFocus(), next);
    }
    SimPressKey(kKeyTab, {.shift = true});
    DispatchPending();
    EXPECT_EQ(SimFocus(), LogBox());
    SimPressKey(kKeyTab, {.shift = true});
    DispatchPending();
    EXPECT_EQ(SimFocus(), StartButton());
    SimPressKey(kKeyTab, {.control = true});  // not ours: focus stays
    DispatchPending();
    EXPECT_EQ(SimFocus(), StartButton());
}

struct KeyCase {
    const char* name;
    int key;
    SimModifiersRecord modifiers;
    bool closes;
    friend void PrintTo(const KeyCase& c, std::ostream* out) { *out << c.name; }
};

class CloseKeyTest : public MainWindowTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(CloseKeyTest, EscapeAloneClosesFromEitherControl) {
    for (bool fromLog : {false, true}) {
        SimReset();
        CreateMainWindow();
        PlatformSetFocus(fromLog ? LogBox() : StartButton());
        SimPressKey(GetParam().key, GetParam().modifiers);
        DispatchPending();
        EXPECT_EQ(!MainWindowExists(), GetParam().closes) << (fromLog ? "from the log box" : "from the button");
        if (MainWindowExists()) PlatformDestroyWindow(MainWindow());
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, CloseKeyTest,
                         ::testing::Values(KeyCase{"Escape", kKeyEscape, {}, true},
                                           KeyCase{"ShiftEscape", kKeyEscape, {.shift = true}, false},
                                           KeyCase{"ControlEscape", kKeyEscape, {.control = true}, false},
                                           KeyCase{"Enter", 0x0D, {}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, KeysOfOtherWindowsAreNotTouched) {
    CreateMainWindow();
    const MessageRecord foreign{nullptr, kMsgKeyDown, static_cast<uintptr_t>(kKeyEscape), 0};
    EXPECT_FALSE(HandleDialogKey(foreign));
    EXPECT_TRUE(MainWindowExists());
}

}  // namespace
