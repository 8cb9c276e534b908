#include "tests/host/test_support.h"

#include <iconv.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "app/program.h"
#include "app/start_button.h"
#include "mouse/detector.h"
#include "system/external.h"

std::string Gbk(const char8_t* utf8) {
    iconv_t converter = iconv_open("GBK", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no GBK converter");
    std::string input(reinterpret_cast<const char*>(utf8));
    std::string output(input.size() * 2 + 1, '\0');
    char* in = input.data();
    char* out = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("text not representable in GBK");
    output.resize(output.size() - outLeft);
    return output;
}

void HostTest::SetUp() {
    SimReset();
}

void HostTest::TearDown() {
    // Let a window left by the test go the normal way, so the program's own
    // globals are clear again, then drop everything else.
    if (WindowHandle window = MainWindow(); PlatformIsWindow(window)) PlatformDestroyWindow(window);
    ReleaseExternalBindings();
    g_hookHandle = nullptr;
    g_lastStamp = 0;
    ReleaseGlobals();
    SimReset();
}

LocalTimeRecord Reading(int year, int month, int day, int hour, int minute, int second, int milliseconds) {
    return LocalTimeRecord{year, month, 0, day, hour, minute, second, milliseconds};
}

LocalTimeRecord ReadingForStamp(int64_t stamp) {
    using namespace std::chrono;
    const sys_time<milliseconds> local = sys_time<milliseconds>{milliseconds{stamp}} + hours{8};
    const sys_days date = floor<days>(local);
    const year_month_day ymd{date};
    const hh_mm_ss time{local - date};
    return Reading(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(time.hours().count()),
                   static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                   static_cast<int>(time.subseconds().count()));
}
