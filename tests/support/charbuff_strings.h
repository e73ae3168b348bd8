// The texts a character buffer holds, for tests of whatever fills one.
#pragma once

#include <string>
#include <vector>

#include "text/charbuff.h"

namespace tavo::text_testing {

inline std::vector<std::string> strings_of(const charbuff& buf) {
    std::vector<std::string> strings;
    int32_t cursor = 0;
    for (int32_t i = 0; i < buf.count; ++i) strings.emplace_back(next_token(buf, cursor));
    return strings;
}

}  // namespace tavo::text_testing
