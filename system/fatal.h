// The program's one failure report: a message box, then the end of the
// process with exit code -1, the exit routines skipped.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <source_location>
#include <string_view>

// `message` is a code page 936 text; `where` names the place of the error in
// the report's closing line.
[[noreturn]] void FatalErrorReport(int code, std::string_view message,
                                   std::source_location where = std::source_location::current());

// The report for an allocation the system refused, naming the byte count.
[[noreturn]] void ReportAllocationFailure(std::size_t bytes,
                                          std::source_location where = std::source_location::current());

// Writes `format` into `out` (capacity `capacity`, always NUL-terminated,
// cut short if it does not fit) with each "%s" or "%d" replaced by the next
// of `arguments`, in order. Returns the text written. Allocates nothing, so
// the allocation failure report can use it.
std::string_view FillPlaceholders(char* out, std::size_t capacity, std::string_view format,
                                  std::initializer_list<std::string_view> arguments);
