// The double right-click detector: two releases of the right button less
// than 300 ms apart send Windows key + D.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern int32_t g_lastStamp;  // the stamp of the most recent right-button release

// Every release's stamp since start-up, oldest at the front and newest at the
// back, so that a release costs the same however long the program has run.
// RightUpStamp(0) is the newest.
extern std::vector<int32_t> g_rightUpStamps;

std::size_t RightUpStampCount();
int32_t RightUpStamp(std::size_t newestFirstIndex);

void HandleRightButtonUp();

// Decimal text to a 32-bit integer, wrapping modulo 2^32 like the C
// library's unchecked conversion: leading white space, an optional sign, then
// digits up to the first other byte. No digits give 0.
int32_t TextToInt32(std::string_view text);

// Presses the keys in order, then releases them in the same order; a key of
// 0 is left out.
void PressKeys(uint8_t key1, uint8_t key2 = 0, uint8_t key3 = 0);
