// The smoothing stage: every pixel becomes the value of the Bezier patch over
// its window.
#include "base/console.h"
#include "base/program_state.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <stdexcept>
#include <string>

namespace reference {

namespace {

// Beyond this degree the rounded quotient of factorials no longer fits the
// 64-bit integer through which Comb truncates it.
constexpr int kMax_degree = 66;

} // namespace

// Reads itab only, so every pixel is smoothed from the unsmoothed surface.
void smoothing(Program_state& s, int maille)
{
    if (maille >= s.nb_lig || maille >= s.nb_col)
        throw std::invalid_argument("smoothing: a window of " + std::to_string(maille + 1) +
                                    " pixels does not fit a grid of " + std::to_string(s.nb_lig) +
                                    " lines and " + std::to_string(s.nb_col) + " columns");
    if (maille > kMax_degree)
        throw std::invalid_argument("smoothing: mesh size " + std::to_string(maille) +
                                    " is above the largest degree, " + std::to_string(kMax_degree));

    say("\n\tSize of the window smoothing : %d \n\n", maille);
    for (int l = 0; l < s.nb_lig; ++l) {
        // Ends with a carriage return, so that the line overwrites itself.
        if ((l + 1) % 100 == 0) say("\tline %d                  \r    ", l + 1);
        for (int c = 0; c < s.nb_col; ++c)
            s.itab1[l][c] = static_cast<int>(reference::InterpolePointSpline(
                s, static_cast<double>(c), static_cast<double>(l), maille));
    }
}

} // namespace reference
