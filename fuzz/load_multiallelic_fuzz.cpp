// Multiallelic genotype blocks.
#include "load_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzzing::load_through_job(data, size, {"!multiallelic"});
}
