// The data file loader: reads the data file of one data set, line by line,
// into its data sheet, or merges it by key into the sheet it is appended to.
#include "loader/loader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "sheets/datasheet.h"
#include "loader/loader_internal.h"
#include "sheets/readbuff.h"
#include "text/interrupt.h"
#include "text/lines.h"

namespace tavo {
namespace {

// Marks a data set as loading while its load (and the loads it needs first)
// runs: a link back to it cannot be loaded first.
struct loading_mark {
    dataset& ds;
    explicit loading_mark(dataset& d) : ds(d) { ds.loading = true; }
    ~loading_mark() { ds.loading = false; }
    loading_mark(const loading_mark&) = delete;
    loading_mark& operator=(const loading_mark&) = delete;
};

// Every own column in the sheet; an appended data set also needs a key on
// both sides to merge by.
bool sheet_ready(const dataset& ds) {
    if (ds.link_target && (ds.keycol < 0 || ds.link_target->keycol < 0)) return false;
    return ds.nown > 0 && fields(ds).size() >= static_cast<size_t>(ds.nown);
}

// A data set the load of `loading` depends on must itself have loaded cleanly.
bool usable(dataset& needed, const dataset& loading, FILE* log, const load_options& options) {
    if (needed.loading) {
        printf("! Data #%d cannot be loaded before data #%d: their links form a circle\n", needed.number,
               loading.number);
        return false;
    }
    if (!needed.loaded) load_dataset(needed, log, options);
    return needed.loaded && needed.status == setup_status::ok;
}

// Loads first the data sets that the columns refer to (and an appended data
// set's target, whose key index the merge searches). All are tried, so that
// each reports its own problems.
bool load_needed(dataset& ds, FILE* log, const load_options& options) {
    bool ready = true;
    if (ds.link_target && !usable(*ds.link_target, ds, log, options)) ready = false;
    for (const datacol& col : fields(ds).first(static_cast<size_t>(ds.nown))) {
        if (col.link && col.link != &ds && !usable(*col.link, ds, log, options)) ready = false;
    }
    return ready;
}

void announce(const dataset& ds, FILE* log) {
    printf("Loading data #%d [key=%s, name=%s] from %s\n", ds.number, ds.key.c_str(), ds.name.c_str(),
           ds.file.c_str());
    if (log)
        fprintf(log, "Loading data %d on %s (%s) from %s\n", ds.number, ds.key.c_str(), ds.name.c_str(),
                ds.file.c_str());
}

// The allele index of a multiallelic block, the key index of a data set read
// on its own, or the reset match counts of the target of an appended one.
bool prepare_indexes(load_state& st) {
    dataset& ds = st.ds;
    const int multiallelic = static_cast<int>(std::count_if(
        st.cols.begin(), st.cols.end(), [](const datacol& c) { return c.type == field_type::allele_block; }));
    if (multiallelic > 1) {
        printf("ERROR there are multiple genotype-blocks with multiallelic format; tavo cannot handle this right now\n");
        printf("It would work though if you supply the multiple genotype blocks in different files\n");
        return false;
    }
    if (multiallelic == 1) {
        init_copying_index(st.allele_index);
        st.has_allele_index = true;
    }
    if (!st.appended()) {
        if (ds.keycol >= 0) init_index(ds.keys, ds.nrec, ds.nrec / 10);
        return true;
    }
    dataset& target = *ds.link_target;
    std::vector<int32_t>& matches = fields(target)[target.keycol].links;
    std::fill(matches.begin(), matches.end(), 0);
    printf("  > This data is appended to (and only retains records that match with) data set %d (%s).\n",
           target.number, target.name.c_str());
    if (st.log)
        fprintf(st.log, "  > This data is appended to (and only retains records that match with) data set %d (%s).\n",
                target.number, target.name.c_str());
    return true;
}

void pass_leading_lines(dataset& ds) {
    if (ds.header) drop_line(ds.in.get());
    for (int32_t i = 0; i < ds.nskip; ++i) drop_line(ds.in.get());
}

// Row of an appended data set's line: the target record its key matches, or
// -1 (line dropped) when the key is unknown or already matched by an earlier
// line; such a repeat only raises the record's match count.
int32_t matched_row(load_state& st) {
    dataset& target = *st.ds.link_target;
    datacol& key = st.cols[st.ds.keycol];
    std::vector<int32_t>& matches = fields(target)[target.keycol].links;
    const int32_t t = lookup_index(target.keys, key.tokens.data());
    if (t < 0 || t >= static_cast<int32_t>(matches.size())) return -1;
    if (matches[static_cast<size_t>(t)]++ > 0) return -1;
    if (st.rows < static_cast<int32_t>(key.links.size())) key.links[static_cast<size_t>(st.rows)] = t;
    ++st.rows;
    ++st.matched;
    return t;
}

// Row of the current line, or -1 when nothing of it is stored. Lines beyond
// the counted records are not stored (the count check refuses the load).
int32_t choose_row(load_state& st) {
    if (st.appended()) return matched_row(st);
    if (st.rows >= st.ds.nrec) return -1;
    if (st.ds.keycol >= 0) {
        datacol& key = st.cols[st.ds.keycol];
        addtext(key.values, key.tokens.data());
    }
    return st.rows++;
}

// The percent of a large data file read so far, shown in place at most four
// times a second when standard output is a terminal; elsewhere nothing is
// shown, so a console captured to a file keeps its bytes.
struct load_progress {
    static constexpr long LARGE = 8L << 20;  // smaller files load too fast to be worth it
    FILE* in = nullptr;
    long bytes = 0;
    std::string shown;  // the text on the console line, to be wiped at the end
    std::chrono::steady_clock::time_point next{};
};

load_progress start_load_progress(FILE* in) {
    load_progress p;
    const int64_t size = regular_file_bytes(in);
    if (::isatty(::fileno(stdout)) != 1 || size < load_progress::LARGE) return p;
    p.in = in;
    p.bytes = static_cast<long>(size);
    p.next = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    return p;
}

// Shows the progress at byte `at` of the file (-1: the stream's position).
void show_load_progress(load_progress& p, const std::string& file, long at = -1) {
    if (!p.in) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < p.next) return;
    p.next = now + std::chrono::milliseconds(250);
    if (at < 0) at = std::ftell(p.in);
    if (at < 0) return;
    const int percent = static_cast<int>(std::min(100.0, 100.0 * static_cast<double>(at) / p.bytes));
    p.shown = "  " + file + ": " + std::to_string(percent) + "% read";
    std::printf("\r%s", p.shown.c_str());
    std::fflush(stdout);
}

void end_load_progress(const load_progress& p) {
    if (p.shown.empty()) return;
    std::printf("\r%s\r", std::string(p.shown.size(), ' ').c_str());
    std::fflush(stdout);
}

// A signal that asks the run to end is looked at every 1024 lines (a
// look costs next to nothing, but a line may cost less).
constexpr int32_t LINES_PER_INTERRUPT_LOOK = 1024;

struct progress_context {
    load_progress& progress;
    const std::string& file;
};

void show_parallel_progress(void* context, int64_t at) {
    auto* shown = static_cast<progress_context*>(context);
    show_load_progress(shown->progress, shown->file, static_cast<long>(at));
}

// The readbuff result that ended the reading; -1 after a read error.
int read_records(load_state& st) {
    FILE* in = st.ds.in.get();
    if (!in) return READ_END;
    load_progress progress = start_load_progress(in);
    int result = READ_LINE;
    if (parallel_layout(st)) {
        progress_context context{progress, st.ds.file};
        result = parallel_records(st, show_parallel_progress, &context);
    } else {
        while ((result = read_one_record(st)) == READ_LINE) {
            show_load_progress(progress, st.ds.file);
            if (st.counter % LINES_PER_INTERRUPT_LOOK == 0 && interrupt_signal() != 0) break;
        }
    }
    end_load_progress(progress);
    flush_genotypes(st);
    return result;
}

void report_reading_failure(const load_state& st, int result) {
    const int record = st.counter + 1;
    printf("! Problem reading file:");
    if (result == READ_EMPTY) {
        printf(" empty line found at input record %d\n", record);
    } else if (result == READ_INCOMPLETE) {
        printf(" incomplete line found at input record %d\n", record);
        printf("  Reading %d fields:", st.ncols);
        for (int32_t i = 0; i < st.ncols; ++i) printf(" %s", st.cols[i].name.c_str());
        printf("\n");
        printf("  Problem occurred at field:");
        for (int32_t i = 0; i < st.ncols; ++i)
            if (st.cols[i].status == FIELD_INCOMPLETE) printf(" %s", st.cols[i].name.c_str());
        printf("\n");
    } else if (result == READ_PASSED) {
        printf(" already passed position for fixed position reading at input record %d\n", record);
    }
}

int fail_after_reading(dataset& ds, int problems) {
    ds.loaded = true;
    ds.status = setup_status::load_failed;
    return problems;
}

int finish_own(load_state& st) {
    dataset& ds = st.ds;
    if (st.counter != ds.nrec) {
        printf("! Problem loading data, %d records read, %d lines in file on previous count\n", st.counter, ds.nrec);
        return fail_after_reading(ds, 1);
    }
    if (!ds.appended_by) {
        printf("  > Data loading OK, %d records read\n", st.counter);
        printsheet(ds, st.log);
    } else {
        printf(" > Data loading OK, %d records read [More data on %s to be merged ...]\n", st.counter,
               ds.key.c_str());
    }
    return 0;
}

void finish_appended(load_state& st) {
    dataset& ds = st.ds;
    dataset& target = *ds.link_target;
    st.cols[ds.keycol].skip = true;
    target.nshown += ds.nfields;
    if (target.appended_by == &ds) {
        printf("  > Data loading OK, %d records read, %d matched, %d records set missing [Merging data on %s done]\n",
               st.counter, st.matched, st.set_missing, ds.key.c_str());
        printsheet(target, st.log);
    } else {
        printf("  > Data loading OK, %d records read, %d matched, %d records set missing [More data on %s to be "
               "merged ...]\n",
               st.counter, st.matched, st.set_missing, ds.key.c_str());
    }
}

int finish(load_state& st) {
    dataset& ds = st.ds;
    if (st.level_problems > 0) return fail_after_reading(ds, st.level_problems);
    if (ds.allele_field > 0 && ds.allele_field < ds.nfields) fields(ds)[ds.allele_field].skip = false;
    if (!st.appended()) {
        if (finish_own(st) != 0) return 1;
    } else {
        finish_appended(st);
    }
    ds.loaded = true;
    return 0;
}

// Reads the file and completes the sheet; the data sets it needs are loaded.
int load_file(dataset& ds, FILE* log, const load_options& options) {
    announce(ds, log);
    if (set_block_sizes(ds) != 0) {
        printf("ERROR allocating memory for reading\n");
        return 1;
    }
    load_state st(ds, log, options);
    st.cols = fields(ds).first(static_cast<size_t>(ds.nown));
    st.ncols = ds.nown;
    if (!prepare_indexes(st)) return 1;
    plan_genotypes(st);
    pass_leading_lines(ds);
    errno = 0;
    const int result = read_records(st);
    // An interrupted load ends quietly (a read waiting on a pipe ends with
    // an error then); the run tells why it ended.
    if (interrupt_signal() != 0) return 1;
    if (result < 0 || (ds.in && ferror(ds.in.get()))) {  // a read error (a folder) is no end of the data
        printf("! File %s cannot be read: %s\n", ds.file.c_str(), strerror(errno != 0 ? errno : EIO));
        return 1;
    }
    if (result != READ_END || st.reading_problems > 0) {
        report_reading_failure(st, result);
        return 1;
    }
    if (st.rows == 0) {
        printf("! Problem reading file:");
        printf(" file is empty or no matches found.\n");
        return 1;
    }
    if (st.appended()) complete_merge(st);
    if (st.level_problems > 0) return fail_after_reading(ds, st.level_problems);
    if (post_process(st) != 0) return 1;
    return finish(st);
}

}  // namespace

int read_one_record(load_state& st) {
    const int result = readbuff(st.ds.in.get(), st.cols.data(), st.ncols);
    if (result != READ_LINE) return result;
    ++st.counter;
    const int32_t row = choose_row(st);
    if (row >= 0)
        for (int32_t i = 0; i < st.ncols; ++i)
            if (!st.cols[i].skip) store_column(st, i, row);
    return result;
}

int load_dataset(dataset& ds, FILE* log, const load_options& options) {
    if (ds.loaded || ds.status != setup_status::ok) return 0;
    if (interrupt_signal() != 0) return 1;
    if (!sheet_ready(ds)) return 1;
    const loading_mark mark(ds);
    if (!load_needed(ds, log, options)) return 1;
    return load_file(ds, log, options);
}

}  // namespace tavo
