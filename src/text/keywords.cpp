#include "text/keywords.h"

#include <cctype>

namespace tavo {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool begins_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

// One keyword of a list against a word: "text*" takes every word beginning
// with "text" (so "*" alone takes every word), any other only the whole word.
static bool keyword_matches(std::string_view keyword, std::string_view word) {
    if (!keyword.empty() && keyword.back() == '*') {
        const std::string_view prefix = keyword.substr(0, keyword.size() - 1);
        return begins_ignoring_case(word, prefix);
    }
    return equal_ignoring_case(keyword, word);
}

int match_keyword(std::string_view list, std::string_view word) {
    int position = 0;
    while (!list.empty()) {
        const size_t end = list.find(';');
        const std::string_view keyword = list.substr(0, end);
        if (keyword_matches(keyword, word)) return position;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);  // a final ";" leaves nothing: the list ends there
        ++position;
    }
    return -1;
}

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view first_word(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) ++begin;
    size_t end = begin;
    while (end < text.size() && !is_blank(text[end])) ++end;
    return text.substr(begin, end - begin);
}

std::string_view take_word(std::string_view& text, size_t limit) {
    size_t begin = 0;
    while (begin < text.size() && is_blank(text[begin])) ++begin;
    size_t end = begin;
    while (end < text.size() && end - begin < limit && !is_blank(text[end])) ++end;
    const std::string_view word = text.substr(begin, end - begin);
    text.remove_prefix(end);
    return word;
}

}  // namespace tavo
