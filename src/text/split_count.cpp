// The line count of a large regular file on several threads: each reads a
// byte range of its own and notes its LF positions; the ranges are then
// joined in file order into what the single reader of count_lines finds.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "text/interrupt.h"
#include "text/lines.h"

namespace tavo {

namespace {

// Reads of 1 MiB, kept on the same 1 MiB grid (from the stream's position)
// as the single reader's, whose list of line starts is checked at each step.
constexpr int64_t CHUNK_BYTES = int64_t{1} << 20;

// Why a range was left before its end; anything but `done` rules its counts out.
enum class range_end : uint8_t { done, carriage_return, short_read, no_memory, read_error, interrupted };

// One byte range [from, to) of the file (offsets from the stream's position)
// and what was found in it.
struct count_range {
    int64_t from = 0;
    int64_t to = 0;
    int64_t lfs = 0;
    std::vector<int64_t> starts;  // the offset after each LF, while kept
    bool keep = false;            // starts still wanted
    char last = '\0';             // the range's last byte
    range_end end = range_end::done;
    int error = 0;  // errno of a failed read
};

struct count_job {
    int fd = -1;
    int64_t base = 0;   // file offset of the stream's position
    int64_t total = 0;  // bytes from there to the end of the file
    bool look_for_cr = false;
    std::atomic<bool> stop{false};  // a range has ruled the counts out: the others need not go on
};

// Ends a range early; the other ranges stop at their next read.
void leave(count_job& job, count_range& r, range_end why) {
    r.end = why;
    job.stop.store(true, std::memory_order_relaxed);
}

// Notes the LFs of one chunk read at offset `at`.
void take_chunk(count_range& r, const char* begin, const char* end, int64_t at) {
    if (!r.keep) {
        r.lfs += std::count(begin, end, '\n');
        return;
    }
    for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
        ++r.lfs;
        r.starts.push_back(at + (p - begin) + 1);
    }
}

// The thread body for one range; never throws.
void count_range_lfs(count_job& job, count_range& r) noexcept {
    try {
        const auto chunk = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(CHUNK_BYTES));
        for (int64_t at = r.from; at < r.to;) {
            if (job.stop.load(std::memory_order_relaxed)) return;
            const int64_t step_end = std::min(r.to, (at / CHUNK_BYTES + 1) * CHUNK_BYTES);
            const ssize_t got = pread(job.fd, chunk.get(), static_cast<size_t>(step_end - at), job.base + at);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                r.error = errno;
                return leave(job, r, range_end::read_error);
            }
            if (got == 0) return leave(job, r, range_end::short_read);  // the file shrank meanwhile
            if (interrupt_signal() != 0) return leave(job, r, range_end::interrupted);
            const char* begin = chunk.get();
            const char* end = begin + got;
            if (job.look_for_cr && std::memchr(begin, '\r', static_cast<size_t>(got)))
                return leave(job, r, range_end::carriage_return);
            take_chunk(r, begin, end, at);
            r.last = end[-1];
            at += got;
            // This range's lines alone make sure the joined list is given up
            // at this step, whatever the ranges before it hold.
            if (r.keep && (at % CHUNK_BYTES == 0 || at == job.total) && lines_prove_short(r.lfs + 1, at)) {
                r.keep = false;
                std::vector<int64_t>().swap(r.starts);
            }
        }
    } catch (const std::bad_alloc&) {
        leave(job, r, range_end::no_memory);
    }
}

// Runs every range, range 0 on the calling thread; ranges whose thread
// cannot be started are run here too.
void run_ranges(count_job& job, std::vector<count_range>& ranges) {
    std::vector<std::thread> team;
    size_t started = 1;
    try {
        team.reserve(ranges.size() - 1);
        for (; started < ranges.size(); ++started)
            team.emplace_back(count_range_lfs, std::ref(job), std::ref(ranges[started]));
    } catch (const std::exception&) {
    }
    count_range_lfs(job, ranges[0]);
    for (size_t k = started; k < ranges.size(); ++k) count_range_lfs(job, ranges[k]);
    for (std::thread& t : team) t.join();
}

// The joined list of starts, or an empty one where the single reader would
// have given it up at one of its steps.
void join_starts(const std::vector<count_range>& ranges, int64_t total, std::vector<int64_t>& starts) {
    starts.push_back(0);
    for (const count_range& r : ranges) starts.insert(starts.end(), r.starts.begin(), r.starts.end());
    size_t held = 1;  // starts at or before the step's end
    for (int64_t read = std::min(CHUNK_BYTES, total);; read = std::min(read + CHUNK_BYTES, total)) {
        while (held < starts.size() && starts[held] <= read) ++held;
        if (lines_prove_short(static_cast<int64_t>(held), read)) {
            starts.clear();
            starts.shrink_to_fit();
            return;
        }
        if (read == total) return;
    }
}

}  // namespace

int64_t count_lines_split(FILE* in, line_ends ends, std::vector<int64_t>* starts, int parts) {
    const int64_t bytes = regular_file_bytes(in);
    const int64_t base = bytes < 0 ? -1 : ftello(in);
    if (base < 0 || bytes <= base || parts < 2) return count_lines(in, ends, starts);
    count_job job;
    job.fd = fileno(in);
    job.base = base;
    job.total = bytes - base;
    job.look_for_cr = ends == line_ends::any;
    const int64_t n = std::min<int64_t>(parts, job.total);
    std::vector<count_range> ranges(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        count_range& r = ranges[static_cast<size_t>(k)];
        r.from = job.total * k / n;
        r.to = job.total * (k + 1) / n;
        r.keep = starts != nullptr;
    }
    if (starts) starts->clear();
    run_ranges(job, ranges);

    const auto ended = [&](range_end why) {
        return std::any_of(ranges.begin(), ranges.end(), [why](const count_range& r) { return r.end == why; });
    };
    if (ended(range_end::interrupted)) return -1;  // the run is asked to end
    for (const count_range& r : ranges) {
        if (r.end != range_end::read_error) continue;
        errno = r.error;  // a count of part of the file is no count
        return -1;
    }
    if (std::any_of(ranges.begin(), ranges.end(), [](const count_range& r) { return r.end != range_end::done; })) {
        // A CR, a file that changed size, or no memory for a range: the
        // single reader counts the file again from the same place.
        if (fseeko(in, base, SEEK_SET) != 0) return -1;
        return count_lines(in, ends, starts);
    }
    int64_t lines = 0;
    bool keep = starts != nullptr;
    for (const count_range& r : ranges) {
        lines += r.lfs;
        keep = keep && r.keep;
    }
    if (keep) join_starts(ranges, job.total, *starts);
    // Text after the last LF; by the LF rule a final CR is such text.
    if (ranges.back().last != '\n') {
        ++lines;
        if (keep && !starts->empty()) starts->push_back(job.total);
    }
    if (fseeko(in, base + job.total, SEEK_SET) != 0) return -1;  // at the end, as the single reader leaves it
    return lines;
}

}  // namespace tavo
