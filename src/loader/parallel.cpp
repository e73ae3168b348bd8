// Genotype files read by several workers. The set-up found where every line
// begins while counting them; the records are cut into chunks of whole tiles
// of TILE_HEIGHT rows, and each worker reads its chunk's lines itself
// (pread, so the workers share no stream), decodes their codes into a tile of
// its own and copies each full tile into the table.
//
// The messages stay those of the line-by-line reading, in its order: a
// worker never prints. A line it cannot decode cleanly (a bad code, too few
// tokens, an empty line, a NUL byte) is left to the calling thread, which,
// after the workers are done, walks the records in file order, takes the
// keys of the decoded ones and reads each line left to it again with
// read_one_record, the line-by-line code itself. Its messages thus come out
// in record order, and the walk ends where that reading ends.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "loader/loader_internal.h"
#include "sheets/datasheet.h"
#include "sheets/readbuff.h"
#include "text/interrupt.h"
#include "text/uninit.h"

namespace tavo {
namespace {

constexpr int32_t DEFAULT_CHUNK_ROWS = 4 * TILE_HEIGHT;
constexpr int64_t DEFAULT_READ_BYTES = int64_t{4} << 20;

// The columns of the common layout: an optional key, then the block.
struct layout {
    int32_t key = -1;
    int32_t block = -1;
};

bool one_token_coding(genotype_coding coding) {
    return coding == genotype_coding::genot012 || coding == genotype_coding::genot_101 ||
           coding == genotype_coding::bigenot || coding == genotype_coding::dart;
}

layout find_layout(const load_state& st) {
    layout found;
    for (int32_t i = 0; i < st.ncols; ++i) {
        const datacol& col = st.cols[i];
        if (col.skip) continue;
        if (col.start > 0) return {};
        if (col.type == field_type::key && found.key < 0 && found.block < 0 && col.items == 1) {
            found.key = i;
        } else if (col.type == field_type::genotype_block && found.block < 0) {
            found.block = i;
        } else {
            return {};
        }
    }
    return found;
}

// Index in line_starts of the first record's line.
int64_t first_line(const dataset& ds) { return int64_t{ds.header ? 1 : 0} + ds.nskip; }

struct chunk_result {
    std::string keys;             // the key texts of the decoded records, each with its NUL
    std::vector<int32_t> again;   // rows whose lines the calling thread reads again, ascending
    bool done = false;            // false: every line of the chunk is read again
    int read_errno = 0;           // a read failed
};

struct shared_work {
    load_state& st;
    datacol& block;
    const genotype_plan& plan;
    bool keyed;
    int fd;
    const int64_t* starts;        // line_starts from the first record's line
    int32_t records;
    int32_t chunk_rows;
    int64_t read_bytes;
    std::vector<chunk_result> chunks;
    std::atomic<int32_t> next_chunk{0};
    std::atomic<int64_t> bytes_done{0};
};

// Four one-character tokens each followed by one space ("0 1 2 0 ") at p,
// decoded at once; false when the eight bytes are anything else.
inline bool decode_four(const uint8_t* table, const char* p, uint8_t* cells) {
    uint64_t word;
    memcpy(&word, p, 8);
    if ((word & 0xFF00FF00FF00FF00ULL) != 0x2000200020002000ULL) return false;
    return decode_four_at(table, p, cells);
}

// Decodes one line [p, end) (its line end left out) as the line-by-line
// reading would store it: the key's text goes to `keys`, the codes to
// `cells`. False, with nothing added to `keys`, when that reading would
// print a message or end there, or the line holds a NUL byte.
bool decode_line(const shared_work& w, const char* p, const char* end, uint8_t* cells, std::string& keys,
                 std::string& scratch) {
    if (p == end || memchr(p, '\0', static_cast<size_t>(end - p))) return false;
    const char* key = nullptr;
    const char* key_end = nullptr;
    if (w.keyed) {
        while (p < end && is_token_blank(*p)) ++p;
        if (p == end) return false;
        key = p;
        while (p < end && !is_token_blank(*p)) ++p;
        key_end = p;
    }
    const uint8_t* table = w.plan.table;
    const int32_t markers = w.block.ncol;
    int32_t m = 0;
    while (m < markers) {
        while (p < end && is_token_blank(*p)) ++p;
        if (m + 4 <= markers && end - p >= 8 && decode_four(table, p, cells + m)) {
            p += 8;
            m += 4;
            continue;
        }
        if (p == end) return false;  // too few tokens
        const char* token = p;
        while (p < end && !is_token_blank(*p)) ++p;
        const size_t length = static_cast<size_t>(p - token);
        const uint8_t code = table[static_cast<uint8_t>(token[0])];
        if (length == 1 && code != BAD_CODE) {
            cells[m++] = code;
        } else if (is_missing_token(w.plan, token, length)) {
            cells[m++] = MISSING_GENOTYPE;
        } else {
            scratch.assign(token, length);
            const coded_genotype decoded = decode_coded_token(w.plan.coding, scratch.c_str(), w.st.ds.missing.c_str());
            if (decoded.problem != code_problem::none) return false;
            cells[m++] = decoded.code;
        }
    }
    if (w.keyed) {
        keys.append(key, key_end);
        keys.push_back('\0');
    }
    return true;
}

// A line's bytes without its line end (LF, CR LF or a lone CR).
inline const char* line_content_end(const char* begin, const char* end) {
    if (end > begin && end[-1] == '\n') --end;
    if (end > begin && end[-1] == '\r') --end;
    return end;
}

// One worker's buffers: the lines read and the tile being filled.
struct worker_space {
    std::unique_ptr<char[]> text;
    int64_t text_size = 0;
    std::unique_ptr<uint8_t[]> tile;
    std::vector<int32_t> tile_rows;
    std::string scratch;
};

// Reads bytes [from, to) of the file into the worker's text buffer.
bool read_span(const shared_work& w, worker_space& space, int64_t from, int64_t to, int& error) {
    const int64_t size = to - from;
    if (size > space.text_size) {
        space.text = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
        space.text_size = size;
    }
    int64_t got = 0;
    while (got < size) {
        const ssize_t n = pread(w.fd, space.text.get() + got, static_cast<size_t>(size - got), from + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {  // an error, or a file that has shrunk since it was counted
            error = n < 0 ? errno : EIO;
            return false;
        }
        got += n;
    }
    return true;
}

void flush_worker_tile(shared_work& w, worker_space& space) {
    flush_tile_rows(w.block, space.tile.get(), space.tile_rows.data(), space.tile_rows.size());
    space.tile_rows.clear();
}

// Decodes the records of one chunk, reading whole lines, read_bytes at a
// time (at least one line).
void run_chunk(shared_work& w, worker_space& space, int32_t chunk) {
    chunk_result& out = w.chunks[static_cast<size_t>(chunk)];
    const int32_t first = chunk * w.chunk_rows;
    const auto last = static_cast<int32_t>(std::min<int64_t>(w.records, int64_t{first} + w.chunk_rows));
    const size_t ncol = static_cast<size_t>(w.block.ncol);
    int32_t r = first;
    while (r < last) {
        int32_t stop = r + 1;
        while (stop < last && w.starts[stop + 1] - w.starts[r] <= w.read_bytes) ++stop;
        if (!read_span(w, space, w.starts[r], w.starts[stop], out.read_errno)) {
            space.tile_rows.clear();
            return;
        }
        const int64_t span_start = w.starts[r];
        const char* text = space.text.get();
        for (; r < stop; ++r) {
            if (interrupt_signal() != 0) {  // the run is asked to end: the chunk stays undone
                space.tile_rows.clear();
                return;
            }
            const char* line = text + (w.starts[r] - span_start);
            const char* end = line_content_end(line, text + (w.starts[r + 1] - span_start));
            uint8_t* cells = space.tile.get() + space.tile_rows.size() * ncol;
            if (!decode_line(w, line, end, cells, out.keys, space.scratch)) {
                out.again.push_back(r);
                std::fill(cells, cells + ncol, MISSING_GENOTYPE);  // until the line is read again
            }
            space.tile_rows.push_back(r);  // a line read again has its row written again later
            if (space.tile_rows.size() == static_cast<size_t>(TILE_HEIGHT)) flush_worker_tile(w, space);
        }
        w.bytes_done.fetch_add(w.starts[stop] - span_start, std::memory_order_relaxed);
    }
    flush_worker_tile(w, space);
    out.done = true;
}

// Takes chunks until none is left, after having its share of the table's
// pages set up. A chunk that fails (no memory, a read error) is left undone:
// its lines are read again by the calling thread.
void work(shared_work& w, int32_t worker, int32_t workers, void (*progress)(void*, int64_t), void* context) {
    if (workers > 1)
        prepare_pages(w.block.genotypes.base, static_cast<size_t>(w.block.genotypes.bytes()), worker, workers);
    worker_space space;
    try {
        space.tile = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(TILE_HEIGHT) *
                                                               static_cast<size_t>(w.block.ncol));
        space.tile_rows.reserve(static_cast<size_t>(TILE_HEIGHT));
    } catch (const std::bad_alloc&) {
        return;
    }
    for (int32_t chunk = w.next_chunk++; chunk < static_cast<int32_t>(w.chunks.size()); chunk = w.next_chunk++) {
        if (interrupt_signal() != 0) return;  // the run is asked to end
        try {
            run_chunk(w, space, chunk);
        } catch (const std::bad_alloc&) {
            space.tile_rows.clear();
            w.chunks[static_cast<size_t>(chunk)].done = false;
        }
        if (progress) progress(context, w.bytes_done.load(std::memory_order_relaxed));
    }
}

// The calling thread's walk over the records in file order; the readbuff
// result that ends it.
int walk_records(shared_work& w) {
    load_state& st = w.st;
    datacol* key = w.keyed ? &st.cols[w.st.ds.keycol] : nullptr;
    FILE* in = st.ds.in.get();
    for (size_t c = 0; c < w.chunks.size(); ++c) {
        const chunk_result& chunk = w.chunks[c];
        if (interrupt_signal() != 0) return READ_END;  // the loader ends quietly
        if (chunk.read_errno != 0) {
            errno = chunk.read_errno;
            return -1;
        }
        const int32_t first = static_cast<int32_t>(c) * w.chunk_rows;
        const auto last = static_cast<int32_t>(std::min<int64_t>(w.records, int64_t{first} + w.chunk_rows));
        size_t again = 0;
        const char* text = chunk.keys.data();
        for (int32_t r = first; r < last; ++r) {
            if (!chunk.done || (again < chunk.again.size() && chunk.again[again] == r)) {
                ++again;
                if (fseeko(in, w.starts[r], SEEK_SET) != 0) return -1;
                const int result = read_one_record(st);
                if (result != READ_LINE) return result;
                continue;
            }
            ++st.counter;
            if (key) {
                addtext(key->values, text);
                text += strlen(text) + 1;
            }
            ++st.rows;
        }
    }
    // The stream stands after the last record, as the line-by-line reading leaves it.
    if (fseeko(in, w.starts[w.records], SEEK_SET) != 0) return -1;
    return READ_END;
}

}  // namespace

bool parallel_layout(const load_state& st) {
    const dataset& ds = st.ds;
    if (st.appended() || st.has_allele_index || ds.nrec <= 0 || !ds.in) return false;
    const layout found = find_layout(st);
    if (found.block < 0 || (found.key >= 0 && found.key != ds.keycol)) return false;
    const datacol& block = st.cols[found.block];
    const genotype_plan& plan = st.plans[static_cast<size_t>(found.block)];
    return one_token_coding(plan.coding) && block.ncol > 0 && block.items == block.ncol && block.nrec == ds.nrec &&
           block.genotypes.markers >= block.ncol &&
           static_cast<int64_t>(ds.line_starts.size()) >= first_line(ds) + ds.nrec + 1;
}

int parallel_records(load_state& st, void (*progress)(void*, int64_t), void* context) {
    const layout found = find_layout(st);
    dataset& ds = st.ds;
    const int32_t chunk_rows =
        st.options.chunk_rows > 0
            ? std::max(TILE_HEIGHT, st.options.chunk_rows / TILE_HEIGHT * TILE_HEIGHT)
            : DEFAULT_CHUNK_ROWS;
    shared_work w{st,
                  st.cols[found.block],
                  st.plans[static_cast<size_t>(found.block)],
                  found.key >= 0,
                  fileno(ds.in.get()),
                  ds.line_starts.data() + first_line(ds),
                  ds.nrec,
                  chunk_rows,
                  st.options.read_bytes > 0 ? st.options.read_bytes : DEFAULT_READ_BYTES,
                  std::vector<chunk_result>(static_cast<size_t>((int64_t{ds.nrec} + chunk_rows - 1) / chunk_rows))};
    const int32_t wanted = std::clamp<int32_t>(st.options.threads, 1, static_cast<int32_t>(w.chunks.size()));
    std::vector<std::thread> helpers;
    int32_t workers = wanted;
    for (int32_t t = 1; t < wanted; ++t) {
        try {
            helpers.emplace_back([&w, t, wanted] { work(w, t, wanted, nullptr, nullptr); });
        } catch (const std::system_error&) {
            workers = t;  // fewer workers: the chunks are shared among those there are
            break;
        }
    }
    work(w, 0, workers, progress, context);
    for (std::thread& helper : helpers) helper.join();
    return walk_records(w);
}

}  // namespace tavo
