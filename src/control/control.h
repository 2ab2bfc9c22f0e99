// Program control: the dialogue, the files of a run and the driver's stages.
#pragma once

#include "base/console.h"
#include "base/failure.h"
#include "base/program_state.h"

#include <cstdio>
#include <stdexcept>
#include <string>

// ---- Answers -------------------------------------------------------------
// All answers are read from one stream (standard input unless a test set
// another). End of input at any question throws a Run_error.

void answers_from(std::FILE* in);
// One name answer: the next word, white space before it skipped.
std::string read_name_answer();
// Prints `prompt` and reads one number answer; a word that is not a decimal
// integer in the int range is refused with a message, the rest of its line is
// discarded and the prompt is printed again.
int ask_number(const std::string& prompt);
// Waits for one key press: on a terminal one key without echo, otherwise one
// character of the input if there is one.
void wait_for_key();

// ---- Output files --------------------------------------------------------
// Every file the run writes is created under a temporary name beside its
// final name, and renamed over it only once complete and flushed; a failed or
// interrupted run removes its temporary files and leaves earlier files alone.

enum class Output { input_header, dem_header, dem_raster };

// Creates the temporary file of `which` for `final_path`, in text or binary
// mode. Throws when it cannot be created.
std::FILE* create_output(Output which, const std::string& final_path);
// Flushes, syncs and closes the temporary file of `which`. Throws, naming the
// final file, when any of that fails.
void close_output(Output which);
// Renames the closed temporary file of `which` over its final name.
void publish_output(Output which);
// close_output, then publish_output.
void commit_output(Output which);
// Renames the closed DEM header and DEM raster over their final names as one
// change: under a lock that other runs publishing the same DEM wait for, with
// interrupts held, the earlier header kept aside until the raster is in
// place and put back when it cannot be. Afterwards an interrupt reports the
// DEM as written.
void publish_dem();
// Throws the write-failure error naming the final file of `which`.
[[noreturn]] void fail_write(Output which);
// Closes and removes every temporary file not yet committed.
void discard_outputs();
// Makes an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break and a
// closed console on Windows) remove the temporary files and end the run with
// exit status 1.
void install_interrupt_handlers();

// Throws the out-of-memory error for a grid of the size of `s`, of elements
// of `element` bytes.
[[noreturn]] void fail_grid_memory(const Program_state& s, std::size_t element);

// ---- Stages --------------------------------------------------------------

// Start-up: banner, folder, image, pixel type, contour raster, input header,
// result name, temporary DEM files with the header's first group, the three
// int grids. Sets every geometry, type and file field of `s`.
void opening(Program_state& s);

// Refuses, before anything is allocated, a grid that the stages cannot
// index (see kGrid_pixels_max).
void check_grid_size(const Program_state& s);
// One zero-filled int grid of the size of `s`; refuses when memory lacks.
int** allocate_grid(const Program_state& s);

// The two processing questions. The equidistance must be positive; a mesh
// size above 1 must leave its window inside the grid and at most 33.
int ask_equidistance();
int ask_mesh_size(const Program_state& s);
// Why the mesh size answer `maille` is refused for the grid of `s`, in the
// dialogue's words; empty when it is accepted.
std::string mesh_size_refusal(const Program_state& s, int maille);

// Reads the contour raster into itab (16-bit files through jtab).
void read_contours(Program_state& s);
// Completes a created input header with the raw range and the pixel size,
// and closes the input header whichever way it was opened.
void complete_input_header(Program_state& s);
// Refuses a raster with no contour pixel, levels whose way back from a
// Scaled altitude would leave the int range, and levels whose Scaled altitude
// would leave the range the dilation works in.
void check_contours(const Program_state& s, int equid);
// Writes the rest of the DEM header and closes it, still under its temporary
// name.
void finish_dem_header(Program_state& s, int min_al, int max_al, int maille);
// Writes the DEM raster from itab1 (16-bit files through jtab1), then
// publishes the DEM pair: a failure at either file leaves both earlier files
// as they were.
void write_dem(Program_state& s);

// The whole run, from the banner to the last line (in main.cpp).
void run(Program_state& s);

// Closes the input files of `s` that are still open and releases its grids,
// leaving the record as new. The files being written (a created input header,
// the DEM files) are closed by commit_output or discard_outputs.
void release_state(Program_state& s);

// Runs `body`, turning a Run_error into its message and exit status 1 with
// every temporary file removed. Returns the process's exit status.
int run_guarded(void (*body)());
