// The start/close button and the end of the window: which hooks are
// installed and removed, the caption and the usage text.
#include <gmock/gmock.h>

#include <map>

#include "app/main_window.h"
#include "app/program.h"
#include "app/start_button.h"
#include "mouse/hook.h"
#include "tests/host/test_support.h"

namespace {

const char8_t kUsage[] = u8"鼠标右键双击回桌面\r\n关闭窗口即可退出\r\n每次使用钩子只用安装1次\r\n建议 固定在任务栏\r\n";

class StartButtonTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        InitGlobals();
        CreateMainWindow();
    }
    static void Click() { SimPost(MainWindow(), kMsgCommand, 0, reinterpret_cast<intptr_t>(StartButton())); }
    static void RunPending() {
        SimSetUser([] {
            if (SimQuitPosted() || !MainWindowExists()) return false;
            PlatformPostQuitMessage(0);  // nothing more to do: leave the loop
            return true;
        });
        RunMessageLoop();
    }
    static std::vector<std::string> HookCallNames() {
        std::vector<std::string> names;
        for (const SimHookCallRecord& call : SimHookCalls()) names.push_back(call.call);
        return names;
    }
    // No handle may be removed twice, and none may be left installed once
    // the window is gone.
    static void ExpectEveryHookRemovedOnce() {
        std::map<HookHandle, int> removals;
        for (const SimHookCallRecord& call : SimHookCalls()) {
            if (call.call == "UnhookWindowsHookEx") ++removals[call.hook];
        }
        for (const auto& [hook, count] : removals) EXPECT_EQ(count, 1) << "hook " << hook;
        EXPECT_EQ(SimInstalledHookCount(), 0u);
    }
};

TEST_F(StartButtonTest, FirstClickInstallsTheHookAndShowsTheUsageOnce) {
    EXPECT_EQ(Gbk(kUsage).size(), 82u);
    Click();
    RunPending();
    ASSERT_EQ(SimHookCalls().size(), 1u);
    const SimHookCallRecord& install = SimHookCalls()[0];
    EXPECT_EQ(install.call, "SetWindowsHookExA");
    EXPECT_EQ(install.code, 14);
    EXPECT_EQ(install.procedure, &MouseHookProc);
    EXPECT_EQ(g_hookHandle, install.hook);
    EXPECT_EQ(SimInstalledHookCount(), 1u);
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"关闭"));
    EXPECT_EQ(SimWindow(StartButton()).text, Gbk(u8"关闭"));
    EXPECT_EQ(LogText(), Gbk(kUsage));
}

TEST_F(StartButtonTest, ClosingClickRemovesTheHookAppendsTheUsageAgainAndThenTheWindowGoes) {
    Click();
    RunPending();
    const HookHandle first = g_hookHandle;
    SimHookCalls().clear();

    Click();
    MessageRecord message;
    ASSERT_TRUE(PlatformGetMessage(&message));
    PlatformDispatchMessage();  // the click itself
    EXPECT_TRUE(MainWindowExists());
    EXPECT_EQ(LogText(), Gbk(kUsage) + Gbk(kUsage));
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"关闭"));
    EXPECT_THAT(HookCallNames(), ::testing::ElementsAre("UnhookWindowsHookEx"));
    EXPECT_EQ(SimHookCalls()[0].hook, first);

    ASSERT_TRUE(PlatformGetMessage(&message));
    EXPECT_EQ(message.message, kMsgDestroyRequest);
    PlatformDispatchMessage();
    EXPECT_FALSE(MainWindowExists());
    EXPECT_EQ(SimDelivered(kMsgDestroy), 1);
    EXPECT_TRUE(SimQuitPosted());
    EXPECT_THAT(HookCallNames(), ::testing::ElementsAre("UnhookWindowsHookEx"));  // nothing removed twice
    ExpectEveryHookRemovedOnce();
}

TEST_F(StartButtonTest, ClosingTheWindowOtherwiseRemovesTheHookInEitherState) {
    for (bool monitoring : {false, true}) {
        SimReset();
        g_hookHandle = nullptr;
        CreateMainWindow();
        if (monitoring) {
            Click();
            RunPending();
        }
        SimCloseBox();
        RunPending();
        EXPECT_FALSE(MainWindowExists());
        EXPECT_EQ(g_hookHandle, nullptr);
        // In Idle there is nothing to remove, so nothing is asked.
        const std::vector<std::string> expected =
            monitoring ? std::vector<std::string>{"SetWindowsHookExA", "UnhookWindowsHookEx"} : std::vector<std::string>{};
        EXPECT_EQ(HookCallNames(), expected);
        ExpectEveryHookRemovedOnce();
    }
}

TEST_F(StartButtonTest, FailedInstallationSaysSoAndLeavesTheButtonToTryAgain) {
    SimFailNextHookInstall(1428);
    Click();
    RunPending();
    const std::string failure = Gbk(u8"鼠标钩子安装失败，错误代码：1428\r\n");
    EXPECT_EQ(LogText(), failure);
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"开始"));
    EXPECT_EQ(g_hookHandle, nullptr);
    EXPECT_EQ(SimInstalledHookCount(), 0u);

    Click();
    RunPending();
    EXPECT_EQ(LogText(), failure + Gbk(kUsage));
    EXPECT_EQ(GetStartButtonCaption(), Gbk(u8"关闭"));
    EXPECT_EQ(SimInstalledHookCount(), 1u);
}

TEST_F(StartButtonTest, UnknownCaptionInstallsAndShowsTheUsageWithoutLosingAHook) {
    SetStartButtonCaption("x");
    Click();
    RunPending();
    Click();
    RunPending();
    EXPECT_EQ(GetStartButtonCaption(), "x");
    EXPECT_EQ(LogText(), Gbk(kUsage) + Gbk(kUsage));
    EXPECT_EQ(SimInstalledHookCount(), 1u);  // the second hook replaced the first
    SimCloseBox();
    RunPending();
    ExpectEveryHookRemovedOnce();
}

}  // namespace
