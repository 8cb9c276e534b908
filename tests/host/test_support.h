// Shared pieces of the host tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"

// The code page 936 bytes of a text written in UTF-8, converted by the C
// library rather than taken from the program, so the tests check the bytes
// independently.
std::string Gbk(const char8_t* utf8);

// Every test starts from a fresh simulated system and a program without a
// window, a hook, bindings or stamps.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static WindowHandle MainWindow() { return SimFindWindow(kMainWindowKind); }
    static WindowHandle StartButton() { return SimFindWindow(kPushButtonKind); }
    static WindowHandle LogBox() { return SimFindWindow(kLogEditKind); }
    static const std::string& LogText() { return SimWindow(LogBox()).text; }
};

// A clock reading; the day of the week plays no part in the program.
LocalTimeRecord Reading(int year, int month, int day, int hour, int minute, int second, int milliseconds);

// The clock reading whose stamp is `stamp`, a count of milliseconds from the
// local date-time 1970-01-01 08:00:00 in the 13-digit era (2001 to 2038).
LocalTimeRecord ReadingForStamp(int64_t stamp);
