// relief_forge_bench: the reference stages and the product's, one after the
// other on the same generated contour raster, checked equal stage by stage
// and timed against a streaming floor measured in the same run.
//
//   relief_forge_bench SIZE [--mesh N] [--reference | --no-reference] [--seed S]
//   relief_forge_bench SIZE --smoothing [--reference | --no-reference] [--seed S]
//
// The first form runs the stages of a run (scaling, dilation, gap filling,
// copy, smoothing, scaling back, range scan) and times every dilation pass;
// the second times the smoothing alone for mesh sizes 3, 5, 9 and 17.
#include "bench_grids.h"
#include "console_clock.h"
#include "differential_smoothing/plain_stages.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// Sizes up to this run the reference unless told otherwise: beyond it the
// reference dilation takes many minutes.
constexpr int kReference_max_size = 2048;
constexpr int kReference_max_size_smoothing = 1024;
// Passes after this one form the tail of the dilation.
constexpr int kTail_after = 10;
constexpr int kEquidistance = 10;

struct Options {
    int size = 0;
    int mesh = 5;
    int reference = -1; // 1 run it, 0 skip it, -1 by size
    bool smoothing_only = false;
    unsigned long seed = 5;
};

const char* const kUsage =
    "usage: relief_forge_bench SIZE [--mesh N (5)] [--reference | --no-reference] [--seed S (5)]\n"
    "       relief_forge_bench SIZE --smoothing [--reference | --no-reference] [--seed S (5)]\n"
    "SIZE is the side of the generated contour raster (for instance 1024, 2048, 4096).\n";

bool parse_int(const char* text, long long lo, long long hi, long long& out)
{
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, out);
    return r.ec == std::errc() && r.ptr == end && out >= lo && out <= hi;
}

bool parse_args(int argc, char** argv, Options& o)
{
    long long v = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reference" || a == "--no-reference") {
            o.reference = a == "--reference";
        } else if (a == "--smoothing") {
            o.smoothing_only = true;
        } else if (a == "--mesh" && i + 1 < argc && parse_int(argv[i + 1], -1000, 33, v)) {
            o.mesh = static_cast<int>(v);
            ++i;
        } else if (a == "--seed" && i + 1 < argc && parse_int(argv[i + 1], 0, 1LL << 62, v)) {
            o.seed = static_cast<unsigned long>(v);
            ++i;
        } else if (o.size == 0 && parse_int(argv[i], 40, 65536, v)) {
            o.size = static_cast<int>(v);
        } else {
            return false;
        }
    }
    if (o.reference < 0)
        o.reference =
            o.size <= (o.smoothing_only ? kReference_max_size_smoothing : kReference_max_size);
    return o.size > 0 && o.mesh < o.size;
}

// What one stage said on the console and how long it took.
struct Timed {
    double seconds = 0;
    std::string console;
    // The passes of a dilation: how long each took and the pixels it inserted.
    struct Pass {
        double seconds;
        long long inserted;
    };
    std::vector<Pass> passes;
};

// The passes of a dilation loop, from the lines that open them ("Iterative
// process number") and the counts that close all but the last.
std::vector<Timed::Pass> passes_of(const Console_clock& clock, double end)
{
    const std::string& text = clock.text();
    const std::string open = "\n\n\tIterative process number ";
    const std::string count = "\n\tnumber of modified pixels = ";
    std::vector<Timed::Pass> passes;
    for (std::size_t at = text.find(open); at != std::string::npos;) {
        const std::size_t next = text.find(open, at + open.size());
        const std::size_t close = text.find(count, at);
        Timed::Pass p{0, 0};
        if (close != std::string::npos && (next == std::string::npos || close < next)) {
            p.seconds = clock.time_at(close) - clock.time_at(at);
            p.inserted = std::atoll(text.c_str() + close + count.size());
        } else {
            p.seconds = end - clock.time_at(at);
        }
        passes.push_back(p);
        at = next;
    }
    return passes;
}

Timed timed(const std::function<void()>& stage)
{
    Console_clock clock;
    const double start = now_seconds();
    stage();
    const double end = now_seconds();
    return {end - start, clock.text(), passes_of(clock, end)};
}

// The streaming floor: one copy of the three int grids, the best of three.
double streaming_floor(const Program_state& from, Program_state& to)
{
    double best = 1e30;
    for (int k = 0; k < 3; ++k) {
        const double start = now_seconds();
        copy_grids(from, to);
        best = std::min(best, now_seconds() - start);
    }
    return best;
}

struct Stage_row {
    std::string name;
    double ref = -1; // seconds, or -1 when the reference did not run
    double fast = 0;
    std::string check; // "equal", "not checked" or the difference found
};

// Compares what both engines left: the named grids and the console text.
std::string compare(const Program_state& ref, const Program_state& fast,
                    const std::vector<int* * Program_state::*>& grids, const Timed& r,
                    const Timed& f)
{
    for (int** Program_state::*g : grids) {
        const std::string d = grid_difference(ref.*g, fast.*g, ref.nb_lig, ref.nb_col);
        if (!d.empty()) return "DIFFERENT at " + d;
    }
    if (r.console != f.console) return "DIFFERENT console output";
    return "equal";
}

void print_stage_table(const std::vector<Stage_row>& rows, double floor)
{
    std::printf("\n%-14s %12s %12s %9s %14s %14s  %s\n", "stage", "reference s", "product s",
                "speedup", "ref / floor", "product / floor", "check");
    for (const Stage_row& r : rows) {
        if (r.ref >= 0)
            std::printf("%-14s %12.4f %12.4f %8.1fx %14.1f %14.2f  %s\n", r.name.c_str(), r.ref,
                        r.fast, r.ref / r.fast, r.ref / floor, r.fast / floor, r.check.c_str());
        else
            std::printf("%-14s %12s %12.4f %9s %14s %14.2f  %s\n", r.name.c_str(), "-", r.fast, "-",
                        "-", r.fast / floor, r.check.c_str());
    }
}

void print_passes(const Timed& ref, const Timed& fast, bool with_ref)
{
    std::printf("\ndilation passes (time of each pass against the pixels it inserted)\n");
    std::printf("%6s %12s %14s %14s\n", "pass", "inserted", "reference s", "product s");
    double tail_ref = 0, tail_fast = 0;
    for (std::size_t k = 0; k < fast.passes.size(); ++k) {
        const Timed::Pass& f = fast.passes[k];
        if (with_ref && k < ref.passes.size())
            std::printf("%6zu %12lld %14.4f %14.5f\n", k + 1, f.inserted, ref.passes[k].seconds,
                        f.seconds);
        else
            std::printf("%6zu %12lld %14s %14.5f\n", k + 1, f.inserted, "-", f.seconds);
        if (static_cast<int>(k) >= kTail_after) {
            tail_fast += f.seconds;
            if (with_ref && k < ref.passes.size()) tail_ref += ref.passes[k].seconds;
        }
    }
    if (fast.passes.empty()) return;
    std::printf("passes after the %dth, together: product %.5f s against %.5f s for the first "
                "pass (%s)\n",
                kTail_after, tail_fast, fast.passes[0].seconds,
                tail_fast < fast.passes[0].seconds ? "less" : "NOT less");
    if (with_ref && !ref.passes.empty())
        std::printf("                                 reference %.4f s against %.4f s\n", tail_ref,
                    ref.passes[0].seconds);
}

void announce(const char* what) { std::fprintf(stderr, "  %s ...\n", what); }

// The stages of a run, on both engines, stage after stage.
int run_stages(const Options& o, const std::string& raw)
{
    Bench_state ref(o.size, o.size), fast(o.size, o.size);
    load_contours(ref.s, raw);
    const double floor = streaming_floor(ref.s, fast.s);
    const bool with_ref = o.reference == 1;

    std::vector<Stage_row> rows;
    Timed dil_ref, dil_fast;
    const auto stage = [&](const char* name, const std::function<void(Program_state&)>& ref_fn,
                           const std::function<void(Program_state&)>& fast_fn,
                           const std::vector<int* * Program_state::*>& grids) {
        Stage_row row{name, -1, 0, "not checked"};
        Timed r;
        if (with_ref) {
            announce((std::string("reference ") + name).c_str());
            r = timed([&] { ref_fn(ref.s); });
            row.ref = r.seconds;
        }
        announce((std::string("product ") + name).c_str());
        const Timed f = timed([&] { fast_fn(fast.s); });
        row.fast = f.seconds;
        if (with_ref) row.check = compare(ref.s, fast.s, grids, r, f);
        rows.push_back(row);
        return std::pair{r, f};
    };
    const auto itab = &Program_state::itab;
    const auto itab1 = &Program_state::itab1;
    const auto itab2 = &Program_state::itab2;

    stage(
        "scaling", [&](Program_state& s) { plain::scale_to_scaled(s, kEquidistance); },
        [&](Program_state& s) { scale_to_scaled(s, kEquidistance); }, {itab});
    std::tie(dil_ref, dil_fast) = stage("dilation", reference::dilation, dilation, {itab});
    stage("gap filling", reference::gap_filling, gap_filling, {itab});
    stage("copy", plain::copy_surface, copy_surface, {itab, itab1, itab2});
    if (o.mesh > 1)
        stage(
            "smoothing", [&](Program_state& s) { reference::smoothing(s, o.mesh); },
            [&](Program_state& s) { smoothing(s, o.mesh); }, {itab1});
    stage(
        "scaling back", [&](Program_state& s) { plain::scale_back(s, kEquidistance); },
        [&](Program_state& s) { scale_back(s, kEquidistance); }, {itab1});
    int ref_range[2] = {1000000, 0}, fast_range[2] = {1000000, 0};
    stage(
        "range scan",
        [&](Program_state& s) {
            plain::Min_max(&ref_range[0], &ref_range[1], s.itab1, s.nb_col, s.nb_lig);
        },
        [&](Program_state& s) {
            Min_max(&fast_range[0], &fast_range[1], s.itab1, s.nb_col, s.nb_lig);
        },
        {});
    if (with_ref && (ref_range[0] != fast_range[0] || ref_range[1] != fast_range[1]))
        rows.back().check = "DIFFERENT range";

    Stage_row total{"whole run", with_ref ? 0.0 : -1.0, 0, "equal"};
    for (const Stage_row& r : rows) {
        if (with_ref) total.ref += r.ref;
        total.fast += r.fast;
        if (r.check != "equal") total.check = r.check == "not checked" ? r.check : "DIFFERENT";
    }
    rows.push_back(total);

    std::printf("\nstreaming floor (one copy of the three int grids, one thread): %.4f s\n", floor);
    if (!with_ref)
        std::printf("reference skipped at this size (above %d a side it takes many minutes; "
                    "--reference runs it)\n",
                    kReference_max_size);
    print_stage_table(rows, floor);
    print_passes(dil_ref, dil_fast, with_ref);
    std::printf("\nrange: min %d, max %d\n", fast_range[0], fast_range[1]);
    return total.check.rfind("DIFFERENT", 0) == 0 ? 2 : 0;
}

// The smoothing alone, for several mesh sizes, on the surface of a run.
int run_smoothing(const Options& o, const std::string& raw)
{
    Bench_state fast(o.size, o.size);
    load_contours(fast.s, raw);
    announce("product scaling, dilation, gap filling");
    timed([&] {
        scale_to_scaled(fast.s, kEquidistance);
        dilation(fast.s);
        gap_filling(fast.s);
    });
    const bool with_ref = o.reference == 1;
    std::unique_ptr<Bench_state> ref;
    if (with_ref) ref = std::make_unique<Bench_state>(o.size, o.size);

    std::printf("\nsmoothing alone on the filled surface\n");
    std::printf("%4s %12s %14s %18s %12s %14s  %s\n", "n", "product s", "ns per pixel",
                "ns per window line", "reference s", "speedup", "check");
    double first = 0;
    int first_n = 0;
    for (int n : {3, 5, 9, 17}) {
        copy_surface(fast.s);
        char what[64];
        std::snprintf(what, sizeof what, "product smoothing n = %d", n);
        announce(what);
        const Timed f = timed([&] { smoothing(fast.s, n); });
        const double pixels = static_cast<double>(o.size) * o.size;
        if (first == 0) {
            first = f.seconds;
            first_n = n;
        }
        std::string check = "not checked";
        double ref_seconds = -1;
        if (with_ref) {
            copy_grids(fast.s, ref->s);
            copy_surface(ref->s);
            std::snprintf(what, sizeof what, "reference smoothing n = %d", n);
            announce(what);
            const Timed r = timed([&] { reference::smoothing(ref->s, n); });
            ref_seconds = r.seconds;
            check = compare(ref->s, fast.s, {&Program_state::itab1}, r, f);
        }
        std::printf("%4d %12.4f %14.1f %18.2f", n, f.seconds, f.seconds / pixels * 1e9,
                    f.seconds / pixels / (n + 1) * 1e9);
        if (with_ref)
            std::printf(" %12.3f %13.1fx  %s\n", ref_seconds, ref_seconds / f.seconds,
                        check.c_str());
        else
            std::printf(" %12s %14s  %s\n", "-", "-", check.c_str());
        std::printf("     time / time at n = %d: %.2f (window lines: %.2f, window pixels: %.2f)\n",
                    first_n, f.seconds / first, (n + 1.0) / (first_n + 1.0),
                    (n + 1.0) * (n + 1.0) / ((first_n + 1.0) * (first_n + 1.0)));
    }
    if (!with_ref)
        std::printf("reference skipped at this size (above %d a side; --reference runs it)\n",
                    kReference_max_size_smoothing);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse_args(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / "relief_forge_bench_XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("relief_forge_bench: temporary folder");
        return 1;
    }
    int status = 1;
    try {
        std::fprintf(stderr, "relief_forge_bench: generating a %d x %d contour raster\n", o.size,
                     o.size);
        const std::string raw = generate_contours(dir, o.size, kEquidistance, o.seed);
        const std::string mesh =
            o.smoothing_only ? "mesh sizes 3, 5, 9, 17" : "mesh size " + std::to_string(o.mesh);
        std::printf("relief_forge_bench: %d x %d pixels, contour_gen seed %lu, equidistance %d, "
                    "%s, %u cores\n",
                    o.size, o.size, o.seed, kEquidistance, mesh.c_str(),
                    std::thread::hardware_concurrency());
        status = o.smoothing_only ? run_smoothing(o, raw) : run_stages(o, raw);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "relief_forge_bench: %s\n", e.what());
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return status;
}
