// The key index: an AA tree whose nodes live in one growable array. Nodes
// refer to each other by array position, so growing the array (which may
// move it) keeps every link valid.
#include "text/keyindex.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace tavo {
namespace {

constexpr int32_t NONE = -1;

// An AA tree of n nodes is at most 2 * log2(n + 1) high; with at most 2^31
// nodes every search path fits in this many entries.
constexpr size_t MAX_PATH = 72;

int32_t level_of(const keyindex& index, int32_t node) {
    return node == NONE ? -1 : index.nodes[static_cast<size_t>(node)].level;
}

keynode& at(keyindex& index, int32_t node) { return index.nodes[static_cast<size_t>(node)]; }
const keynode& at(const keyindex& index, int32_t node) {
    return index.nodes[static_cast<size_t>(node)];
}

// Byte order of unsigned bytes up to the first NUL (strcmp compares so).
int compare_keys(const char* a, const char* b) { return strcmp(a, b); }

// Sizes the node array to at least `wanted` nodes and empties the tree.
int prepare_nodes(keyindex& index, int32_t wanted, int32_t increment) {
    try {
        if (index.nodes.size() < static_cast<size_t>(wanted))
            index.nodes.resize(static_cast<size_t>(wanted));
    } catch (const std::bad_alloc&) {
        index = keyindex{};
        printf("? init_index: allocation problem.\n");
        return 1;
    }
    index.capacity = static_cast<int32_t>(index.nodes.size());
    index.increment = increment;
    index.count = 0;
    index.root = NONE;
    return 0;
}

int32_t skew(keyindex& index, int32_t node) {
    const int32_t left = at(index, node).left;
    if (left == NONE || at(index, left).level != at(index, node).level) return node;
    at(index, node).left = at(index, left).right;
    at(index, left).right = node;
    return left;
}

int32_t split(keyindex& index, int32_t node) {
    const int32_t right = at(index, node).right;
    if (right == NONE || level_of(index, at(index, right).right) != at(index, node).level)
        return node;
    at(index, node).right = at(index, right).left;
    at(index, right).left = node;
    ++at(index, right).level;
    return right;
}

// Adds half the capacity, at least `increment` nodes: a geometric step keeps
// the inserts of many keys linear in their number. A failed growth leaves
// the index without nodes.
bool grow_nodes(keyindex& index) {
    const int64_t wanted = int64_t{index.capacity} + std::max<int64_t>(index.increment, index.capacity / 2);
    try {
        if (index.increment <= 0 || wanted > std::numeric_limits<int32_t>::max())
            throw std::bad_alloc();
        index.nodes.resize(static_cast<size_t>(wanted));
    } catch (const std::bad_alloc&) {
        printf("? insert_index: allocating problem\n");
        index.nodes.clear();
        index.nodes.shrink_to_fit();
        index.copies.clear();
        index.capacity = index.count = 0;
        index.root = index.last = NONE;
        return false;
    }
    index.capacity = static_cast<int32_t>(wanted);
    return true;
}

// Fills the node at position count with `key`; false when the copy failed.
bool fill_node(keyindex& index, const char* key) {
    const int32_t position = index.count;
    keynode& node = at(index, position);
    node = keynode{};
    node.occurrences = 1;
    if (index.kind == keykind::reference) {
        node.key = key;
        return true;
    }
    try {
        const size_t length = strlen(key) + 1;
        std::unique_ptr<char[]> copy(new char[length]);
        memcpy(copy.get(), key, length);
        if (index.copies.size() <= static_cast<size_t>(position))
            index.copies.resize(static_cast<size_t>(position) + 1);
        node.key = copy.get();
        index.copies[static_cast<size_t>(position)] = std::move(copy);
    } catch (const std::bad_alloc&) {
        printf("? insert_index: allocating problem\n");
        return false;
    }
    node.number = position;
    index.last = position;
    return true;
}

void set_link(keyindex& index, const std::array<int32_t, MAX_PATH>& path,
              const std::array<bool, MAX_PATH>& went_left, size_t depth, int32_t node) {
    if (depth == 0) {
        index.root = node;
        return;
    }
    keynode& parent = at(index, path[depth - 1]);
    (went_left[depth - 1] ? parent.left : parent.right) = node;
}

}  // namespace

int init_index(keyindex& index, int capacity, int increment) {
    index.kind = keykind::reference;
    index.copies.clear();
    index.last = NONE;
    return prepare_nodes(index, capacity > 0 ? capacity : 100, increment > 0 ? increment : 100);
}

int init_copying_index(keyindex& index) {
    index.kind = keykind::copying;
    index.copies.clear();  // frees the key copies of nodes 0 .. last
    index.last = NONE;
    const int result = prepare_nodes(index, 1000, 1000);
    index.kind = keykind::copying;
    return result;
}

void insert_index(keyindex& index, const char* key) {
    if (index.nodes.empty()) {
        printf("ERROR in insert_index: nodes array appears uninitialised.\n");
        return;
    }
    std::array<int32_t, MAX_PATH> path;
    std::array<bool, MAX_PATH> went_left;
    size_t depth = 0;
    for (int32_t node = index.root; node != NONE; ++depth) {
        const int order = compare_keys(key, at(index, node).key);
        if (order == 0) {
            ++at(index, node).occurrences;
            return;
        }
        path[depth] = node;
        went_left[depth] = order < 0;
        node = order < 0 ? at(index, node).left : at(index, node).right;
    }
    if (index.count >= index.capacity && !grow_nodes(index)) return;
    if (!fill_node(index, key)) return;
    set_link(index, path, went_left, depth, index.count);
    ++index.count;
    // Rebalance bottom-up along the search path, re-hanging each subtree at
    // the link that holds it.
    while (depth > 0) {
        --depth;
        const int32_t balanced = split(index, skew(index, path[depth]));
        set_link(index, path, went_left, depth, balanced);
    }
}

int32_t lookup_index(const keyindex& index, const char* key) {
    if (index.nodes.empty()) return NONE;
    int32_t node = index.root;
    while (node != NONE) {
        const int order = compare_keys(key, at(index, node).key);
        if (order == 0) return at(index, node).number;
        node = order < 0 ? at(index, node).left : at(index, node).right;
    }
    return NONE;
}

const char* reverse_lookup_index(const keyindex& index, int32_t number) {
    if (index.nodes.empty()) return nullptr;
    int32_t node = index.root;
    while (node != NONE) {
        const keynode& here = at(index, node);
        if (number == here.number) return here.key;
        node = number < here.number ? here.left : here.right;
    }
    return nullptr;
}

void number_index_inorder(keyindex& index) {
    if (index.nodes.empty()) return;
    std::array<int32_t, MAX_PATH> pending;
    size_t depth = 0;
    int32_t counter = -1;
    int32_t node = index.root;
    while (node != NONE || depth > 0) {
        for (; node != NONE; node = at(index, node).left) pending[depth++] = node;
        node = pending[--depth];
        at(index, node).number = ++counter;
        node = at(index, node).right;
    }
}

void number_index_by_position(keyindex& index) {
    for (int32_t i = 0; i < index.count; ++i) at(index, i).number = i;
}

int index_height(const keyindex& index) {
    if (index.nodes.empty() || index.root == NONE) return 0;
    std::vector<std::pair<int32_t, int>> pending{{index.root, 1}};
    int height = 0;
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (depth > height) height = depth;
        if (at(index, node).left != NONE) pending.push_back({at(index, node).left, depth + 1});
        if (at(index, node).right != NONE) pending.push_back({at(index, node).right, depth + 1});
    }
    return height;
}

}  // namespace tavo
