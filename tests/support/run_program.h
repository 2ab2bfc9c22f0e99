// Runs a built program as a child process with piped answers, under a home
// directory of the test's choosing, and collects what it printed. The same
// interface on POSIX (fork and exec) and on Windows (CreateProcess).
#pragma once

#include <string>
#include <vector>

struct Program_run {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status = -1; // exit status, or -1 when ended by a signal
    int signal = 0;  // the signal that ended it, if any
};

struct Run_options {
    std::string home;               // HOME of the child; unset when empty
    std::string input;              // written to the child's standard input
    bool unset_home = false;        // run with HOME removed from the environment
    long long file_size_limit = -1; // RLIMIT_FSIZE in bytes; POSIX only
    long long memory_limit = -1;    // RLIMIT_AS in bytes; POSIX only
    // When set, the standard input stays open after `input` until the output
    // or the error output contains this text; then `signal_to_send` is sent and the input closed.
    // On Windows any signal is sent as a Ctrl-C console event.
    std::string signal_after;
    int signal_to_send = 0;
    // With signal_after: the reader of the standard output goes away then too,
    // as `| head` does. POSIX only.
    bool close_output = false;
};

// On POSIX the child runs under the default signal dispositions with no
// signal blocked, as a shell starts a program. On Windows the console's line
// ends, CR LF in text mode, come back as LF.
Program_run run_program(const std::string& binary, const std::vector<std::string>& args,
                        const Run_options& options);

// A fresh temporary directory, removed with everything in it on destruction:
// in the system's temporary folder, or in `parent` when given.
struct Temp_dir {
    std::string path;
    explicit Temp_dir(const std::string& parent = "");
    ~Temp_dir();
    Temp_dir(const Temp_dir&) = delete;
    Temp_dir& operator=(const Temp_dir&) = delete;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// Names of the entries of a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

// `text` as the host writes a text file: CR LF line ends on Windows, LF elsewhere.
std::string host_text(const std::string& text);
