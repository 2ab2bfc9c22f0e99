// The host's own ways: the one place that knows whether the program runs on a
// POSIX system or on Windows. Exactly one of host_posix.cpp and
// host_windows.cpp is built; everything else is written once for both.
//
// Functions that report a failure return false (or nullptr) with errno set,
// so that messages read the same on both hosts.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// ---- Paths ---------------------------------------------------------------

// The folder that holds the image folders, ending with the separator:
// $HOME/images/ on POSIX, C:\images\ on Windows. Throws a Run_error when it
// cannot be told.
std::string host_base_directory();
// The separator of the host's paths: "/" on POSIX, "\" on Windows.
const char* host_separator();
// Every character that separates the parts of a path on this host: "/" on
// POSIX; "\\", "/" and the drive's ":" on Windows.
const char* host_path_separators();

// ---- Console -------------------------------------------------------------

// Waits for one key press when `in` is a terminal (one key, no echo; the
// terminal is restored on every way out) and returns true; returns false at
// once when it is not.
bool host_wait_for_key(std::FILE* in);
// Gives an interrupt that ended a read of `in` the time to be recorded.
void host_settle_input_end(std::FILE* in);

// ---- Files ---------------------------------------------------------------

// The process number, for the names of temporary files.
long host_pid();
// Creates `path`, which must not exist, for writing: in text mode (the host's
// line ends, CR LF on Windows) or in binary mode. nullptr on failure.
std::FILE* host_create_file(const char* path, bool text);
// Writes the buffers of `f` out and through to the disk.
bool host_flush_to_disk(std::FILE* f);
// Puts the file `from` in the place of `to` in one step: `to` is either its
// old file or the new one, never missing. Works when `to` does not exist.
bool host_replace_file(const char* from, const char* to);
// Removes a file that no stream holds open. On POSIX it may be called from a
// signal handler.
bool host_remove_file(const char* path);
// Size in bytes of the open file, or -1 when it cannot be told.
long long host_file_size(std::FILE* f);
// Opens an input file for reading with `mode` ("rb" or "r") without ever
// blocking: what is not a regular file (a FIFO, a device, a folder) is
// refused before it is opened, and looked at again once open, should it have
// been replaced in between. A symbolic link to a regular file is opened.
enum class Input_open { opened, missing, not_regular };
Input_open host_open_input(const std::string& path, const char* mode, std::FILE*& f);
// Whether two existing paths reach the same file through links (the same
// device and file number on POSIX, volume and file index on Windows).
bool host_same_file(const std::string& a, const std::string& b);

// Serialises the runs that publish the DEM whose raster is `raster_path`:
// returns once no other run holds the lock (the folder's on POSIX, a lock
// file beside the DEM on Windows). host_unlock_result releases it, once the
// renames made under it are on the disk.
bool host_lock_result(const std::string& raster_path);
void host_unlock_result();

// ---- Memory --------------------------------------------------------------

// Advice that the memory from p to p + bytes, not yet touched, be backed by
// large pages where the host offers them without a privilege (transparent
// huge pages on Linux): a large grid then costs a few hundred page faults
// instead of one per 4 KiB. Nothing on Windows. Changes no byte.
void host_prefer_large_pages(void* p, std::size_t bytes);

// ---- Interrupts ----------------------------------------------------------
// Ctrl-C, termination, hang-up, a closed console window. A closed standard
// output and a file-size limit never kill the process: they show as write
// failures.

// Installs the handlers. On POSIX the signal handler restores the terminal,
// calls `at_once` (which must be async-signal-safe), writes the message it
// returns to standard output and ends the process with status 1. On Windows the console handler
// only records the event; the run's own thread learns it from host_interrupted() at its safe
// points.
void host_install_interrupts(const char* (*at_once)());
// Whether an interrupt was recorded and not yet acted on (Windows only;
// always false on POSIX, where the handler acts at once).
bool host_interrupted();
// Defers interrupts from host_hold_interrupts until host_release_interrupts,
// which delivers any that came meanwhile.
void host_hold_interrupts();
void host_release_interrupts();
