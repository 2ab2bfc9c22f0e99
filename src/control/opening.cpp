// Start-up dialogue and file set-up of a run.
#include "base/console.h"
#include "base/grids.h"
#include "base/host.h"
#include "control/control.h"
#include "raster/raster_files.h"
#include "surface/surface.h"

#include <cstdlib>
#include <cstring>

namespace {

// Every suffix of the four files has this many characters.
constexpr std::size_t kSuffix_len = 7;

const char* const kCredits[3] = {
    "Authors : the relief_forge developers",
    "First release : December 2026",
    "Last update : December 2026",
};

void print_box_line(const char* text)
{
    // 60 columns of interior, the text ending four spaces before the border.
    const int pad = 60 - 4 - static_cast<int>(std::strlen(text));
    say("\n\t*%*s%s    *", pad, "", text);
}

void print_banner()
{
    const char* stars = "**************************************************************";
    say("\n\n\t%s", stars);
    print_box_line("");
    say("\n\t*                      RELIEF_FORGE                          *");
    for (int k = 0; k < 4; ++k) print_box_line("");
    print_box_line(kCredits[0]);
    print_box_line(kCredits[1]);
    print_box_line("");
    print_box_line(kCredits[2]);
    print_box_line("");
    say("\n\t%s", stars);
    say("\n\n\n\tDigital Elevation Models Generation by contour lines dilation");
    say("\n\n\tNote : the contour lines used must be provided by Zorvak program");
}

enum class Name_kind { folder, file };

// Reads a name answer that, appended to `prefix` with a suffix of the usual
// length, still makes a path of at most kPath_max characters, holds no control
// character, and names a folder below `prefix` or a file of that folder.
std::string ask_name(const char* prompt, const std::string& prefix, std::size_t extra,
                     Name_kind kind)
{
    for (;;) {
        say("%s", prompt);
        std::string name = read_name_answer();
        if (has_control_character(name))
            say("\n\tA name cannot hold a control character \n");
        else if (prefix.size() + name.size() + extra > kPath_max)
            say("\n\tThis name makes a path longer than %zu characters \n", kPath_max);
        else if (kind == Name_kind::file && !is_file_name(name))
            say("\n\tNot a file name : %s \n", name.c_str());
        else if (kind == Name_kind::folder && !stays_below(name))
            say("\n\tNot a folder inside %s : %s \n", prefix.c_str(), name.c_str());
        else
            return name;
    }
}

int ask_positive(const char* prompt)
{
    for (;;) {
        const int v = ask_number(prompt);
        if (v > 0) return v;
        say("\n\tThe number must be positive \n");
    }
}

std::string format(const char* fmt, const std::string& arg)
{
    const int n = std::snprintf(nullptr, 0, fmt, arg.c_str());
    std::string text(static_cast<std::size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, fmt, arg.c_str());
    return text;
}

[[noreturn]] void fail_not_regular(const std::string& path)
{
    fail("\n\n\tThe file %s is not a regular file : it is not read \n", path.c_str());
}

} // namespace

int** allocate_grid(const Program_state& s)
{
    int** grid = new_grid(s.nb_col, s.nb_lig);
    if (!grid) fail_grid_memory(s, sizeof(int));
    return grid;
}

// A grid the stages cannot index is refused before anything is allocated.
// Both sides are positive, so their product fits a long long.
void check_grid_size(const Program_state& s)
{
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    if (pixels > kGrid_pixels_max || s.nb_lig > kGrid_side_max || s.nb_col > kGrid_side_max)
        fail("\n\n\tA grid of %d lines and %d columns is larger than this program can index : at "
             "most %lld pixels, and at most %d lines or columns \n",
             s.nb_lig, s.nb_col, kGrid_pixels_max, kGrid_side_max);
}

namespace {

// The contour raster must hold every pixel the header promises; extra bytes
// are ignored. Called on a grid that check_grid_size accepted, whose byte
// count fits a long long.
void check_raster_size(const Program_state& s)
{
    const long long expected = static_cast<long long>(s.nb_lig) * s.nb_col * s.val;
    const long long actual = file_size(s.f1);
    if (actual >= 0 && actual < expected)
        fail("\n\n\tThe file %s holds %lld bytes : %d lines of %d pixels of %d bytes need %lld \n",
             s.nomim1.c_str(), actual, s.nb_lig, s.nb_col, s.val, expected);
}

// The folder of the image, below the base directory, ending with the
// separator. The shortest image name and a suffix must still fit after it.
std::string ask_image_folder()
{
    const std::string base = host_base_directory();
    if (base.size() + 1 + 1 + 1 + kSuffix_len > kPath_max)
        fail("\n\n\tThe images folder %s makes every path longer than %zu characters \n",
             base.c_str(), kPath_max);
    const std::string folder_prompt =
        format("\n\n\tName of the File Folder located in the Directory %s : ", base);
    const std::string nomdir =
        ask_name(folder_prompt.c_str(), base, 1 + 1 + kSuffix_len, Name_kind::folder);
    return base + nomdir + host_separator();
}

// The pixel type, and with it the bytes per pixel and the contour raster's path.
void ask_pixel_type(Program_state& s, const std::string& image_base)
{
    s.itype = ask_number("\n\tType of input image :\n\t\t0 ====> 16 bits (_c2.raw)\n\t\t1 ====> 32 "
                         "bits (_c4.raw)\n\t\t");
    s.val = bytes_per_pixel(s.itype);
    s.nomim1 = image_base + contour_raster_suffix(s.itype);
}

// A missing contour raster ends the run, after one key press.
void open_contour_raster(Program_state& s)
{
    const Input_open raster = open_input_file(s.nomim1, "rb", s.f1);
    if (raster == Input_open::not_regular) fail_not_regular(s.nomim1);
    if (raster == Input_open::missing) {
        say("\n\n\tNo File %s \n", s.nomim1.c_str());
        wait_for_key();
        throw Run_error("");
    }
}

// Reads the input header, or creates it from the answers when it is missing.
void open_input_header(Program_state& s, const std::string& nomdescr1)
{
    const Input_open header = open_input_file(nomdescr1, "r", s.f1d);
    if (header == Input_open::not_regular) fail_not_regular(nomdescr1);
    if (header == Input_open::opened) {
        if (read_input_header(s.f1d, s) < 0)
            fail("\n\n\tThe header %s is not read : its values must lie within its first %zu "
                 "bytes \n",
                 nomdescr1.c_str(), kHeader_read_max);
        s.flag_open = 1;
        if (s.nb_lig <= 0 || s.nb_col <= 0)
            fail("\n\n\tThe header %s gives no valid number of lines and columns \n",
                 nomdescr1.c_str());
    } else {
        say("\n\n\tNo Header File named %s \n\n", nomdescr1.c_str());
        s.f1d = create_output(Output::input_header, nomdescr1);
        s.nb_lig = ask_positive("\n\tNumber of lines   ? ");
        s.nb_col = ask_positive("\n\tNumber of columns ? ");
        s.taille_pix = ask_number("\n\tPixel size        ? ");
        s.flag_open = 0;
        if (!write_input_header_group(s.f1d, s.nb_lig, s.nb_col, s.val))
            fail_write(Output::input_header);
    }
    if (s.taille_pix == 0) s.taille_pix = ask_number("\n\tPixel size ? ");
}

// Shows the image's size and refuses a grid or raster that does not fit it.
void check_image_size(Program_state& s)
{
    say("\n\tTHE INPUT IMAGE HAS : ");
    say("\n\t           %d LINES", s.nb_lig);
    say("\n\t       AND %d COLUMNS\n", s.nb_col);
    // The bytes per pixel follow the pixel-type answer, whatever the header said.
    s.val = bytes_per_pixel(s.itype);
    check_grid_size(s);
    check_raster_size(s);
}

// The result's name: the image's, or one typed; asked again while either
// DEM file would be one of the inputs, not even through a link.
std::string ask_result_name(const Program_state& s, const std::string& nomim2,
                            const std::string& nomfic, const std::string& nomdescr1)
{
    say("\n\tResulting DEM : ");
    const std::string choice = format("\n\n\t\t0 -----> Using the generic name %s ? ", nomfic) +
                               "\n\t\t1 -----> Creating a file ? \n\t\t";
    const std::string inputs[2] = {s.nomim1, nomdescr1};
    for (;;) {
        int rep;
        do rep = ask_number(choice);
        while (rep != 0 && rep != 1);
        const std::string nomfic1 =
            rep == 0 ? nomfic
                     : ask_name("\n\tName of the resulting DEM (without extension _m2.raw o "
                                "_m4.raw) ? ",
                                nomim2, kSuffix_len, Name_kind::file);
        const std::string outputs[2] = {nomim2 + nomfic1 + dem_raster_suffix(s.itype),
                                        nomim2 + nomfic1 + dem_header_suffix(s.itype)};
        const std::string* clash = nullptr;
        for (const std::string& out : outputs)
            for (const std::string& in : inputs)
                if (!clash && same_file(out, in)) clash = &in;
        if (!clash) return nomfic1;
        say("\n\tThe DEM would replace the input file %s \n", clash->c_str());
    }
}

// The DEM files, under their temporary names, with the header's first group.
void create_dem_files(Program_state& s, const std::string& dem_base)
{
    s.f3 = create_output(Output::dem_raster, dem_base + dem_raster_suffix(s.itype));
    s.f3d = create_output(Output::dem_header, dem_base + dem_header_suffix(s.itype));
    if (!write_dem_header_start(s.f3d, s.nb_lig, s.nb_col, s.val)) fail_write(Output::dem_header);
}

} // namespace

void opening(Program_state& s)
{
    print_banner();
    const std::string nomim2 = ask_image_folder();
    const std::string nomfic = ask_name(
        "\n\tName of the input contour lines image (without extension _c2.raw o _c4.raw) ? ",
        nomim2, kSuffix_len, Name_kind::file);
    ask_pixel_type(s, nomim2 + nomfic);
    const std::string nomdescr1 = nomim2 + nomfic + input_header_suffix(s.itype);
    open_contour_raster(s);
    open_input_header(s, nomdescr1);
    check_image_size(s);
    const std::string nomfic1 = ask_result_name(s, nomim2, nomfic, nomdescr1);
    // The DEM files always go into the contour image's folder.
    create_dem_files(s, nomim2 + nomfic1);
    s.itab = allocate_grid(s);
    s.itab1 = allocate_grid(s);
    s.itab2 = allocate_grid(s);
}
