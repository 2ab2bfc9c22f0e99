// Test helpers: a Program state whose grids are written in the source as rows,
// and a capture of the console.
#pragma once

#include "base/console.h"
#include "base/program_state.h"
#include "nrutil.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// An empty pixel, short enough to keep drawn grids aligned.
inline constexpr int E = NO_DATA;

using Rows = std::vector<std::vector<int>>;

// Owns a Program state whose three int grids come from imatrice, itab filled
// with `rows` (all of the same length) and itab1, itab2 left zero-filled.
struct Grid_state {
    Program_state s;

    explicit Grid_state(const Rows& rows)
    {
        s.nb_lig = static_cast<int>(rows.size());
        s.nb_col = rows.empty() ? 0 : static_cast<int>(rows[0].size());
        s.itab = imatrice(s.nb_col, s.nb_lig);
        s.itab1 = imatrice(s.nb_col, s.nb_lig);
        s.itab2 = imatrice(s.nb_col, s.nb_lig);
        for (int i = 0; i < s.nb_lig; ++i)
            for (int j = 0; j < s.nb_col; ++j) s.itab[i][j] = rows[i][j];
    }
    ~Grid_state()
    {
        frimatrice(s.itab, s.nb_lig);
        frimatrice(s.itab1, s.nb_lig);
        frimatrice(s.itab2, s.nb_lig);
    }
    Grid_state(const Grid_state&) = delete;
    Grid_state& operator=(const Grid_state&) = delete;

    Rows rows(int** grid) const
    {
        Rows out(static_cast<std::size_t>(s.nb_lig));
        for (int i = 0; i < s.nb_lig; ++i) out[i].assign(grid[i], grid[i] + s.nb_col);
        return out;
    }
    Rows itab() const { return rows(s.itab); }
    Rows itab1() const { return rows(s.itab1); }
    Rows itab2() const { return rows(s.itab2); }
};

// A grid of nb_lig x nb_col rows whose pixel (l, c) is f(l, c).
template <typename F> Rows make_rows(int nb_lig, int nb_col, F f)
{
    Rows out(static_cast<std::size_t>(nb_lig), std::vector<int>(static_cast<std::size_t>(nb_col)));
    for (int l = 0; l < nb_lig; ++l)
        for (int c = 0; c < nb_col; ++c) out[l][c] = f(l, c);
    return out;
}

// The lines and columns of `rows` exchanged.
inline Rows transposed(const Rows& rows)
{
    return make_rows(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()),
                     [&](int l, int c) { return rows[c][l]; });
}

// Sends the console to a temporary file while alive; text() returns what was said.
class Console_capture {
  public:
    Console_capture() : sink_(std::tmpfile()) { old_ = console_redirect(sink_); }
    ~Console_capture()
    {
        console_redirect(old_);
        std::fclose(sink_);
    }
    Console_capture(const Console_capture&) = delete;
    Console_capture& operator=(const Console_capture&) = delete;

    // Everything said so far; the sink stays at its end for what follows.
    std::string text()
    {
        std::fflush(sink_);
        std::string said(static_cast<std::size_t>(std::ftell(sink_)), '\0');
        std::rewind(sink_);
        said.resize(std::fread(said.data(), 1, said.size(), sink_));
        // A write after a read needs a seek in between.
        std::fseek(sink_, 0, SEEK_END);
        return said;
    }

  private:
    std::FILE* sink_;
    std::FILE* old_ = nullptr;
};
