// keyindex: a balanced (AA) search tree over one growable node array,
// mapping key texts to numbers (record, level or allele numbers).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace tavo {

struct keynode {
    const char* key = nullptr;  // reference kind: text owned elsewhere; copying kind: points into `copies`
    int32_t level = 0;
    int32_t number = 0;
    int32_t occurrences = 0;
    int32_t left = -1;          // child positions in the node array, -1 = none
    int32_t right = -1;
};

enum class keykind : uint8_t { reference, copying };

struct keyindex {
    int32_t capacity = 0;   // nodes allocated
    int32_t increment = 0;  // fewest nodes added per growth step (a step is at least half the capacity)
    int32_t count = 0;      // nodes in use (array position = order of first insertion)
    int32_t last = -1;      // copying kind: newest node, -1 when empty
    int32_t root = -1;      // root node position, -1 = none
    std::vector<keynode> nodes;                    // capacity nodes; empty = no node array
    keykind kind = keykind::reference;
    std::vector<std::unique_ptr<char[]>> copies;   // copying kind: key copies by node position
};

// Reference kind: sizes the node array (capacity/increment <= 0 become 100)
// and empties the tree. Returns 0, or 1 after "? init_index: allocation problem.\n".
int init_index(keyindex& index, int capacity, int increment);

// Copying kind: 1000 nodes, step 1000; frees earlier key copies. Returns 0 or 1.
int init_copying_index(keyindex& index);

// Inserts a key, or counts one more occurrence of a present key.
void insert_index(keyindex& index, const char* key);

// Number of the node holding key, or -1.
int32_t lookup_index(const keyindex& index, const char* key);

// Key of the node numbered `number` (valid after in-order numbering), or nullptr.
const char* reverse_lookup_index(const keyindex& index, int32_t number);

// Numbers the nodes 0, 1, ... in ascending key order.
void number_index_inorder(keyindex& index);

// Numbers node i of the array i (order of first insertion).
void number_index_by_position(keyindex& index);

// Height of the tree (0 when empty), for checking balance.
int index_height(const keyindex& index);

}  // namespace tavo
