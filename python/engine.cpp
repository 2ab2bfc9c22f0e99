// relief_forge._engine: the interactive program's run on a numpy array, one
// run per call. The stages run on a thread of their own with a run channel
// of their own, so that several calls run at once in one process, each
// quiet; the calling thread meanwhile holds the GIL only to pass on progress
// and to learn of Ctrl-C, which ends the run at its next safe point.
#include "base/console.h"
#include "control/control.h"
#include "nrutil.h"
#include "surface/surface.h"
#include "surface/window_certificate.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace {

// A refusal, in the program's own words: relief_forge.Error in Python.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The name the messages give the contours, which are no file here.
const char kContours_name[] = "contours";

// A console message ("\n\n\tThe file ... \n") without its framing white space.
std::string plain(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The grids of one run, released whichever way it ends.
struct Run_grids {
    Program_state s;
    Run_grids() = default;
    Run_grids(const Run_grids&) = delete;
    Run_grids& operator=(const Run_grids&) = delete;
    ~Run_grids() { release_state(s); }
};

struct Progress_event {
    const char* stage;
    double fraction;
};

// What the run's thread and the calling thread share.
struct Run_link {
    Run_channel channel;
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Progress_event> events;
    bool finished = false;
    bool reporting = false; // whether anyone reads the events
    const char* stage = ""; // the stage whose lines the text counts
    int nb_lig = 1;
    std::string error; // the refusal that ended the run; empty when none

    void report(const char* stage_name, double fraction)
    {
        if (!reporting) return;
        {
            const std::lock_guard<std::mutex> hold(mutex);
            events.push_back({stage_name, fraction});
        }
        wake.notify_one();
    }
};

// The stages' console text: the smoothing's "line N" lines become progress.
void on_text(void* user, const char* text, std::size_t n)
{
    auto* link = static_cast<Run_link*>(user);
    const std::string t(text, n);
    const auto at = t.find("line ");
    int line = 0;
    if (at != std::string::npos && std::sscanf(t.c_str() + at, "line %d", &line) == 1)
        link->report(link->stage, static_cast<double>(line) / link->nb_lig);
}

// A window of a larger grid: its cut sides and the whole grid's pass count
// (0 when not known) in; the doubt of each cell and the window's passes out.
struct Window_request {
    Window_cuts cuts;
    int whole_passes = 0;
    Doubt doubt;
    int passes = 0;
};

// The stages of the interactive program's run, from the Scaled altitudes to
// the surface in itab1, before the conversion back.
void run_stages(Run_link& link, Program_state& s, int equid, int maille, Window_request* window)
{
    const Run_channel_scope scope(&link.channel);
    scale_to_scaled(s, equid);
    if (window) {
        window->passes =
            build_window_surface(s, maille, window->cuts, window->whole_passes, window->doubt);
        frigrille(s.itab2, s.nb_lig);
        s.itab2 = nullptr;
        return;
    }
    link.report("dilation", 0.0);
    dilation(s);
    link.report("dilation", 1.0);
    interruption_point();
    link.report("gap filling", 0.0);
    gap_filling(s);
    copy_surface(s);
    link.report("gap filling", 1.0);
    interruption_point();
    if (maille > 1) {
        link.stage = "smoothing";
        link.report("smoothing", 0.0);
        smoothing(s, maille);
        interruption_point();
        link.report("smoothing", 1.0);
    }
    // The surface grown from the copy is no longer needed.
    frigrille(s.itab2, s.nb_lig);
    s.itab2 = nullptr;
}

// Runs `body` and turns what it throws into the text of a refusal.
template <typename Body> std::string refusal_of(Body&& body)
{
    try {
        body();
        return "";
    } catch (const Run_error& e) {
        return plain(e.what());
    } catch (const Refusal& e) {
        return e.what();
    } catch (const std::bad_alloc&) {
        return "Not enough memory to go on";
    } catch (const std::exception& e) {
        return std::string("The run stops : ") + e.what();
    }
}

// Runs the stages on a thread of their own and waits for them, passing on
// progress and checking for signals with the GIL held every few tens of
// milliseconds. A Python exception (Ctrl-C, or one raised by the progress
// callback) stops the run at its next safe point and is raised once it has
// stopped.
void run_watched(Run_link& link, Program_state& s, int equid, int maille,
                 const py::object& progress, Window_request* window)
{
    const auto body = [&] {
        std::string error = refusal_of([&] { run_stages(link, s, equid, maille, window); });
        {
            const std::lock_guard<std::mutex> hold(link.mutex);
            link.error = std::move(error);
            link.finished = true;
        }
        link.wake.notify_one();
    };
    std::thread worker;
    try {
        py::gil_scoped_release nogil;
        worker = std::thread(body);
    } catch (const std::system_error&) {
        // No thread to spare: the run goes on here, without progress or Ctrl-C.
        py::gil_scoped_release nogil;
        body();
    }
    const auto stop_and_join = [&] {
        link.channel.stop = true;
        py::gil_scoped_release nogil;
        if (worker.joinable()) worker.join();
    };
    for (;;) {
        std::vector<Progress_event> events;
        bool finished;
        {
            py::gil_scoped_release nogil;
            std::unique_lock<std::mutex> hold(link.mutex);
            link.wake.wait_for(hold, std::chrono::milliseconds(50),
                               [&] { return link.finished || !link.events.empty(); });
            events.swap(link.events);
            finished = link.finished;
        }
        try {
            for (const Progress_event& e : events) progress(e.stage, e.fraction);
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        } catch (...) {
            stop_and_join();
            throw;
        }
        if (finished) break;
    }
    {
        py::gil_scoped_release nogil;
        if (worker.joinable()) worker.join();
    }
    if (!link.error.empty()) throw Refusal(link.error);
}

// Copies a 2-D array of T, whatever its strides, into the int grid.
template <typename T> void read_grid(const py::array& a, int** grid, int nb_lig, int nb_col)
{
    const auto* base = static_cast<const char*>(a.data());
    const py::ssize_t s0 = a.strides(0);
    const py::ssize_t s1 = a.strides(1);
    for (int i = 0; i < nb_lig; ++i) {
        const char* row = base + s0 * i;
        int* out = grid[i];
        if (s1 == static_cast<py::ssize_t>(sizeof(T))) {
            const T* r = reinterpret_cast<const T*>(row);
            for (int j = 0; j < nb_col; ++j) out[j] = static_cast<int>(r[j]);
        } else {
            for (int j = 0; j < nb_col; ++j) {
                T v;
                std::memcpy(&v, row + s1 * j, sizeof v);
                out[j] = static_cast<int>(v);
            }
        }
    }
}

// A whole-number argument as an int, refused when it is not one; beyond the
// int range it is clamped, where every check refuses it as out of range.
long long whole_argument(const py::handle& value, const char* what)
{
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        throw Refusal(std::string("The ") + what + " must be a whole number, not " +
                      std::string(py::str(py::type::of(value).attr("__name__"))));
    const py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (overflow > 0) return LLONG_MAX;
    if (overflow < 0) return LLONG_MIN;
    return v;
}

// A dtype as its name, its byte order said when it is not the machine's.
std::string type_text(const py::dtype& t)
{
    std::string name = py::str(t.attr("name"));
    if (t.byteorder() == '>') name += " (big-endian)";
    return name;
}

enum class Output_kind { dem, surface };

py::array build(const py::array& contours, const py::handle& equidistance,
                const py::handle& smoothing, const py::object& dtype, const py::object& progress,
                int z_factor, Window_request* window = nullptr)
{
    const py::dtype in_type = contours.dtype();
    // Equal types have the same byte order: a swapped array is refused too.
    const bool bits16 = in_type.equal(py::dtype::of<std::uint16_t>());
    const bool bits32 = in_type.equal(py::dtype::of<std::int32_t>());
    if (!bits16 && !bits32)
        throw Refusal("The contours must be int32 (-99999 for empty pixels) or uint16 (every "
                      "pixel a level), in the machine's byte order, not " +
                      type_text(in_type));
    if (contours.ndim() != 2)
        throw Refusal("The contours must be a grid of 2 dimensions, not " +
                      std::to_string(contours.ndim()));
    Output_kind kind = Output_kind::dem;
    if (!dtype.is_none()) {
        const py::dtype wanted = py::dtype::from_args(dtype);
        if (wanted.equal(py::dtype::of<float>()))
            kind = Output_kind::surface;
        else if (!wanted.equal(in_type))
            throw Refusal("The DEM is made as the contours' type (dtype=None) or as float32, not " +
                          type_text(wanted));
    }
    if (z_factor < 1) throw Refusal("The level factor must be 1 or more");
    if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
        throw py::type_error("progress must be callable as progress(stage, fraction)");

    auto grids = std::make_unique<Run_grids>();
    Program_state& s = grids->s;
    s.nomim1 = kContours_name;
    s.itype = bits16 ? 0 : 1;
    s.val = bits16 ? 2 : 4;
    const py::ssize_t lines = contours.shape(0);
    const py::ssize_t cols = contours.shape(1);
    if (lines == 0 || cols == 0)
        throw Refusal(plain(refusal_of(
            [&] { fail("\n\n\tThe file %s holds no contour pixel \n", kContours_name); })));
    // A side beyond the int range, which the state record cannot hold, is
    // refused in the words of the size check.
    if (lines > INT_MAX || cols > INT_MAX)
        throw Refusal("A grid of " + std::to_string(lines) + " lines and " + std::to_string(cols) +
                      " columns is larger than this program can index : at most " +
                      std::to_string(kGrid_pixels_max) + " pixels, and at most " +
                      std::to_string(kGrid_side_max) + " lines or columns");
    s.nb_lig = static_cast<int>(lines);
    s.nb_col = static_cast<int>(cols);
    std::string refusal = refusal_of([&] { check_grid_size(s); });
    if (!refusal.empty()) throw Refusal(refusal);

    // The dialogue's order: the equidistance, then the mesh size.
    const long long e = whole_argument(equidistance, "equidistance");
    if (e <= 0) throw Refusal("The equidistance must be a positive number");
    if (e > INT_MAX)
        throw Refusal("The equidistance must be a positive number of at most 2147483647, not " +
                      std::to_string(e));
    const int equid = static_cast<int>(e);
    const int maille = static_cast<int>(
        std::clamp<long long>(whole_argument(smoothing, "smoothing mesh"), INT_MIN, INT_MAX));
    refusal = plain(mesh_size_refusal(s, maille));
    if (!refusal.empty()) throw Refusal(refusal);

    refusal = refusal_of([&] {
        py::gil_scoped_release nogil;
        s.itab = allocate_grid(s);
        if (bits16)
            read_grid<std::uint16_t>(contours, s.itab, s.nb_lig, s.nb_col);
        else
            read_grid<std::int32_t>(contours, s.itab, s.nb_lig, s.nb_col);
        check_contours(s, equid);
        s.itab1 = allocate_grid(s);
        s.itab2 = allocate_grid(s);
    });
    if (!refusal.empty()) throw Refusal(refusal);

    Run_link link;
    link.channel.text = on_text;
    link.channel.user = &link;
    link.reporting = !progress.is_none();
    link.nb_lig = s.nb_lig;
    run_watched(link, s, equid, maille, progress, window);

    py::array out;
    try {
        if (kind == Output_kind::surface)
            out = py::array_t<float>({lines, cols});
        else if (bits16)
            out = py::array_t<std::uint16_t>({lines, cols});
        else
            out = py::array_t<std::int32_t>({lines, cols});
    } catch (const py::error_already_set& e) {
        if (!e.matches(PyExc_MemoryError)) throw;
        throw Refusal("Not enough memory to go on");
    }
    {
        py::gil_scoped_release nogil;
        char* base = static_cast<char*>(out.mutable_data());
        const std::size_t n = static_cast<std::size_t>(s.nb_col);
        if (kind == Output_kind::surface) {
            // The surface in the contours' units, without the conversion's
            // truncation; a NO_DATA surface value stays NO_DATA.
            const double unit = static_cast<double>(equid) / 512.0 / z_factor;
            for (int i = 0; i < s.nb_lig; ++i) {
                float* row = reinterpret_cast<float*>(base) + n * static_cast<std::size_t>(i);
                for (int j = 0; j < s.nb_col; ++j) {
                    const int v = s.itab1[i][j];
                    row[j] =
                        v == NO_DATA ? static_cast<float>(NO_DATA) : static_cast<float>(v * unit);
                }
            }
        } else {
            scale_back(s, equid);
            for (int i = 0; i < s.nb_lig; ++i) {
                if (bits16) {
                    auto* row =
                        reinterpret_cast<std::uint16_t*>(base) + n * static_cast<std::size_t>(i);
                    // The 16-bit file keeps the low 16 bits of each altitude.
                    for (int j = 0; j < s.nb_col; ++j)
                        row[j] = static_cast<std::uint16_t>(static_cast<unsigned>(s.itab1[i][j]) &
                                                            0xFFFFu);
                } else {
                    std::memcpy(reinterpret_cast<std::int32_t*>(base) +
                                    n * static_cast<std::size_t>(i),
                                s.itab1[i], n * sizeof(int));
                }
            }
        }
        grids.reset();
    }
    return out;
}

// The DEM of a window, the cells certainly equal to the whole grid's build,
// and the window's pass count.
py::tuple build_window(const py::array& contours, const py::handle& equidistance,
                       const py::handle& smoothing, const py::object& cuts, int passes,
                       const py::object& dtype)
{
    Window_request window;
    const py::tuple sides = py::tuple(cuts);
    if (sides.size() != 4) throw Refusal("The cuts are four flags: top, bottom, left, right");
    window.cuts = {py::bool_(sides[0]), py::bool_(sides[1]), py::bool_(sides[2]),
                   py::bool_(sides[3])};
    if (passes < 0) throw Refusal("The whole grid's pass count must be 0 (not known) or more");
    window.whole_passes = passes;
    py::array dem = build(contours, equidistance, smoothing, dtype, py::none(), 1, &window);
    py::array_t<bool> certain({contours.shape(0), contours.shape(1)});
    bool* out = certain.mutable_data();
    for (std::size_t p = 0; p < window.doubt.size(); ++p) out[p] = window.doubt[p] == 0;
    return py::make_tuple(dem, certain, window.passes);
}

} // namespace

PYBIND11_MODULE(_engine, m)
{
    m.doc() = "The DEM of a contour raster, as the interactive relief_forge program builds it.";
    py::register_exception<Refusal>(m, "Error", PyExc_ValueError);
    m.attr("NO_DATA") = NO_DATA;
    m.attr("GRID_PIXELS_MAX") = kGrid_pixels_max;
    m.attr("GRID_SIDE_MAX") = kGrid_side_max;
    m.def("build",
          [](const py::array& contours, const py::handle& equidistance,
             const py::handle& smoothing, const py::object& dtype, const py::object& progress,
             int z_factor) {
              return build(contours, equidistance, smoothing, dtype, progress, z_factor);
          },
          py::arg("contours"), py::arg("equidistance"), py::arg("smoothing") = 1,
          py::kw_only(), py::arg("dtype") = py::none(), py::arg("progress") = py::none(),
          py::arg("_z_factor") = 1);
    m.def("build_window", &build_window, py::arg("contours"), py::arg("equidistance"),
          py::arg("smoothing") = 1, py::kw_only(),
          py::arg("cuts") = py::make_tuple(false, false, false, false),
          py::arg("passes") = 0, py::arg("dtype") = py::none());
}
