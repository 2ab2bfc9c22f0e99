// The Program state: the one record that carries a run from stage to stage.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Value of an empty pixel. Emptiness is tested by equality only: every other
// value, 0 and values below -99999 included, is a level.
inline constexpr int NO_DATA = -99999;

// Longest text of a path, in characters (the terminator excluded).
inline constexpr std::size_t kPath_max = 127;

// Grids are addressed grid[line][column], line 0 being the first row of the
// raster file; each is a table of nb_lig rows of nb_col elements (NRUTIL).
// Sweeps run line by line, line index outer, column index inner.
struct Program_state {
    int nb_lig = 0;     // lines of every grid and raster (> 0 once set up)
    int nb_col = 0;     // columns of every grid and raster (> 0 once set up)
    int val = 0;        // bytes per pixel of the files: 2 when itype is 0, else 4
    int taille_pix = 0; // pixel size, carried from the input header to the DEM header
    int itype = 0;      // pixel-type answer: 0 = 16-bit files, any other = 32-bit
    int flag_open = 0;  // 1 when the input header existed, 0 when this run created it
    int min_al = 0;     // fourth and fifth values of an existing input header;
    int max_al = 0;     // 0 otherwise; no stage reads them afterwards

    int modif = 0;      // pixels inserted into itab by the last dilation pass
    int nb_pix_mod = 0; // pixels filled by the latest sweep of a repeat-until-stable loop

    // Contour grid: input values, then Scaled altitudes with the inserted
    // contours, then the gap-filled surface (written by the dilation and the
    // gap filling, read by the smoothing).
    int** itab = nullptr;
    // Target grid of a dilation pass; afterwards the DEM grid that is smoothed,
    // converted back and written.
    int** itab1 = nullptr;
    // Grown grid of a dilation pass; afterwards a copy of the gap-filled surface.
    int** itab2 = nullptr;
    // The 16-bit contour raster before widening and the 16-bit DEM before
    // writing; allocated only for 16-bit files.
    std::uint16_t** jtab = nullptr;
    std::uint16_t** jtab1 = nullptr;

    std::string nomim1; // full path of the contour raster (at most kPath_max characters)

    std::FILE* f1 = nullptr;  // contour raster, binary read
    std::FILE* f1d = nullptr; // input header: text read when it existed, text write when created
    std::FILE* f3 = nullptr;  // DEM raster, binary write (under its temporary name)
    std::FILE* f3d = nullptr; // DEM header, text write (under its temporary name)
};
