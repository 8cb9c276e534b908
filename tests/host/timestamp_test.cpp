// The millisecond stamp text: from one clock reading to 13 characters.
#include <gmock/gmock.h>

#include <cstdio>
#include <random>

#include "mouse/timestamp.h"
#include "tests/host/test_support.h"

namespace {

class TimestampTest : public HostTest {};

struct StampCase {
    const char* name;
    LocalTimeRecord reading;
    const char* expected;
    friend void PrintTo(const StampCase& c, std::ostream* out) { *out << c.name; }
};

class StampTextTest : public TimestampTest, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampTextTest, IsBuiltFromTheReading) {
    SimSetLocalTime(GetParam().reading);
    EXPECT_EQ(GetTimestampText(), GetParam().expected);
    EXPECT_EQ(SimClockReadings(), 1);  // date, time and milliseconds from one reading
}

INSTANTIATE_TEST_SUITE_P(
    Readings, StampTextTest,
    ::testing::Values(
        StampCase{"Plain", Reading(2023, 4, 23, 10, 0, 0, 42), "1682215200042"},
        StampCase{"LastMillisecondOfASecond", Reading(2023, 4, 23, 10, 0, 1, 999), "1682215201999"},
        StampCase{"OneDigitMilliseconds", Reading(2023, 4, 23, 10, 0, 0, 7), "1682215200007"},
        StampCase{"ZeroMilliseconds", Reading(2023, 4, 23, 10, 0, 0, 0), "1682215200000"},
        StampCase{"NineDigitEraGetsOneZero", Reading(2001, 9, 9, 9, 46, 39, 123), "9999999991230"},
        StampCase{"FirstNineDigitSecond", Reading(1973, 3, 3, 17, 46, 40, 5), "1000000000050"},
        StampCase{"TheEpochItself", Reading(1970, 1, 1, 8, 0, 0, 0), "0000000000000"},
        StampCase{"BeforeTheEpochIsLiftedByOne", Reading(1970, 1, 1, 7, 0, 0, 250), "-359925000000"},
        StampCase{"OneSecondBeforeTheEpochCountsZero", Reading(1970, 1, 1, 7, 59, 59, 0), "0000000000000"},
        StampCase{"LastSecondBeforeTheWrap", Reading(2038, 1, 19, 11, 14, 7, 123), "2147483647123"},
        StampCase{"WrapIsKeptWholeAtFourteen", Reading(2038, 1, 19, 11, 14, 8, 123), "-2147483648123"},
        StampCase{"TwoToThe32WrapsToZero", Reading(2106, 2, 7, 14, 28, 16, 500), "0500000000000"},
        StampCase{"Year1900", Reading(1900, 1, 1, 0, 0, 0, 1), "2085949697001"},
        StampCase{"Year2100", Reading(2100, 12, 31, 23, 59, 59, 999), "-161015297999"}),
    [](const auto& info) { return std::string(info.param.name); });

// An arithmetic of its own: days counted year by year and month by month.
int64_t DaysFrom1970(int year, int month, int day) {
    auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int64_t days = 0;
    for (int y = 1970; y < year; ++y) days += leap(y) ? 366 : 365;
    for (int y = year; y < 1970; ++y) days -= leap(y) ? 366 : 365;
    for (int m = 1; m < month; ++m) days += monthDays[m - 1] + (m == 2 && leap(year) ? 1 : 0);
    return days + day - 1;
}

std::string ModelStamp(const LocalTimeRecord& r) {
    const int64_t seconds = DaysFrom1970(r.year, r.month, r.day) * 86400 + r.hour * 3600 + r.minute * 60 +
                            r.second - 8 * 3600;
    const int64_t count = seconds < 0 ? seconds + 1 : seconds;
    const int64_t wrapped = ((count % 4294967296 + 4294967296 + 2147483648) % 4294967296) - 2147483648;
    char text[32];
    std::snprintf(text, sizeof text, "%lld%03d", static_cast<long long>(wrapped), r.milliseconds);
    std::string result = text;
    while (result.size() < 13) result += '0';
    return result;
}

TEST_F(TimestampTest, AgreesWithAnIndependentDateArithmeticFrom1900To2100) {
    std::mt19937 random(20261211);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int i = 0; i < 100000; ++i) {
        const int year = pick(1900, 2100);
        const int month = pick(1, 12);
        const int lastDay = month == 2 ? 28 + (DaysFrom1970(year, 3, 1) - DaysFrom1970(year, 2, 1) == 29) : 30 + (month + month / 8) % 2;
        const LocalTimeRecord reading = Reading(year, month, pick(1, lastDay), pick(0, 23), pick(0, 59), pick(0, 59), pick(0, 999));
        SimSetLocalTime(reading);
        const std::string stamp = GetTimestampText();
        ASSERT_EQ(stamp, ModelStamp(reading)) << reading.year << "-" << reading.month << "-" << reading.day << " "
                                              << reading.hour << ":" << reading.minute << ":" << reading.second;
    }
}

}  // namespace
