#include "mouse/detector.h"

#include <string>

#include "mouse/timestamp.h"
#include "platform/platform.h"

int32_t g_lastStamp = 0;
std::vector<int32_t> g_rightUpStamps;

namespace {

constexpr int64_t kDoubleClickMilliseconds = 300;  // releases closer than this are a double click

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::size_t RightUpStampCount() {
    return g_rightUpStamps.size();
}

int32_t RightUpStamp(std::size_t newestFirstIndex) {
    return g_rightUpStamps[g_rightUpStamps.size() - 1 - newestFirstIndex];
}

void HandleRightButtonUp() {
    const std::string text = GetTimestampText();
    g_lastStamp = TextToInt32(text);
    g_rightUpStamps.push_back(g_lastStamp);
    if (g_rightUpStamps.size() < 2) return;

    // The stamps are milliseconds modulo 2^32, so their distance is too: two
    // releases either side of a wrap of the 32-bit value are still close.
    const auto distance = static_cast<int32_t>(static_cast<uint32_t>(RightUpStamp(0)) -
                                               static_cast<uint32_t>(RightUpStamp(1)));
    const int64_t magnitude = distance < 0 ? -int64_t{distance} : int64_t{distance};
    if (magnitude < kDoubleClickMilliseconds) PressKeys(kKeyLeftWindows, kKeyD);
}

int32_t TextToInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsWhiteSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

void PressKeys(uint8_t key1, uint8_t key2, uint8_t key3) {
    PlatformKeyEvent(key1, 0);
    if (key2 != 0) PlatformKeyEvent(key2, 0);
    if (key3 != 0) PlatformKeyEvent(key3, 0);
    PlatformKeyEvent(key1, kKeyEventKeyUp);
    if (key2 != 0) PlatformKeyEvent(key2, kKeyEventKeyUp);
    if (key3 != 0) PlatformKeyEvent(key3, kKeyEventKeyUp);
}
