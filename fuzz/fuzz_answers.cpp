// The answer reader on arbitrary input: every question either gets a value
// or the input ends; it never loops on a closed input and never crashes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "control/control.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::FILE* null_console = std::fopen("/dev/null", "w");
    console_redirect(null_console);
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (!in) return 0;
    answers_from(in);
    // Bounded: each answer consumes at least one character of the input.
    try {
        for (std::size_t k = 0; k <= size; ++k) {
            if (k % 3 == 0)
                (void)read_name_answer();
            else
                (void)ask_number("? ");
        }
        std::abort(); // more answers than characters
    } catch (const Run_error&) {
    }
    answers_from(nullptr);
    std::fclose(in);
    return 0;
}
