#pragma once

#include <string>
#include <string_view>

// Port names, paths and user-visible text are wide strings; the operating system and files
// take UTF-8.
std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);
