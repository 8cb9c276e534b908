#include "system/fatal.h"

#include <charconv>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "system/texts.h"

namespace {

// A bounded text being built on the stack: the report must work when the
// heap does not.
struct TextBuilderRecord {
    char* cursor;
    char* end;  // the last usable byte, kept for the NUL
};

void Put(TextBuilderRecord& text, std::string_view part) {
    const std::size_t room = static_cast<std::size_t>(text.end - text.cursor);
    const std::size_t count = part.size() < room ? part.size() : room;
    std::memcpy(text.cursor, part.data(), count);
    text.cursor += count;
}

void PutNumber(TextBuilderRecord& text, long long number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    Put(text, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

// The source file relative to the source tree: its folder and its name.
std::string_view ShortFileName(std::string_view path) {
    std::size_t cut = path.find_last_of("/\\");
    if (cut != std::string_view::npos && cut > 0) {
        const std::size_t folder = path.find_last_of("/\\", cut - 1);
        if (folder != std::string_view::npos) return path.substr(folder + 1);
    }
    return path;
}

}  // namespace

std::string_view FillPlaceholders(char* out, std::size_t capacity, std::string_view format,
                                  std::initializer_list<std::string_view> arguments) {
    TextBuilderRecord text{out, out + capacity - 1};
    const std::string_view* next = arguments.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const bool placeholder = format[i] == '%' && i + 1 < format.size() &&
                                 (format[i + 1] == 's' || format[i + 1] == 'd');
        if (placeholder && next != arguments.end()) {
            Put(text, *next++);
            ++i;
        } else {
            Put(text, format.substr(i, 1));
        }
    }
    *text.cursor = '\0';
    return std::string_view(out, static_cast<std::size_t>(text.cursor - out));
}

void FatalErrorReport(int code, std::string_view message, std::source_location where) {
    char report[2048];
    TextBuilderRecord text{report, report + sizeof report - 1};
    Put(text, kTextRuntimeError);
    Put(text, "\r\n");
    if (code != 0) {
        Put(text, kTextErrorCodeLabel);
        PutNumber(text, code);
        Put(text, "\r\n");
    }
    Put(text, kTextErrorMessageLabel);
    Put(text, message);
    Put(text, "\r\n");
    Put(text, kTextErrorPlaceLabel);
    Put(text, ShortFileName(where.file_name()));
    Put(text, ":");
    PutNumber(text, static_cast<long long>(where.line()));
    Put(text, "\r\n");
    Put(text, where.function_name());
    *text.cursor = '\0';

    PlatformShowErrorBox(kTextErrorCaption, report);
    // The exit routines are deliberately not run: the program's state is not
    // to be trusted any more.
    PlatformExitProcess(-1);
}

void ReportAllocationFailure(std::size_t bytes, std::source_location where) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned long long>(bytes));
    char message[128];
    FatalErrorReport(0,
                     FillPlaceholders(message, sizeof message, kTextAllocationFailed,
                                      {std::string_view(digits, static_cast<std::size_t>(written.ptr - digits))}),
                     where);
}
