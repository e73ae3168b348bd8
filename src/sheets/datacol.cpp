#include "sheets/datacol.h"

#include "text/keywords.h"
#include "text/numbers.h"

namespace tavo {

int init_datacol(datacol& col) {
    col = datacol{};
    return init_charbuff(col.options, 50, 50, 0);
}

std::optional<int32_t> size_option(const datacol& col) {
    constexpr std::string_view prefix = "!size=";
    int32_t cursor = 0;
    for (int32_t i = 0; i < col.options.count; ++i) {
        const char* option = next_token(col.options, cursor);
        if (!begins_ignoring_case(option, prefix)) continue;
        int value = 0;
        if (!read_int(option + prefix.size(), value, int_overflow::clamp).ok()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace tavo
