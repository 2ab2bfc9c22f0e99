// relief_forge_gis: contours from GIS files in, a georeferenced DEM out.
//
// The contour grid and the DEM live in the Program state, exactly as in the
// interactive program (itab holds the contour grid as read, itab1 the DEM),
// so that the stages of relief_forge_core run on them unchanged. What the
// interactive program does not know, where the grid lies on the ground, is
// carried beside it in a Georef.
#pragma once

#include "base/grids.h"
#include "base/program_state.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class GDALDataset;
class OGRLayer;
class OGRSpatialReference;

// A failure that ends a command with exit status 1. what() names the object
// and the reason, without the program's name.
struct Gis_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A wrong command line: also points the user at the command's help.
struct Usage_error : Gis_error {
    std::string command; // the command whose --help to suggest; empty for the tool's
    Usage_error(const std::string& message, std::string cmd)
        : Gis_error(message), command(std::move(cmd))
    {
    }
};

// Throws a Gis_error whose text is formatted like printf.
[[noreturn]] void gis_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Where the grid lies: GDAL's affine geotransform (x = gt[0] + column * gt[1]
// + line * gt[2], y = gt[3] + column * gt[4] + line * gt[5], at the corner of
// the pixel) and the CRS as WKT, empty when the input has none.
struct Georef {
    double gt[6] = {0, 1, 0, 0, 0, 1};
    std::string wkt;
};

// A file written under a temporary name beside its final one. publish()
// says it is complete: it joins, with its companions, the outputs the
// command commits together (Staged_outputs, gis/outputs/commit.h). A file
// never published is removed, so that a failed command leaves no
// half-written file behind; a signal removes it too, with GDAL's own
// temporaries beside it (see install_interrupt_cleanup).
struct Staged_file {
    std::string final_path;
    std::string temp_path;
    bool published = false;
    int slot = -1; // its entry in the table the signal handler reads
    // Files written beside it under temporary names (a driver's sidecars):
    // (temporary, final) and their slots.
    std::vector<std::pair<std::string, std::string>> companions;
    std::vector<int> companion_slots;
    // `temp` names the temporary file; by default temporary_name(path).
    explicit Staged_file(std::string path, std::string temp = "");
    ~Staged_file();
    Staged_file(const Staged_file&) = delete;
    Staged_file& operator=(const Staged_file&) = delete;
    // Tracks a file written beside this one at once; it is committed with it.
    void add_companion(const std::string& temp, const std::string& final_name);
    void publish();
};

// ---- Command lines --------------------------------------------------------

// How contours become a contour grid (import, and the first half of build).
struct Import_options {
    std::string contours;            // vector or raster contour file
    std::vector<std::string> layers; // vector layers, each burnt; empty = the first one
    std::string attribute;           // elevation attribute; empty = found by its name, or the Z
    double cell = 0;                 // cell width of the grid made for vectors; 0 = not given
    double cell_y = 0;               // cell height (-tr's YRES); 0 = the width
    std::string like;                // raster whose grid the vectors are rasterised on
    std::string crs;                 // CRS given by the user, in place of the input's
    bool bits16 = false;             // 16-bit contour raster (_c2) instead of 32-bit (_c4)
    bool has_empty = false;
    int empty = 0; // raster value that means "no contour" besides nodata
    int band = 1;  // band of a raster input
    bool has_extent = false;
    double extent[4] = {};    // --extent XMIN YMIN XMAX YMAX, in place of the contours'
    bool tap = false;         // --tap: grid corners on whole multiples of the cell
    bool all_touched = false; // burn every cell a line touches, not only the line's own
    // Memory the command holds per cell of the grid the contours are burnt
    // on, and per cell of the output grid besides, for the check before
    // allocation.
    double bytes_per_cell = 24;
    double out_bytes_per_cell = 0;
    // Levels and sources.
    double equidistance = 0;   // build's -e in the contours' units; 0 = inferred
    int z_scale = 0;           // power of ten the levels are multiplied by; 0 = found
    std::string t_srs;         // CRS the vectors are reprojected to before burning
    std::string where;         // OGR attribute filter on the features
    bool spot_heights = false; // burn point features as spot heights
    // Vector contours are burnt on a grid this many times finer in both
    // directions (build); 0 = chosen from how crowded the contours are.
    int oversample = 0;
};

// The largest --oversample: a fine cell of a 64th of the output cell.
constexpr int kMax_oversample = 8;

// The mask of --cutline: the cells whose centre lies outside its polygons
// become nodata.
struct Cutline_options {
    std::string path;  // polygon file; empty = no mask
    std::string layer; // -cl; empty = the first layer
    std::string where; // -cwhere attribute filter
};

// The largest power of ten the levels are multiplied by (--z-scale).
constexpr int kMax_z_factor = 1'000'000;

struct Preview_options {
    std::string path;      // PNG to write; empty = no preview
    bool contours = false; // draw the input contour pixels over the relief
};

enum class Command { none, import, build, export_dem };

struct Cli {
    Command command = Command::none;
    bool help = false;    // --help: print the help of the tool or of the command
    bool version = false; // --version
    bool quiet = false;   // no progress and no summary
    Import_options in;    // import and build
    std::string out;      // import: DIR/NAME; build and export: the DEM
    std::string type;     // build's -ot: a GDAL data type name; empty = Float32
    bool has_nodata = false;
    double nodata = 0; // build's -a_nodata
    int maille = 1;    // build: smoothing mesh size; 1 or less = none
    std::string dem;   // export: DIR/NAME_m4 (or _m2)
    Preview_options preview;
    bool clip = false;       // build: cells outside the contours' footprint left empty
    Cutline_options cutline; // build
    std::string format;      // build and export: a GDAL driver; empty = by the extension
    std::vector<std::string> creation_options;               // -co NAME=VALUE, in order
    std::vector<std::pair<std::string, std::string>> config; // --config KEY VALUE
};

// Parses the arguments after the program's name. Throws Usage_error.
Cli parse_command_line(int argc, char** argv);

// Parses a whole decimal int ("12", "-3"); false for anything else.
bool parse_int(const std::string& text, int& value);
// Parses a whole finite decimal real; false for anything else.
bool parse_real(const std::string& text, double& value);

// Help texts of the tool and of each command, and the version line.
const char* tool_help();
const char* command_help(Command c);
std::string version_text();
const char* command_name(Command c);

// ---- Progress -------------------------------------------------------------

// Progress of long work on standard error: on a terminal one line redrawn in
// place, elsewhere "label: 0...10...20... done" on one line per stage.
void progress_enable(bool on);
// Starts a stage; `with_bar` when its fraction will be reported.
void progress_stage(const char* label, bool with_bar);
// Moves the bar of the current stage to `fraction` (0 to 1).
void progress_fraction(double fraction);
// Shows a counter beside the stage's label ("dilation, pass 4").
void progress_count(const char* what, int n);
// Ends the current stage's line.
void progress_done();
// Ends the current stage's line without calling it done, before an error.
void progress_abort();
// A line of information on standard error, unless progress is off.
void progress_note(const std::string& text);
// A GDAL progress callback that moves the bar of the current stage.
int gdal_progress(double complete, const char* message, void* data);
// A console sink for relief_forge_core's stages, which report through say():
// their progress lines ("Iterative process number N", "line N") move the
// current stage; every other text is dropped. `nb_lig` turns line numbers
// into fractions. The caller closes it with fclose.
std::FILE* open_stage_sink(int nb_lig);

// ---- GDAL ----------------------------------------------------------------

// Registers GDAL's drivers and routes its messages: warnings go to standard
// error, errors are kept for the messages of this tool.
void gdal_start();
// GDAL's last error message, or `fallback` when it left none.
std::string gdal_error(const char* fallback);
// The WKT of a CRS given by the user (EPSG:n, WKT, PROJ string, ...).
// Throws naming the definition when GDAL cannot read it.
std::string crs_from_user(const std::string& definition);
// The WKT of a CRS read from `what` (a file), empty for none. Throws when
// GDAL cannot express it.
std::string crs_wkt(const OGRSpatialReference* srs, const std::string& what);
// Whether the CRS is geographic (degrees).
bool crs_is_geographic(const std::string& wkt);
// True when two CRS are the same (both empty counts as the same).
bool crs_same(const std::string& a, const std::string& b);

// ---- The grid -----------------------------------------------------------

// A grid made for vector contours of the extent [minx, maxx] x [miny, maxy]
// with square cells of `cell`: ceil(extent / cell) cells a side (at least
// one) from the extent's north-west corner, or with `tap` the extent grown
// to whole multiples of the cell, as GDAL's -tap does. Checks its size
// against `bytes_per_cell` (see check_grid_size) before anything is made.
struct Cell_grid {
    int nb_lig = 0;
    int nb_col = 0;
    double gt[6] = {0, 1, 0, 0, 0, 1};
};
Cell_grid grid_for_extent(double minx, double maxx, double miny, double maxy, double cell,
                          bool tap = false, double bytes_per_cell = 24, double cell_y = 0);

// The integer pixel size of the header for a cell of `cell` ground units:
// rounded to nearest, at least 1 (0 would make the interactive program ask).
int header_pixel_size(double cell);

// Checks a grid's size before it is allocated: refuses, naming the size and
// the memory it needs at `bytes_per_cell`, a grid beyond what the engine can
// index (int lines and columns, int pixel indices) or beyond the machine's
// memory. `hint` ends the message.
void check_grid_size(double lines, double cols, double bytes_per_cell, const char* hint);
// The grid vector contours are burnt on: the extent of `burn` on cells of
// --cell, or the --like raster's grid. Sets nb_lig, nb_col, taille_pix of `s`
// and `geo` (its CRS `layer_wkt` unless --like has one).
void choose_vector_grid(const Import_options& o, OGRLayer& burn, const std::string& layer_wkt,
                        Program_state& s, Georef& geo);
// The oversampling of a run on the output grid of `s` and `geo`: the
// factor of o.oversample, checked against the memory, or with 0 the one
// chosen from how far apart the contours of `burn` lie on average, within
// the memory and kMax_fine_cells. `why` says how it was chosen.
int choose_oversample(const Import_options& o, OGRLayer& burn, const Program_state& s,
                      const Georef& geo, std::string& why);
// The most cells of a fine grid that --oversample auto builds on: the
// engine builds it in about as long as the writing of the DEM takes.
constexpr double kMax_fine_cells = 16.8e6;
// Burns the integer field "level" of `burn` on the grid of `s` and `geo`
// into itab (allocated), NO_DATA elsewhere. Throws when nothing falls on it.
void rasterise_vector_contours(const Import_options& o, OGRLayer& burn, const char* layer_name,
                               Program_state& s, const Georef& geo);

// Reads the sidecar's georeferencing and checks its size against `s`; when
// `contours` is given, also reads which pixels of the contour raster hold a
// contour (1) or NO_DATA (0).
void read_sidecar(const std::string& path, const Program_state& s, Georef& geo,
                  std::vector<std::uint8_t>* contours);

// ---- The surface ----------------------------------------------------------

// Refuses, as the dialogue does, an equidistance that is not positive and a
// mesh size above 1 whose window does not fit the grid or exceeds 33.
void check_run_values(const Program_state& s, int equid, int maille);
// The interactive program's run from the contour grid in itab to the DEM in
// itab1, without the dialogue or any file: the same stages in the same
// order. Allocates itab1 and itab2; leaves the result range in min_al and
// max_al. Throws Gis_error for a grid with no contour pixel or levels too
// large for the equidistance.
// With `exact`, also keeps the surface before its conversion back as
// Scaled value x equid / 512 / z_factor, without truncation, NO_DATA kept;
// with `oversample` N, the grid is N times finer than `exact`, whose every
// cell is the mean of its N x N cells.
void build_surface(Program_state& s, int equid, int maille, int& min_al, int& max_al,
                   std::vector<double>* exact = nullptr, int z_factor = 1, int oversample = 1);
// A zero-filled int grid (new_grid); throws Gis_error when memory lacks.
int** new_int_grid(int nb_col, int nb_lig);

// ---- Commands -------------------------------------------------------------

void run_import(const Cli& cli);
void run_build(const Cli& cli);
void run_export(const Cli& cli);
