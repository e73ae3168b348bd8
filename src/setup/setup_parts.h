// Pieces of the data set set-up shared by its files and reachable by the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "jobfile/dataset.h"

namespace tavo::setup_detail {

// Longest data path + file name that is tried at all.
constexpr size_t MAX_FILE_PATH = 500;

// Lines of a stream from its current position: each LF, CR and CR LF ends a
// line, a last line without line end counts, empty lines count; -1 when the
// stream cannot be read to its end (errno then holds the reason). The stream
// is rewound afterwards. A large file is counted by `threads` threads.
int64_t count_lines(FILE* in, std::vector<int64_t>* starts = nullptr, int32_t threads = 1);

// The words of the first line (up to LF, CR or end of file), split at runs of
// blanks and tabs. The stream is rewound afterwards. `read_errno` is the
// system's reason when the line could not be read, else 0.
std::vector<std::string> read_header_words(FILE* in, int& read_errno);

bool named(const dataset& ds, std::string_view role);  // name compared ignoring case
bool has_no_key(const dataset& ds);                     // key empty or exactly "[nokey]"

// Inserts `count` fresh columns into the array of `owner` at position `at`;
// false when memory cannot be had (the array is then given up).
bool insert_columns(dataset& owner, size_t at, size_t count);

// Typing pass over all data sets (links, type letters, marker statistics);
// returns the number of data sets with a nonzero status.
int type_datasets(job& j);

// Refuses a block field of a data set whose declared columns would need more
// values than its data file can hold, at 2 bytes per value (a digit and a
// separator; the last value of the file may lack its separator): the data
// set gets status 12 and the message. Returns false when it did.
bool check_block_values(dataset& ds, const job& j);

// Adds the message of the data set's status to its message text.
void write_status_message(dataset& ds, const std::string& data_path, const dataset* filter);

}  // namespace tavo::setup_detail
