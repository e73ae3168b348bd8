// Preparation pass of the data set set-up: files, appending, header lines,
// sheet layout, key fields and record counts, then the report of problems.
#include "setup/setup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>

#include "text/interrupt.h"
#include "text/keywords.h"
#include "text/lines.h"
#include "setup/setup_parts.h"

namespace tavo {
namespace setup_detail {

bool named(const dataset& ds, std::string_view role) { return equal_ignoring_case(ds.name, role); }

bool has_no_key(const dataset& ds) { return ds.key.empty() || ds.key == "[nokey]"; }

int64_t count_lines(FILE* in, std::vector<int64_t>* starts, int32_t threads) {
    errno = 0;
    const int64_t lines = tavo::count_lines(in, line_ends::any, starts, threads);
    const int reason = errno;
    rewind(in);
    errno = reason;
    return lines;
}

std::vector<std::string> read_header_words(FILE* in, int& read_errno) {
    std::vector<std::string> words;
    std::string line;
    errno = 0;
    read_line(in, line, line_ends::any);
    read_errno = ferror(in) ? (errno != 0 ? errno : EIO) : 0;
    std::string_view rest = line;
    for (std::string_view word = take_word(rest); !word.empty(); word = take_word(rest)) words.emplace_back(word);
    rewind(in);
    return words;
}

bool insert_columns(dataset& owner, size_t at, size_t count) {
    std::vector<datacol>& sheet = owner.own_fields;
    bool ready = true;
    try {
        if (sheet.size() < at) sheet.resize(at);  // an array given up earlier
        std::vector<datacol> fresh(count);  // columns own their storage: moved in, not copied
        sheet.insert(sheet.begin() + static_cast<std::ptrdiff_t>(at), std::make_move_iterator(fresh.begin()),
                     std::make_move_iterator(fresh.end()));
        for (size_t i = at; i < at + count; ++i)
            if (init_datacol(sheet[i]) != 0) ready = false;
    } catch (const std::bad_alloc&) {
        ready = false;
    } catch (const std::length_error&) {
        ready = false;
    }
    if (!ready) std::vector<datacol>().swap(sheet);
    return ready;
}

}  // namespace setup_detail

namespace {

using namespace setup_detail;

// What the preparation of each data set needs to know about the whole job.
struct setup_context {
    const job& j;
    dataset* block;
    dataset* filter;
    const std::string& job_folder;
    std::vector<found_elsewhere>* found;
    int32_t threads;  // of the line count
};

bool open_path(dataset& ds, const std::string& path) {
    if (path.size() > MAX_FILE_PATH) return false;
    ds.in.reset(fopen(path.c_str(), "rb"));
    return ds.in != nullptr;
}

// A relative name that does not open from the current folder is tried from
// the job file's folder, where a job started from elsewhere keeps its data.
bool open_data_file(dataset& ds, const setup_context& ctx) {
    const std::string path = ctx.j.data_path + ds.file;
    ds.in.reset();
    if (open_path(ds, path)) return true;
    if (ctx.job_folder.empty() || path.starts_with('/')) return false;
    const std::string beside_job = ctx.job_folder + path;
    if (!open_path(ds, beside_job)) return false;
    if (ctx.found) ctx.found->push_back({path, beside_job});
    return true;
}

void append_to(dataset& ds, dataset& target) {
    ds.link_target = &target;
    target.appended_by = &ds;
}

// With a block data set only the block data set is appended, to the filter,
// and only when the keys are equal (case counting); two data sets without a
// key have nothing to be joined on. Without a block data set a keyed data set
// is appended to the first earlier one with the same key (case ignored).
// Returns false when the data set got status 10.
bool decide_appending(dataset& ds, const setup_context& ctx) {
    if (ctx.block) {
        if (&ds != ctx.block || !ctx.filter) return true;
        const dataset& filter = *ctx.filter;
        if (ds.key != filter.key || (has_no_key(ds) && has_no_key(filter))) {
            ds.status = setup_status::keys_differ;
            return false;
        }
        append_to(ds, *ctx.filter);
        return true;
    }
    if (named(ds, "ped") || equal_ignoring_case(ds.key, "[nokey]") || &ds == ctx.j.first) return true;
    for (dataset* e = ctx.j.first; e && e != &ds; e = e->next) {
        if (!named(*e, "ped") && equal_ignoring_case(e->key, ds.key)) {
            append_to(ds, *e);
            break;
        }
    }
    return true;
}

// False when the header line cannot be read (a folder, a read error).
bool take_header(dataset& ds) {
    const std::vector<std::string> words = read_header_words(ds.in.get(), ds.read_errno);
    if (ds.read_errno != 0) return false;
    init_charbuff(ds.fieldlist, 100, 50, 0);
    ds.field_lines.clear();  // the names now come from line 1 of the data file
    for (const std::string& word : words) addtext(ds.fieldlist, word);
    return true;
}

// The words of the field list, in order.
std::vector<std::string_view> field_words(const dataset& ds) {
    std::vector<std::string_view> words;
    int32_t cursor = 0;
    for (int32_t i = 0; i < ds.fieldlist.count; ++i) words.emplace_back(next_token(ds.fieldlist, cursor));
    return words;
}

bool is_field_option(std::string_view word) { return !word.empty() && word.front() == '!'; }

// An appended data set's columns go at the end of its link target's array;
// any other data set gets an array of its own.
bool lay_out_sheet(dataset& ds) {
    if (!ds.link_target) {
        ds.own_fields.clear();
        return insert_columns(ds, 0, static_cast<size_t>(ds.nfields));
    }
    dataset& target = *ds.link_target;
    ds.first_field = target.nfields;
    if (!insert_columns(target, static_cast<size_t>(target.nfields), static_cast<size_t>(ds.nfields)))
        return false;
    target.nfields += ds.nfields;
    return true;
}

// Line of the k-th field word in the file that declares it: the job file,
// or line 1 of the data file when its header names the fields; 0 unknown.
int32_t word_line(const dataset& ds, size_t k) {
    if (ds.header) return 1;
    return k < ds.field_lines.size() ? ds.field_lines[k] : 0;
}

// Names the columns from the field words: "!" words are options of the field
// before them, "name[...]" declares a block field, with "!size=" + the text
// between the brackets when there is any. Each column keeps the line of the
// word that declared it or, later, its size.
void name_fields(dataset& ds, const std::vector<std::string_view>& words) {
    const std::span<datacol> sheet = fields(ds);
    size_t current = 0;
    for (size_t k = 0; k < words.size(); ++k) {
        const std::string_view word = words[k];
        if (is_field_option(word)) {
            if (current == 0) continue;
            addtext(sheet[current - 1].options, word);
            if (begins_ignoring_case(word, "!size=")) sheet[current - 1].declared_line = word_line(ds, k);
            continue;
        }
        datacol& col = sheet[current++];
        col.declared_line = word_line(ds, k);
        const size_t bracket = word.find('[');
        if (bracket == std::string_view::npos) {
            col.name = word;
            continue;
        }
        col.name = word.substr(0, bracket);
        col.block = true;
        const std::string_view size = word.substr(bracket + 1);
        if (!size.empty() && size.front() == ']') continue;
        addtext(col.options, std::string("!size=").append(size.substr(0, size.find(']'))));
    }
}

bool find_key_field(dataset& ds) {
    ds.keycol = -1;
    if (ds.key == "[nokey]") return true;
    const std::span<datacol> sheet = fields(ds);
    for (int32_t i = 0; i < ds.nown; ++i) {
        if (equal_ignoring_case(sheet[i].name, ds.key)) {
            ds.keycol = i;
            sheet[i].type = ds.link_target ? field_type::appended_key : field_type::key;
            return true;
        }
    }
    return false;
}

// The declaration's skip=n; absent, unreadable or not positive counts as 0.
int32_t skip_count(const dataset& ds) {
    const int skip = dataset_int_option(ds, "skip=*");
    return skip > 0 ? skip : 0;
}

// The records of the data file: ok, empty (no line beyond the header and the
// skipped ones), or cannot_open when the file cannot be read to its end.
setup_status count_records(dataset& ds, int32_t threads) {
    ds.nskip = skip_count(ds);
    if (ds.link_target) {
        ds.nrec = ds.link_target->nrec;
        return setup_status::ok;
    }
    rewind(ds.in.get());
    // The line boundaries found here spare the loader a search for them.
    const int64_t lines = count_lines(ds.in.get(), &ds.line_starts, threads);
    if (lines < 0) {
        ds.read_errno = errno != 0 ? errno : EIO;
        return setup_status::cannot_open;
    }
    const int64_t records = lines - (ds.header ? 1 : 0) - ds.nskip;
    if (records <= 0) return setup_status::empty;
    ds.nrec = static_cast<int32_t>(std::min<int64_t>(records, std::numeric_limits<int32_t>::max()));
    return setup_status::ok;
}

// Steps after the file is open and the links are known.
void prepare_sheet(dataset& ds, int32_t threads) {
    if (ds.header && !take_header(ds)) {
        ds.status = setup_status::cannot_open;
        return;
    }
    const std::vector<std::string_view> words = field_words(ds);
    ds.nfields = static_cast<int32_t>(std::count_if(words.begin(), words.end(),
                                                    [](std::string_view w) { return !is_field_option(w); }));
    ds.nown = ds.nshown = ds.nfields;
    if (ds.nfields == 0) {
        ds.status = setup_status::no_fields;
        return;
    }
    if (!lay_out_sheet(ds)) {
        ds.status = setup_status::no_memory;
        return;
    }
    name_fields(ds, words);
    if (!find_key_field(ds)) ds.status = setup_status::key_not_found;
    else ds.status = count_records(ds, threads);
}

// One data set of the preparation pass; the first problem found is its status.
void prepare_dataset(dataset& ds, const setup_context& ctx) {
    if (ds.file.empty()) {
        ds.status = setup_status::no_file_name;
        return;
    }
    if (ctx.block && named(ds, "map")) {
        ds.file += ".anno";
        ds.header = true;
    }
    if (!open_data_file(ds, ctx)) {
        ds.status = setup_status::cannot_open;
        return;
    }
    if (named(ds, "ped") && has_no_key(ds)) {
        ds.status = setup_status::ped_without_key;
        return;
    }
    if (!decide_appending(ds, ctx)) return;
    if (ds.link_target && ds.missing != ds.link_target->missing) {
        ds.status = setup_status::missing_differs;
        return;
    }
    prepare_sheet(ds, ctx.threads);
}

// Job order, except that the filter (the only link target when a block data
// set is given) is prepared first, so that the block data set appended to it
// finds its layout and record count whatever the order of declaration.
std::vector<dataset*> preparation_order(const setup_context& ctx) {
    std::vector<dataset*> order;
    if (ctx.block && ctx.filter) order.push_back(ctx.filter);
    for (dataset* d = ctx.j.first; d; d = d->next)
        if (d != ctx.filter || !ctx.block) order.push_back(d);
    return order;
}

// Shows the message text of every data set with a problem; returns their number.
int report_preparation(job& j, const dataset* filter) {
    int failed = 0;
    for (dataset* d = j.first; d; d = d->next) {
        if (d->status == setup_status::ok) continue;
        ++failed;
        write_status_message(*d, j.data_path, filter);
        fputs(d->messages.c_str(), stdout);
    }
    return failed;
}

}  // namespace

int setup_datasets(job& j, dataset* block, dataset* filter, const std::string& job_folder,
                   std::vector<found_elsewhere>* found, int32_t threads) {
    if (filter == block) filter = nullptr;  // a data set is not joined to itself
    const setup_context ctx{j, block, filter, job_folder, found, threads};
    for (dataset* d : preparation_order(ctx)) {
        if (d->status == setup_status::ok) prepare_dataset(*d, ctx);
    }
    // A signal cut the counting short (a read waiting on a pipe then fails):
    // nothing is reported, the run tells why it ended.
    if (interrupt_signal() != 0) return 1;
    const int failed = report_preparation(j, filter);
    if (failed != 0) return failed;
    return type_datasets(j);
}

}  // namespace tavo
