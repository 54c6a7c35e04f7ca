#pragma once

#include "tools/gpssim/SimState.h"

#include <string>
#include <vector>

// "$" + body + "*hh\r\n".
std::string FinishSentence(const std::string& body);

std::string GgaSentence(const SimState& state, Dialect dialect);
std::string RmcSentence(const SimState& state, Dialect dialect);
// One for all satellites, or one per system.
std::vector<std::string> GsaSentences(const SimState& state, Dialect dialect);
// Four satellites a message, one series per system of the dialect.
std::vector<std::string> GsvSentences(const SimState& state, Dialect dialect);

// A whole cycle in the order the dialect's receivers send it.
std::vector<std::string> CycleSentences(const SimState& state, Dialect dialect);
