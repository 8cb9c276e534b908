#include "mouse/timestamp.h"

#include <charconv>
#include <chrono>

#include "system/external.h"

namespace {

constexpr std::size_t kStampLength = 13;

// Seconds from 1970-01-01 08:00:00 to the reading, every day counted as
// 86400 seconds; the zone plays no part.
int64_t SecondsFromEpoch(const LocalTimeRecord& now) {
    using namespace std::chrono;
    // The record holds the clock's 16-bit fields in its low halves.
    const year_month_day date{year{static_cast<uint16_t>(now.year)}, month{static_cast<uint16_t>(now.month)},
                              day{static_cast<uint16_t>(now.day)}};
    const int64_t days = (sys_days{date} - sys_days{1970y / January / 1}).count();
    const int64_t secondOfDay = static_cast<uint16_t>(now.hour) * int64_t{3600} +
                                static_cast<uint16_t>(now.minute) * int64_t{60} +
                                static_cast<uint16_t>(now.second);
    return days * 86400 + secondOfDay - 8 * 3600;
}

void AppendNumber(std::string& text, int64_t number) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, number);
    text.append(digits, written.ptr);
}

}  // namespace

std::string GetTimestampText() {
    // One reading for date, time and milliseconds: two separate readings
    // could straddle a second boundary and put the stamp a second ahead.
    LocalTimeRecord now{};
    CallExternal<kGetLocalTime>(&now);

    const int64_t seconds = SecondsFromEpoch(now);
    // Before the epoch a whole count is lifted by one, and the count keeps
    // only its low 32 bits: both are part of the stamp's established form.
    const int64_t count = seconds >= 0 ? seconds : seconds + 1;
    const auto wrapped = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(count)));

    std::string text;
    AppendNumber(text, wrapped);
    std::string milliseconds;
    AppendNumber(milliseconds, static_cast<int16_t>(now.milliseconds));
    if (milliseconds.size() < 3) milliseconds.insert(0, 3 - milliseconds.size(), '0');
    text += milliseconds;
    if (text.size() < kStampLength) text.append(kStampLength - text.size(), '0');
    return text;
}
