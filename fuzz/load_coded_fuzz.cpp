// Genotype blocks in the integer codings (0/1/2-style).
#include "load_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::load_through_job(data, size, {"!genot012", "!genot-101", "!bigenot", "!dart"});
}
