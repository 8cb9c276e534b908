// The double right-click detector, the text to integer conversion and the
// key sequence it sends.
#include <gmock/gmock.h>

#include <random>
#include <vector>

#include "app/program.h"
#include "mouse/detector.h"
#include "tests/host/test_support.h"

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

class DetectorTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        InitGlobals();
    }
    // Releases the right button at each clock reading in turn; returns how
    // many Windows key + D sequences went out.
    static std::size_t ReleaseAt(const std::vector<LocalTimeRecord>& readings) {
        for (const LocalTimeRecord& reading : readings) {
            SimSetLocalTime(reading);
            HandleRightButtonUp();
        }
        return SimKeyEvents().size() / 4;
    }
};

const std::vector<SimKeyEventRecord> kWindowsKeyD = {{0x5B, 0}, {0x44, 0}, {0x5B, 2}, {0x44, 2}};

struct ReleasesCase {
    const char* name;
    std::vector<int64_t> stamps;
    std::size_t sequences;
    friend void PrintTo(const ReleasesCase& c, std::ostream* out) { *out << c.name; }
};

class ReleasesTest : public DetectorTest, public ::testing::WithParamInterface<ReleasesCase> {};

TEST_P(ReleasesTest, SendWindowsKeyDWhenTheTwoNewestAreUnder300Apart) {
    std::vector<LocalTimeRecord> readings;
    for (int64_t stamp : GetParam().stamps) readings.push_back(ReadingForStamp(stamp));
    EXPECT_EQ(ReleaseAt(readings), GetParam().sequences);
    EXPECT_EQ(SimKeyEvents().size(), GetParam().sequences * 4);  // whole sequences only
    EXPECT_EQ(RightUpStampCount(), GetParam().stamps.size());  // every stamp kept
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, ReleasesTest,
    ::testing::Values(ReleasesCase{"FirstReleaseNeverFires", {1700000000000}, 0},
                      ReleasesCase{"Apart299Fires", {1700000000000, 1700000000299}, 1},
                      ReleasesCase{"Apart300DoesNot", {1700000000000, 1700000000300}, 0},
                      ReleasesCase{"ClockSetBackIsJudgedByTheDistance", {1682215201999, 1682215201800}, 1},
                      ReleasesCase{"ClockSetFarBackDoesNot", {1682215201999, 1682215201699}, 0},
                      ReleasesCase{"ThreeAt100FireTwice", {1700000000000, 1700000000100, 1700000000200}, 2},
                      ReleasesCase{"AFourth250LaterFiresAgain",
                                   {1700000000000, 1700000000100, 1700000000200, 1700000000450}, 3},
                      ReleasesCase{"StraddlingAMultipleOf2To32", {1705102016462, 1705102016562}, 1},
                      ReleasesCase{"StraddlingTheSignChange", {1702954532816, 1702954532916}, 1},
                      ReleasesCase{"SignChange300ApartDoesNot", {1702954532816, 1702954533116}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DetectorTest, KeepsEveryStampNewestFirstAndSendsTheExactKeys) {
    ReleaseAt({ReadingForStamp(1700000000000), ReadingForStamp(1700000000299)});
    EXPECT_THAT(SimKeyEvents(), ElementsAreArray(kWindowsKeyD));
    EXPECT_EQ(RightUpStamp(0), -807048917);
    EXPECT_EQ(RightUpStamp(1), -807049216);
    EXPECT_EQ(g_lastStamp, -807048917);
}

TEST_F(DetectorTest, SignChangeStraddleConvertsToBothEndsOfTheRange) {
    ReleaseAt({ReadingForStamp(1702954532816), ReadingForStamp(1702954532916)});
    EXPECT_EQ(RightUpStamp(1), 2147483600);
    EXPECT_EQ(RightUpStamp(0), -2147483596);
}

// Between 1973 and 2001 the seconds have nine digits and the stamp is padded
// with a trailing zero, so it counts tenths of milliseconds.
TEST_F(DetectorTest, NineDigitEraFiresOnlyUnder30Milliseconds) {
    EXPECT_EQ(ReleaseAt({Reading(1999, 6, 1, 12, 0, 0, 100), Reading(1999, 6, 1, 12, 0, 0, 129)}), 1u);
    SimKeyEvents().clear();
    EXPECT_EQ(ReleaseAt({Reading(1999, 6, 1, 12, 0, 1, 100), Reading(1999, 6, 1, 12, 0, 1, 130)}), 0u);
}

TEST_F(DetectorTest, RefusedGrowthOfTheListIsReportedWithItsSize) {
    EXPECT_EXIT(
        {
            for (int i = 0; i < 4096; ++i) ReleaseAt({ReadingForStamp(1700000000000 + i * 1000LL)});
            SimRefuseAllocationsFrom(32768);
            ReleaseAt({ReadingForStamp(1800000000000)});
        },
        ::testing::ExitedWithCode(255), HasSubstr(Gbk(u8"分配 32768 字节内存失败!")));
}

struct PressKeysCase {
    uint8_t keys[3];
    std::vector<SimKeyEventRecord> events;
};

TEST_F(DetectorTest, PressKeysReleasesInTheOrderOfThePressesAndSkipsLeftOutKeys) {
    const PressKeysCase cases[] = {
        {{0x5B, 0x44, 0}, kWindowsKeyD},
        {{0x10, 0, 0}, {{0x10, 0}, {0x10, 2}}},
        {{1, 2, 3}, {{1, 0}, {2, 0}, {3, 0}, {1, 2}, {2, 2}, {3, 2}}},
        {{1, 0, 3}, {{1, 0}, {3, 0}, {1, 2}, {3, 2}}},
    };
    for (const PressKeysCase& c : cases) {
        SimKeyEvents().clear();
        PressKeys(c.keys[0], c.keys[1], c.keys[2]);
        EXPECT_THAT(SimKeyEvents(), ElementsAreArray(c.events));
    }
}

TEST(TextToInt32Test, ConvertsLikeTheCLibraryWithoutOverflowChecks) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"1700000000000", -807049216}, {"1700000000299", -807048917}, {"1682222222123", -1404957909},
        {"4294967296", 0},             {"2147483648", -2147483647 - 1}, {"4294967295", -1},
        {"", 0},                       {"-7", -7},                     {"+7", 7},
        {" \t\n\v\f\r42x9", 42},       {"- 5", 0},                     {"abc", 0},
        {"--5", 0},                    {"007", 7},                     {"-2147483648", -2147483647 - 1},
    };
    for (const auto& c : cases) EXPECT_EQ(TextToInt32(c.text), c.value) << '"' << c.text << '"';
}

// The reference works digit by digit from the right with powers of ten
// modulo 2^32, and skips white space with the C library's own test.
int32_t ReferenceTextToInt32(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::size_t end = i;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    uint64_t sum = 0;
    uint64_t power = 1;
    for (std::size_t j = end; j > i; --j) {
        sum = (sum + static_cast<uint64_t>(text[j - 1] - '0') * power) % 4294967296u;
        power = power * 10 % 4294967296u;
    }
    if (negative) sum = (4294967296u - sum) % 4294967296u;
    return static_cast<int32_t>(static_cast<uint32_t>(sum));
}

TEST(TextToInt32Test, AgreesWithAReferenceOverRandomTexts) {
    std::mt19937 random(42);
    const std::string pieces[] = {"0", "1", "5", "9", "+", "-", " ", "\t", "\n", "\v", "\f", "\r",
                                  "\x80", "\xB4", "\xFF", "a", ".", "e", "4294967296", "99999999999999999999"};
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int length = std::uniform_int_distribution<int>(0, 12)(random);
        for (int j = 0; j < length; ++j) {
            text += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
        }
        ASSERT_EQ(TextToInt32(text), ReferenceTextToInt32(text)) << '"' << text << '"';
    }
}

}  // namespace
