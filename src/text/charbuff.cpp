#include "text/charbuff.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace tavo {

int init_charbuff(charbuff& buf, int capacity, int increment, int expected) {
    int result = 0;
    if (capacity <= 0) {
        capacity = 100;
        result = 1;
    }
    if (increment <= 0) {
        increment = 100;
        result = 1;
    }
    buf.capacity = capacity;
    buf.increment = increment;
    buf.expected = expected > 0 ? expected : 0;
    buf.used = 0;
    buf.count = 0;
    try {
        buf.buffer.assign(static_cast<size_t>(capacity), '\0');
    } catch (const std::bad_alloc&) {
        buf.buffer.clear();
        buf.buffer.shrink_to_fit();
        printf("? init_charbuff: allocation problem.\n");
        return 1;
    }
    return result;
}

// The next capacity of a full buffer: an estimate for all expected strings
// from the average length so far (at most the buffer's limit, when it has
// one), but never less than a geometric step (half the capacity, at least the
// increment), so that a text of any length is stored in time linear in its
// length. The step stops at the 32-bit limit; the estimate is computed in 64
// bits so that it cannot wrap, and one beyond that limit is a failed growth.
static int64_t grown_capacity(const charbuff& buf) {
    constexpr int64_t most = std::numeric_limits<int32_t>::max();
    const int64_t step = std::max<int64_t>(buf.increment, buf.capacity / 2);
    const int64_t stepped = std::min(int64_t{buf.capacity} + step, most);
    if (buf.expected <= 0 || buf.count >= buf.expected) return stepped;
    int64_t estimate = int64_t{buf.expected} * (int64_t{buf.used} / (int64_t{buf.count} + 1) + 1);
    if (buf.limit > 0) estimate = std::min<int64_t>(estimate, buf.limit);
    return std::max(estimate, stepped);
}

void limit_charbuff(charbuff& buf, int64_t bytes) {
    buf.limit = static_cast<int32_t>(std::clamp<int64_t>(bytes, 1, std::numeric_limits<int32_t>::max()));
}

static void lose_buffer(charbuff& buf) {
    printf("? addbuff: allocating problem\n");
    buf.buffer.clear();
    buf.buffer.shrink_to_fit();
}

bool grow_charbuff(charbuff& buf) {
    if (buf.absent()) return false;
    const int64_t wanted = grown_capacity(buf);
    if (wanted <= buf.used || wanted > std::numeric_limits<int32_t>::max()) {
        lose_buffer(buf);
        return false;
    }
    try {
        // reserve first: resize alone may allocate up to twice the capacity asked for
        buf.buffer.reserve(static_cast<size_t>(wanted));
        buf.buffer.resize(static_cast<size_t>(wanted));
    } catch (const std::bad_alloc&) {
        lose_buffer(buf);
        return false;
    }
    buf.capacity = static_cast<int32_t>(wanted);
    return true;
}

void addbuff(charbuff& buf, char byte) {
    if (buf.absent()) return;
    if (buf.used >= buf.capacity && !grow_charbuff(buf)) return;
    buf.buffer[static_cast<size_t>(buf.used)] = byte;
    ++buf.used;
    if (byte == '\0') ++buf.count;
}

void addtext(charbuff& buf, std::string_view text) {
    for (char c : text) addbuff(buf, c);
    addbuff(buf, '\0');
}

const char* next_token(const charbuff& buf, int32_t& cursor) {
    if (buf.absent()) return "";
    if (cursor >= 0 && cursor < buf.used) {
        const char* token = buf.buffer.data() + cursor;
        const void* nul = memchr(token, '\0', static_cast<size_t>(buf.used - cursor));
        cursor = nul ? static_cast<int32_t>(static_cast<const char*>(nul) - buf.buffer.data()) + 1
                     : buf.used + 1;
        return token;
    }
    printf("Problem in readbuff\n");
    return buf.buffer.data();
}

}  // namespace tavo
