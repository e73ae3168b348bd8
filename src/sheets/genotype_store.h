// genotype_store: the codes 0..3 of a genotype block at two bits each.
//
// The codes are held marker by marker: run m holds the codes of records
// 0 .. nrec - 1, four to a byte (record r in bits 2 * (r % 4) of byte r / 4),
// and is padded with zero bits to a whole number of 64-byte lines, so that
// every run starts on a line of its own and no two runs share a byte. Four
// records that share a byte start at a multiple of 4: whoever writes a set of
// such whole quarters writes bytes nobody else writes.
//
// The bytes are not value-initialised: whoever fills the store writes every
// byte once (the codes and the padding), and only then is it read.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "text/uninit.h"

namespace tavo {

constexpr int64_t GENOTYPE_RUN_ALIGN = 64;  // bytes
constexpr int64_t CODES_PER_BYTE = 4;

// Bytes of one marker's run for nrec records (0 for none).
constexpr int64_t genotype_run_bytes(int64_t nrec) {
    const int64_t codes_per_line = CODES_PER_BYTE * GENOTYPE_RUN_ALIGN;
    return nrec <= 0 ? 0 : (nrec + codes_per_line - 1) / codes_per_line * GENOTYPE_RUN_ALIGN;
}

// Bytes that hold codes of records (the rest of a run is padding).
constexpr int64_t genotype_code_bytes(int64_t nrec) {
    return nrec <= 0 ? 0 : (nrec + CODES_PER_BYTE - 1) / CODES_PER_BYTE;
}

struct genotype_store {
    uninit_vector<uint8_t> memory;      // the allocation (huge pages when large); runs start at its first 64-byte boundary
    uint8_t* base = nullptr;            // run 0
    int64_t run_bytes = 0;              // bytes from one run to the next
    int64_t markers = 0;

    bool empty() const { return base == nullptr; }
    int64_t bytes() const { return run_bytes * markers; }
    uint8_t* run(int64_t m) { return base + m * run_bytes; }
    const uint8_t* run(int64_t m) const { return base + m * run_bytes; }
};

// Allocates runs for `markers` x `nrec` codes without initialising them;
// false when the memory cannot be had (the store is then empty).
bool allocate_genotype_store(genotype_store& store, int64_t markers, int64_t nrec);
void release_genotype_store(genotype_store& store);

// Code of record r in a run.
inline uint8_t genotype_code(const uint8_t* run, int64_t r) {
    return static_cast<uint8_t>((run[r >> 2] >> ((r & 3) * 2)) & 3);
}

// Sets the code of record r in a run, keeping the other three codes of its
// byte (which must have been written before).
inline void set_genotype_code(uint8_t* run, int64_t r, uint8_t code) {
    const int shift = static_cast<int>(r & 3) * 2;
    uint8_t& byte = run[r >> 2];
    byte = static_cast<uint8_t>((byte & ~(3 << shift)) | ((code & 3) << shift));
}

// One byte of four codes (c[0] in the low bits; only each code's two low bits count).
inline uint8_t pack_four_codes(const uint8_t* c) {
    return static_cast<uint8_t>((c[0] & 3) | (c[1] & 3) << 2 | (c[2] & 3) << 4 | (c[3] & 3) << 6);
}

// Writes the padding bytes of a run that holds nrec records (those after the
// byte of the last record) as zeros. The bits after the last record within
// its byte are written as zeros by whoever packs that byte.
void pad_genotype_run(uint8_t* run, int64_t nrec);

// Codes of records row0 .. row0 + n - 1 of a run as one byte each, into
// out[0 .. n). row0 must be a multiple of 4; the codes of whole bytes are
// written, so out must have room for n rounded up to a multiple of 4 (the
// extra bytes get the padding's code 0 or the next records' codes).
void unpack_genotype_codes(const uint8_t* run, int64_t row0, int64_t n, uint8_t* out);

// The codes of a run as one byte each (tests and small tools).
void unpack_genotype_run(const uint8_t* run, int64_t nrec, uint8_t* out);

// Packs nrec byte codes into a run (every byte of the run written, padding included).
void pack_genotype_run(const uint8_t* codes, int64_t nrec, uint8_t* run);

}  // namespace tavo
