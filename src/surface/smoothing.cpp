// The smoothing stage: every pixel becomes the value of the Bezier patch over
// its window, computed as InterpolePointSpline computes it, in time linear in
// the mesh size.
//
// A pixel's weights depend only on its offset in its clamped window, so the
// n + 1 weight vectors are computed once. The column product of one window
// line, M = sum over j of B[j] * V[j] (single precision after every
// addition, j from 0), depends only on the grid line and on the pixel's
// column, so it is computed once per line and column and shared by the
// n + 1 pixels whose windows hold that line; z then sums U[i] * M[i] in
// double, i from 0. Every rounding is the per-pixel one, in the same order.
#include "base/console.h"
#include "base/failure.h"
#include "base/program_state.h"
#include "surface/bezier_window.h"
#include "surface/parallel.h"
#include "surface/surface.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Beyond this degree the rounded quotient of factorials no longer fits the
// 64-bit integer through which Comb truncates it.
constexpr int kMax_degree = 66;

// Lines given to a worker at a time. Each block recomputes the n window
// lines it shares with the block before, so blocks are much taller than n.
int block_lines(int n) { return std::max(256, 8 * (n + 1)); }

// What every worker reads: the weights and the window of every line and
// column.
struct Plan {
    int n = 0;
    int stride = 0;           // n + 1
    std::vector<float> w;     // w[k * stride + i]: weight i at window offset k
    std::vector<int> col0;    // first window column of each column
    std::vector<int> col_off; // offset of each column in its window
    std::vector<int> lig0;    // first window line of each line
    std::vector<int> lig_off; // offset of each line in its window
    int inner_first = 0;      // columns inner_first .. inner_end - 1 sit at
    int inner_end = 0;        // offset h of a window starting h before them

    const float* weights(int offset) const
    {
        return w.data() + static_cast<std::size_t>(offset) * static_cast<std::size_t>(stride);
    }
};

void window_of_each(int size, int n, std::vector<int>& first, std::vector<int>& offset)
{
    first.resize(static_cast<std::size_t>(size));
    offset.resize(static_cast<std::size_t>(size));
    for (int p = 0; p < size; ++p) {
        first[static_cast<std::size_t>(p)] = bezier_window_first(static_cast<double>(p), n, size);
        offset[static_cast<std::size_t>(p)] = p - first[static_cast<std::size_t>(p)];
    }
}

Plan make_plan(const Program_state& s, int n)
{
    Plan p;
    p.n = n;
    p.stride = n + 1;
    p.w.resize(static_cast<std::size_t>(p.stride) * static_cast<std::size_t>(p.stride));
    // The parameter of offset k is the one of the pixel k after its window's
    // start, wherever that window lies.
    for (int k = 0; k <= n; ++k) {
        const double t = bezier_parameter(static_cast<double>(k), 0, n);
        for (int i = 0; i <= n; ++i)
            p.w[static_cast<std::size_t>(k * p.stride + i)] = bezier_weight(i, n, t);
    }
    window_of_each(s.nb_col, n, p.col0, p.col_off);
    window_of_each(s.nb_lig, n, p.lig0, p.lig_off);
    const int h = n >> 1;
    p.inner_first = std::min(h, s.nb_col);
    p.inner_end = p.inner_first;
    while (p.inner_end < s.nb_col && p.col_off[static_cast<std::size_t>(p.inner_end)] == h)
        ++p.inner_end;
    return p;
}

// Working storage of one worker, allocated before the workers start.
struct Worker_lines {
    std::vector<float> ring; // M of n + 1 consecutive grid lines, line g in slot g % (n + 1)
    std::vector<float> line; // one grid line in single precision
    std::vector<double> z;   // the accumulators of one output line
    Worker_lines(int n, int nb_col)
        : ring(static_cast<std::size_t>(n + 1) * static_cast<std::size_t>(nb_col)),
          line(static_cast<std::size_t>(nb_col)), z(static_cast<std::size_t>(nb_col))
    {
    }
    float* slot(int g, int n, int nb_col)
    {
        return ring.data() +
               static_cast<std::size_t>(g % (n + 1)) * static_cast<std::size_t>(nb_col);
    }
};

// One multiply-add of the column product, rounded as the per-pixel sum is.
inline float column_step(float b, float v, float m)
{
    return static_cast<float>(static_cast<long double>(b) * static_cast<long double>(v) +
                              static_cast<long double>(m));
}

// M of grid line g for every column: sum over j of itab[g][col0 + j] * V[j].
void column_products(const Program_state& s, const Plan& p, int g, Worker_lines& wl, float* M)
{
    const int nb_col = s.nb_col;
    const int* src = s.itab[g];
    float* B = wl.line.data();
    for (int c = 0; c < nb_col; ++c) B[c] = static_cast<float>(src[c]);
    std::fill(M, M + nb_col, 0.0f);

    const int h = p.n >> 1;
    const float* V = p.weights(h);
    for (int j = 0; j <= p.n; ++j) {
        const float v = V[j];
        for (int c = p.inner_first; c < p.inner_end; ++c) M[c] = column_step(B[c - h + j], v, M[c]);
    }
    // The columns whose window is pushed inside the grid.
    const auto border = [&](int c) {
        const float* Vc = p.weights(p.col_off[static_cast<std::size_t>(c)]);
        const float* Bc = B + p.col0[static_cast<std::size_t>(c)];
        float m = 0.0f;
        for (int j = 0; j <= p.n; ++j) m = column_step(Bc[j], Vc[j], m);
        M[c] = m;
    };
    for (int c = 0; c < p.inner_first; ++c) border(c);
    for (int c = p.inner_end; c < nb_col; ++c) border(c);
}

// Output line l from the M of its n + 1 window lines.
void line_product(Program_state& s, const Plan& p, int l, Worker_lines& wl)
{
    const int nb_col = s.nb_col;
    const int top = p.lig0[static_cast<std::size_t>(l)];
    const float* U = p.weights(p.lig_off[static_cast<std::size_t>(l)]);
    double* z = wl.z.data();
    std::fill(z, z + nb_col, 0.0);
    for (int i = 0; i <= p.n; ++i) {
        const long double u = U[i];
        const float* M = wl.slot(top + i, p.n, nb_col);
        for (int c = 0; c < nb_col; ++c)
            z[c] = static_cast<double>(u * static_cast<long double>(M[c]) +
                                       static_cast<long double>(z[c]));
    }
    int* out = s.itab1[l];
    for (int c = 0; c < nb_col; ++c) out[c] = static_cast<int>(z[c]);
}

// Lines first .. end - 1, rolling the M of the window lines along.
void smooth_block(Program_state& s, const Plan& p, int first, int end, Worker_lines& wl,
                  Line_progress& progress)
{
    int next = p.lig0[static_cast<std::size_t>(first)];
    for (int l = first; l < end; ++l) {
        // Window tops never move up, so the slot of a line is free again
        // once the window has passed it.
        const int bottom = p.lig0[static_cast<std::size_t>(l)] + p.n;
        for (; next <= bottom; ++next)
            column_products(s, p, next, wl, wl.slot(next, p.n, s.nb_col));
        line_product(s, p, l, wl);
        progress.finish(l);
    }
}

// Ends with a carriage return, so that the line overwrites itself.
void announce_line(int l)
{
    if ((l + 1) % 100 == 0) say("\tline %d                  \r    ", l + 1);
}

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

    const int n = maille;
    const Plan plan = make_plan(s, n);
    const int block = block_lines(n);
    const int blocks = (s.nb_lig + block - 1) / block;
    const int workers =
        std::min(worker_count(static_cast<std::int64_t>(s.nb_lig) * s.nb_col), blocks);
    std::vector<Worker_lines> lines;
    lines.reserve(static_cast<std::size_t>(workers));
    for (int t = 0; t < workers; ++t) lines.emplace_back(n, s.nb_col);

    say("\n\tSize of the window smoothing : %d \n\n", maille);
    Line_progress progress(s.nb_lig, announce_line);
    std::atomic<int> next_block{0};
    // A run that is to end at its next safe point takes no further block.
    run_workers(workers, [&](int t) {
        for (int b = next_block++; b < blocks && !interrupt_pending(); b = next_block++) {
            const int first = b * block;
            smooth_block(s, plan, first, std::min(first + block, s.nb_lig),
                         lines[static_cast<std::size_t>(t)], progress);
        }
    });
}
