// Numbers as printf's "%g" writes them (six significant digits), fast: a
// window run writes tens of millions of them.
#pragma once

namespace tavo {

// Room write_general needs at most.
constexpr int GENERAL_TEXT_MAX = 32;

// Writes value as "%g" writes it in the C locale ("nan", "-nan", "inf" and
// "-inf" included) at out, which has room for GENERAL_TEXT_MAX characters,
// and returns the end of the text (no NUL written).
char* write_general(char* out, double value);

}  // namespace tavo
