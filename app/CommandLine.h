#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

inline constexpr const char* kOrvaneVersion = "1.0.0.1018";

// The two options answered on standard output without a window or a display: --version and
// --help. Returns the exit code when one was given; nothing when the program should start
// (every other argument is left to the toolkit, which takes its own, such as -platform).
std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::ostream& out);

// The log named on the command line to play (`orvane FILE`): the first argument after the
// program's name that is not an option, or any argument after "--". `args` are those the
// toolkit left, its own options already taken out.
std::optional<std::string> LogToPlay(const std::vector<std::string>& args);
