// Retrieval of the saved samples: the sample output file is read cycle by
// cycle into the effect vectors of the genomic terms.
//
// A sample line is "cycle name value value ...". Values are taken from the
// line they stand on only; "\n", "\r\n" and a lone "\r" end a line. Lines
// holding nothing but blanks are passed over. The file is read in large
// chunks into one reused buffer, and every line is parsed in place.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "genomic/terms.h"
#include "text/lines.h"

namespace tavo {

enum class head_status : uint8_t {
    read,        // a line head (cycle number and name) is read
    end,         // end of file
    unreadable,  // a line without an integer cycle number and a name, or a read error
    interrupted, // the run was asked to end (SIGINT, SIGTERM)
};

// The reader's state between cycles.
struct sample_reader {
    line_source lines;             // the open sample output file (not owned), line by line
    std::string file_name;         // for messages
    int32_t line = 0;              // number of the line most recently read, from 1
    int32_t cycle = 0;             // the current cycle
    head_status status = head_status::end;  // result of the most recent head read
    int32_t head_cycle = 0;        // the most recent line head ...
    std::string head_name;
    std::string_view values;       // ... and the rest of its line (a view into the buffer)
    // Per term and kind (additive, dominance, regression): a line of the
    // current cycle held fewer values than expected.
    std::vector<uint8_t> short_lines;
};

enum class cycle_read : uint8_t {
    complete,  // every expected parameter found once with all its values
    problem,   // the reading stops: messages printed, the cycle is not to be computed
    end,       // end of file: no further cycle
    interrupted,  // the run was asked to end: nothing reported, the cycle is not to be computed
};

// Initial size of the read buffer; a longer line makes it grow.
constexpr size_t SAMPLE_CHUNK = size_t{1} << 20;

// Takes the open file and reads the first line head. An empty file leaves
// the reader at its end, so that no cycle is read.
void start_reading(sample_reader& r, FILE* in, const std::string& file_name,
                   size_t chunk = SAMPLE_CHUNK);

// Reads the cycle whose first head is in hand into the terms' effect vectors
// and found-counters, and leaves the head of the next cycle read. Reports, in
// term order and for each kind the model has (additive, dominance,
// regression): "not found" (no line), "multiples found" (more than one line),
// and then "too few values" when one of its lines was short; all go to the
// console. A head that cannot be read ends the cycle; it is reported after
// the cycle's messages and stops the reading as well.
cycle_read read_cycle(sample_reader& r, genomic_model& model);

// Reads up to `count` numbers from `text` (white space between them, a
// leading "+" accepted) into `out`; returns how many were read. Reading stops
// at the end of the text or at the first token that is not a number.
int64_t read_values(std::string_view text, double* out, int64_t count);

// std::from_chars for a double (general format), with the same results, end
// pointers and errors, but faster on the plain decimals that sample files
// hold: a number of at most 19 digits whose digits fit 53 bits, with a
// power of ten up to 22, is converted with one correctly rounded operation;
// anything else goes to std::from_chars.
std::from_chars_result read_number(const char* first, const char* last, double& value);

}  // namespace tavo
