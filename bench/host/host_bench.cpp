// Cost of the work done per mouse event, on the simulated system: one
// right-button release against the history it keeps, and one hook call per
// kind of event, fresh and after a million events.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "app/main_window.h"
#include "app/program.h"
#include "app/start_button.h"
#include "mouse/detector.h"
#include "mouse/hook.h"
#include "mouse/timestamp.h"
#include "platform/sim/sim.h"
#include "system/external.h"

namespace {

// A reading whose stamp is far from the stamps the history is filled with,
// so that no key sequence is sent while measuring.
const LocalTimeRecord kReading{2023, 4, 0, 23, 10, 0, 0, 42};

void FreshProgram() {
    ReleaseExternalBindings();
    SimReset();
    SimKeepHookCallLog(false);
    SimSetLocalTime(kReading);
    ReleaseGlobals();
    InitGlobals();
}

void BM_HandleRightButtonUp(benchmark::State& state) {
    FreshProgram();
    g_rightUpStamps.assign(static_cast<std::size_t>(state.range(0)), 0);
    for (auto _ : state) {
        HandleRightButtonUp();
        g_rightUpStamps.pop_back();  // keep the history at its size
    }
    state.counters["history"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_HandleRightButtonUp)->Arg(0)->Arg(1000)->Arg(1000000);

// The list as first designed: one block enlarged by one entry per release,
// every earlier entry moved one place back, the newest written in front.
struct LiteralListRecord {
    int32_t* entries;
    std::size_t count;
};

void LiteralHandleRightButtonUp(LiteralListRecord& list) {
    const std::string text = GetTimestampText();
    g_lastStamp = TextToInt32(text);
    list.entries = static_cast<int32_t*>(std::realloc(list.entries, (list.count + 1) * sizeof(int32_t)));
    std::memmove(list.entries + 1, list.entries, list.count * sizeof(int32_t));
    list.entries[0] = g_lastStamp;
    ++list.count;
    if (list.count > 1) {
        const double distance = static_cast<double>(list.entries[1]) - static_cast<double>(list.entries[0]);
        if ((distance < 0 ? -distance : distance) - 300.0 < -0.0000001) PressKeys(0x5B, 0x44);
    }
}

void BM_LiteralHandleRightButtonUp(benchmark::State& state) {
    FreshProgram();
    const auto history = static_cast<std::size_t>(state.range(0));
    LiteralListRecord list{static_cast<int32_t*>(std::calloc(history + 1, sizeof(int32_t))), history};
    for (auto _ : state) {
        LiteralHandleRightButtonUp(list);
        --list.count;  // the oldest entry goes, to keep the history at its size
    }
    std::free(list.entries);
    state.counters["history"] = static_cast<double>(history);
}
BENCHMARK(BM_LiteralHandleRightButtonUp)->Arg(0)->Arg(1000)->Arg(1000000);

// range(0): the message; range(1): events the program has already seen.
void BM_MouseHookProc(benchmark::State& state) {
    FreshProgram();
    if (WindowHandle old = SimFindWindow(kMainWindowKind); PlatformIsWindow(old)) PlatformDestroyWindow(old);
    SimReset();
    SimKeepHookCallLog(false);
    CreateMainWindow();
    g_hookHandle = reinterpret_cast<HookHandle>(uintptr_t{0x7777});
    // The clock steps a second per reading, so releases never make a double click.
    LocalTimeRecord reading = kReading;
    SimSetClock([&reading] {
        reading.second = (reading.second + 1) % 60;
        return reading;
    });
    const uint32_t mix[] = {kMsgMouseMove, kMsgMouseMove, kMsgLeftButtonDown, kMsgLeftButtonUp,
                            kMsgRightButtonDown, kMsgRightButtonUp, kMsgMouseWheel};
    for (int64_t i = 0; i < state.range(1); ++i) MouseHookProc(0, mix[i % 7], 0);

    const auto message = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(MouseHookProc(0, message, 0));
    state.counters["history"] = static_cast<double>(state.range(1));
    PlatformDestroyWindow(SimFindWindow(kMainWindowKind));
}
BENCHMARK(BM_MouseHookProc)
    ->ArgNames({"message", "earlier"})
    ->ArgsProduct({{kMsgMouseMove, kMsgLeftButtonDown, kMsgRightButtonUp}, {0, 1000000}});

}  // namespace
