// The outputs of a command, committed together.
//
//   struct Output_pair { std::string temp_path; std::string final_path; };
//   void commit_outputs(const std::vector<Output_pair>& pairs);
//
// Every file a command writes (the DEM and any sidecar its GDAL driver
// writes, the preview, import's raster, header and .vrt) is written under a
// temporary name first. A writer either holds a Staged_file (gis.h), whose
// publish() hands the file, with the companions added to it, to the
// command's Staged_outputs; or it names its own temporaries with
// temporary_name() and tracks them with track_temporary(), so that a failure
// or a signal removes them, and hands the pairs to commit_outputs().
#pragma once

#include <string>
#include <vector>

struct Output_pair {
    std::string temp_path;  // complete, closed, beside its final name
    std::string final_path; // where it appears at the commit
};

// The temporary name of `final_path` in this process: "<final>.<pid>.tmp".
std::string temporary_name(const std::string& final_path);

// Registers `temp_path` in the table the signal handler reads: a signal that
// ends the process removes it, with GDAL's own temporaries beside it
// (.ovr.tmp, .msk.ovr.tmp, .aux.xml, ...). Returns the slot for
// untrack_temporary, or -1 when the table is full (the file is then still
// removed by the failure path, not by a signal).
int track_temporary(const std::string& temp_path);
// Forgets a slot; `remove_files` also removes the temporary and GDAL's own
// temporaries beside it.
void untrack_temporary(int slot, bool remove_files);

// Puts every temporary file of `pairs` in the place of its final name, all
// together: under an exclusive lock of each output folder (in a fixed order,
// so two runs never wait on each other) and with the ending signals held, the
// earlier files of those names step aside, the new ones are renamed in, and
// the earlier ones are removed. When a rename fails, the new files already
// renamed in are taken out again and the earlier ones put back, and it throws
// Gis_error naming the file and saying that no output was changed (or, should
// putting back fail too, where the earlier file is kept). After it returns an
// interrupt says which files were written. The temporaries stay tracked until
// the commit succeeds; the caller removes them after a failure.
void commit_outputs(const std::vector<Output_pair>& pairs);

// The complete Staged_files of the command, committed at once by commit();
// those not committed when it ends are removed with their companions.
class Staged_outputs {
  public:
    Staged_outputs();
    ~Staged_outputs();
    Staged_outputs(const Staged_outputs&) = delete;
    Staged_outputs& operator=(const Staged_outputs&) = delete;
    void commit();
};

// The command's state for the closing message of a failure: after the
// outputs were checked and before they were committed, nothing was written.
// Returns "; no file was written" then, "" otherwise.
const char* failure_outcome();
// Called once the output names are checked: the work of the command starts.
void outputs_checked();

// Installs the handler of every signal that ends a process by default (but
// the ones ignored at start): it removes the tracked temporaries, says what
// was written, and ends the command with exit status 1.
void install_interrupt_cleanup();

// Ends the command when GDAL meets a fatal error (its allocations failing
// in code that cannot report it): removes the tracked temporaries and the
// files pending commit, says so, the memory message when memory ran out,
// and exits with status 1. Called from GDAL's error handler.
[[noreturn]] void end_at_gdal_fatal(bool out_of_memory, const char* message);
