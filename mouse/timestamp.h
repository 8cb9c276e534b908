// The millisecond stamp of a right-button release, as text.
#pragma once

#include <string>

// Whole seconds from the local date-time 1970-01-01 08:00:00 to now, then
// the three millisecond digits, then "0" up to 13 characters. All of it
// comes from one reading of the local clock.
std::string GetTimestampText();
