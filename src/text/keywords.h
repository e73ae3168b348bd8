// Keyword lists ("data;xdata;model;chain;") and the first word of a text.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavo {

// Letters compared without regard to case.
bool equal_ignoring_case(std::string_view a, std::string_view b);
bool begins_ignoring_case(std::string_view text, std::string_view prefix);

// Position (from 0) of the first keyword of `list` matching `word`, or -1.
// A keyword ending in "*" matches every word beginning with its text before
// the "*"; any other only the whole word. Case is ignored.
int match_keyword(std::string_view list, std::string_view word);

// The first word of a text: blanks and tabs skipped, ended by blank, tab or end.
std::string_view first_word(std::string_view text);

// Takes the next word off the front of `text`: blanks and tabs skipped, at
// most `limit` characters (the rest of a longer word is left for the next
// call). An empty result means the text held no more words.
std::string_view take_word(std::string_view& text, size_t limit = std::string_view::npos);

}  // namespace tavo
