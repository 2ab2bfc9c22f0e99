// Raster files: the names of the four files of a run, the text layout of the
// headers and the byte layout of the raw rasters.
//
// A raw raster is nb_lig rows of nb_col pixels, line 0 first, no header and no
// padding: unsigned 16-bit (2 bytes per pixel) or signed 32-bit (4 bytes)
// integers, little-endian. Headers are text; each "\n" is one host line end.
#pragma once

#include "base/host.h"
#include "base/program_state.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// File suffixes, chosen by the pixel-type answer (0 = 16-bit, other = 32-bit).
const char* contour_raster_suffix(int itype); // "_c2.raw" / "_c4.raw"
const char* input_header_suffix(int itype);   // "_c2.txt" / "_c4.txt"
const char* dem_raster_suffix(int itype);     // "_m2.raw" / "_m4.raw"
const char* dem_header_suffix(int itype);     // "_m2.txt" / "_m4.txt"
// Bytes per pixel of the files: 2 when itype is 0, else 4.
int bytes_per_pixel(int itype);

// Whether a name answer holds a control character (NUL, which would cut the
// path short, included).
bool has_control_character(std::string_view name);
// Whether `name` names an entry of a folder: no separator, not "." or "..".
bool is_file_name(std::string_view name);
// Whether the folder path `folder` stays below the folder it is appended to:
// no ".." part.
bool stays_below(std::string_view folder);
// Whether the paths `a` and `b` name the same file: the same text, or, where
// both exist, the same file reached through a link.
bool same_file(const std::string& a, const std::string& b);

// Reads up to six integers from text the way "%d %d %d %d %d %d" does: each
// after optional white space, with an optional sign. Reading stops at the
// first value that cannot be read, including one outside the int range.
// Returns how many values were stored in `out`; `stop`, when given, receives
// the offset where reading stopped (len when it ran to the end of the text).
int parse_header_values(const char* text, std::size_t len, int out[6], std::size_t* stop = nullptr);

// Longest header text that is read: six int values with any reasonable white
// space fit far below it, and text after the sixth value is never read.
inline constexpr std::size_t kHeader_read_max = std::size_t{64} * 1024;

// Reads an input header (or a DEM header) from `f`: nb_lig, nb_col, val,
// min_al, max_al and taille_pix of `s`, in this order. Fields not read keep
// their contents. Returns the number of values read (0 to 6), or -1, with
// no field changed, when the values run past the first kHeader_read_max
// bytes, where a value could be cut.
int read_input_header(std::FILE* f, Program_state& s);

// One group of a created input header: "%d\n%d\n%d\n". False on a write error.
bool write_input_header_group(std::FILE* f, int a, int b, int c);

// The DEM header's first group, "%d \n%d \n%d ". False on a write error.
bool write_dem_header_start(std::FILE* f, int nb_lig, int nb_col, int val);

// The rest of the DEM header: the range, the pixel size, the input file's
// path, the mesh size as typed and the credit line. False on a write error.
bool write_dem_header_end(std::FILE* f, int min_al, int max_al, int taille_pix,
                          const std::string& input_path, int maille);

// Reads nb_lig rows of nb_col 16-bit pixels into jtab. False when the file ends
// early or a read fails.
bool read_rows16(std::FILE* f, std::uint16_t** jtab, int nb_lig, int nb_col);
// Reads nb_lig rows of nb_col 32-bit pixels into itab. False as above.
bool read_rows32(std::FILE* f, int** itab, int nb_lig, int nb_col);
// Writes nb_lig rows of nb_col 16-bit pixels from jtab. False on a write error.
bool write_rows16(std::FILE* f, std::uint16_t** jtab, int nb_lig, int nb_col);
// Writes nb_lig rows of nb_col 32-bit pixels from itab. False on a write error.
bool write_rows32(std::FILE* f, int** itab, int nb_lig, int nb_col);

// Widens every 16-bit value of jtab into itab without sign (65535 stays 65535).
void widen16(std::uint16_t** jtab, int** itab, int nb_lig, int nb_col);
// Keeps the low 16 bits of every itab value in jtab (-1 -> 65535, 70000 -> 4464).
void narrow16(int** itab, std::uint16_t** jtab, int nb_lig, int nb_col);

// Opens the file at `path` for reading in `mode` ("rb" or "r") into `f` when
// it is a regular file, a symbolic link to one included. Anything else (a
// FIFO, a device, a folder) is refused without blocking: not_regular. A file
// that does not exist or cannot be opened is missing.
Input_open open_input_file(const std::string& path, const char* mode, std::FILE*& f);

// Size in bytes of the open file, or -1 when it cannot be told.
long long file_size(std::FILE* f);
