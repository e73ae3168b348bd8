#include "sheets/datacol.h"

namespace tavo {

int init_datacol(datacol& col) {
    col = datacol{};
    return init_charbuff(col.options, 50, 50, 0);
}

}  // namespace tavo
