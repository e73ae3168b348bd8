// Keyword lists ("data;xdata;model;chain;") and the first word of a text.
#pragma once

#include <string_view>

namespace tavo {

// Position (from 0) of the first keyword of `list` matching `word`, or -1.
// A keyword ending in "*" matches every word beginning with its text before
// the "*"; any other only the whole word. Case is ignored.
int match_keyword(std::string_view list, std::string_view word);

// The first word of a text: blanks and tabs skipped, ended by blank, tab or end.
std::string_view first_word(std::string_view text);

}  // namespace tavo
