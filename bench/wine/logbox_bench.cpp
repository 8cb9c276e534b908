// One append to the real log box when it already holds 0, 1 MB and 10 MB,
// with the program's AppendToLogBox and, beside it, an append that first
// copies the whole text to find its end. The edit control's own cost grows
// with its text; this shows what the program adds on top of it.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "system/texts.h"

namespace {

HWND g_edit = nullptr;
LARGE_INTEGER g_frequency;

double NowMilliseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(g_frequency.QuadPart);
}

std::wstring Wide(const char* text) {
    wchar_t buffer[256];
    const int length = MultiByteToWideChar(936, 0, text, -1, buffer, 256);
    return std::wstring(buffer, static_cast<std::size_t>(length - 1));
}

// The log filled in one step with lines of the kind the hook writes, up to
// `bytes` bytes of code page 936 text.
void Fill(std::size_t bytes) {
    const std::wstring line = Wide(kTextHookLineOther);
    const std::size_t lineBytes = sizeof kTextHookLineOther - 1;
    std::wstring text;
    text.reserve(bytes / lineBytes * line.size() + line.size());
    for (std::size_t filled = 0; filled + lineBytes <= bytes; filled += lineBytes) text += line;
    SetWindowTextW(g_edit, text.c_str());
}

// The end found by copying out the whole text first.
double LiteralAppend(const std::wstring& line, double* findEnd) {
    const double start = NowMilliseconds();
    const int length = GetWindowTextLengthW(g_edit);
    std::vector<wchar_t> copy(static_cast<std::size_t>(length) + 1);
    GetWindowTextW(g_edit, copy.data(), length + 1);
    const auto end = static_cast<WPARAM>(lstrlenW(copy.data()));
    *findEnd = NowMilliseconds() - start;
    SendMessageW(g_edit, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(g_edit, EM_SCROLLCARET, 0, 0);
    SendMessageW(g_edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    return NowMilliseconds() - start;
}

struct Figures {
    double median;
    double mean;
    double findEndMedian;
};

Figures Summarise(std::vector<double> append, std::vector<double> findEnd) {
    std::sort(append.begin(), append.end());
    std::sort(findEnd.begin(), findEnd.end());
    double sum = 0;
    for (double value : append) sum += value;
    return {append[append.size() / 2], sum / static_cast<double>(append.size()), findEnd[findEnd.size() / 2]};
}

}  // namespace

int main() {
    QueryPerformanceFrequency(&g_frequency);
    CreateMainWindow();
    HWND main = FindWindowW(L"RightClickDesktopMainWindow", nullptr);
    g_edit = FindWindowExW(main, nullptr, L"Edit", nullptr);
    if (main == nullptr || g_edit == nullptr) {
        std::fprintf(stderr, "the log box was not found\n");
        return 2;
    }
    const std::wstring line = Wide(kTextHookLineOther);

    std::printf("%-8s %-8s %8s %12s %12s %16s\n", "log", "append", "count", "median ms", "mean ms", "find end ms");
    const struct {
        const char* name;
        std::size_t bytes;
        int count;
    } sizes[] = {{"0", 0, 200}, {"1 MB", 1u << 20, 200}, {"10 MB", 10u << 20, 40}};
    for (const auto& size : sizes) {
        std::vector<double> append;
        std::vector<double> findEnd;
        Fill(size.bytes);
        for (int i = 0; i < size.count; ++i) {
            const double start = NowMilliseconds();
            GetWindowTextLengthW(g_edit);  // the one step of ours that looks at the text
            findEnd.push_back(NowMilliseconds() - start);
            const double appendStart = NowMilliseconds();
            AppendToLogBox(kTextHookLineOther);
            append.push_back(NowMilliseconds() - appendStart);
        }
        const Figures ours = Summarise(append, findEnd);
        std::printf("%-8s %-8s %8d %12.4f %12.4f %16.5f\n", size.name, "ours", size.count, ours.median, ours.mean,
                    ours.findEndMedian);

        append.clear();
        findEnd.clear();
        Fill(size.bytes);
        for (int i = 0; i < size.count; ++i) {
            double copyTime = 0;
            append.push_back(LiteralAppend(line, &copyTime));
            findEnd.push_back(copyTime);
        }
        const Figures literal = Summarise(append, findEnd);
        std::printf("%-8s %-8s %8d %12.4f %12.4f %16.5f\n", size.name, "copying", size.count, literal.median,
                    literal.mean, literal.findEndMedian);
        std::fflush(stdout);
    }
    DestroyWindow(main);
    return 0;
}
