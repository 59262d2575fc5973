#pragma once
// Text conversions at the edges: the core speaks UTF-8, windows speak UTF-16, and files, the
// profile functions and narrow calls use the ANSI code page (Windows-1252 for Spanish).

#include <string>
#include <string_view>

namespace corva::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);
// How many bytes of `utf8`, from its start, the first `ansi_bytes` bytes of its ANSI form stand
// for: the whole characters among them (a character cut in two counts as not written).
std::size_t Utf8LengthOfAnsiPrefix(std::string_view utf8, std::size_t ansi_bytes);

// Windows' message for an error code (UTF-8, without its closing line break); "Error N" when
// Windows has none.
std::string SystemMessage(unsigned long code);

// The folder holding the running program, without a trailing backslash.
std::wstring ProgramDirectory();

}  // namespace corva::win
