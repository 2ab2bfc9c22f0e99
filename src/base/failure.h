// How a run fails and where it may stop: the error that ends it in the
// program's own words, and the safe points at which an interrupt, or a
// console gone, ends it.
#pragma once

#include "base/console.h"

#include <cstdarg>
#include <stdexcept>
#include <string>

// A failure that ends the run with exit status 1. what() is the console text,
// in the program's own words, ready to print.
struct Run_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text of a printf format and its arguments, whatever its length.
std::string format_text(const char* fmt, va_list args);

// Throws a Run_error whose text is formatted like printf.
[[noreturn]] void fail(const char* fmt, ...) RF_PRINTF(1, 2);

// Whether the next safe point will end the run. Safe to call from any thread.
bool interrupt_pending();

// A safe point of the run: where the host records interrupts rather than
// acting on them at once, throws the interruption's Run_error when one came.
void interruption_point();

// What an interrupt reports, at a safe point or from the POSIX signal
// handler: `message` must outlive the run. Reading it is async-signal-safe.
void set_interruption_message(const char* message);
const char* interruption_message();
