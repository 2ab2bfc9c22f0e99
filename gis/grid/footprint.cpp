// The contours' footprint: the convex hull of the contour cells, so that
// --clip leaves empty what lies beyond the outermost contours.
#include "gis/grid/grid.h"

#include <algorithm>
#include <cmath>

namespace {

struct Point {
    long long x, y; // column, line
};

long long cross(const Point& o, const Point& a, const Point& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Andrew's monotone chain; collinear points dropped. One or two points for
// degenerate sets.
std::vector<Point> convex_hull(std::vector<Point> p)
{
    std::sort(p.begin(), p.end(), [](const Point& a, const Point& b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    if (p.size() < 3) return p;
    std::vector<Point> h(2 * p.size());
    std::size_t k = 0;
    for (const Point& q : p) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], q) <= 0) --k;
        h[k++] = q;
    }
    for (std::size_t i = p.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    return h;
}

} // namespace

std::vector<std::uint8_t> contour_footprint(const Program_state& s)
{
    const std::size_t cols = static_cast<std::size_t>(s.nb_col);
    std::vector<std::uint8_t> inside(static_cast<std::size_t>(s.nb_lig) * cols, 0);
    // The leftmost and rightmost contour cell of each line span its hull.
    std::vector<Point> ends;
    for (int i = 0; i < s.nb_lig; ++i) {
        int first = -1, last = -1;
        for (int j = 0; j < s.nb_col; ++j)
            if (s.itype == 0 || s.itab[i][j] != NO_DATA) {
                if (first < 0) first = j;
                last = j;
            }
        if (first < 0) continue;
        ends.push_back({first, i});
        if (last != first) ends.push_back({last, i});
    }
    if (ends.empty()) return inside;
    const std::vector<Point> hull = convex_hull(ends);

    // The hull's span on each line, from its edges.
    std::vector<double> lo(static_cast<std::size_t>(s.nb_lig), HUGE_VAL);
    std::vector<double> hi(static_cast<std::size_t>(s.nb_lig), -HUGE_VAL);
    for (std::size_t e = 0; e < hull.size(); ++e) {
        const Point& a = hull[e];
        const Point& b = hull[(e + 1) % hull.size()];
        const long long y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
        for (long long y = y0; y <= y1; ++y) {
            const double x = a.y == b.y
                                 ? static_cast<double>(y == a.y ? a.x : b.x)
                                 : static_cast<double>(a.x) + static_cast<double>(b.x - a.x) *
                                                                  static_cast<double>(y - a.y) /
                                                                  static_cast<double>(b.y - a.y);
            const auto yi = static_cast<std::size_t>(y);
            lo[yi] =
                std::min({lo[yi], x, a.y == b.y ? static_cast<double>(std::min(a.x, b.x)) : x});
            hi[yi] =
                std::max({hi[yi], x, a.y == b.y ? static_cast<double>(std::max(a.x, b.x)) : x});
        }
    }
    for (int i = 0; i < s.nb_lig; ++i) {
        const auto ii = static_cast<std::size_t>(i);
        if (lo[ii] > hi[ii]) continue;
        const int j0 = std::max(0, static_cast<int>(std::ceil(lo[ii] - 1e-9)));
        const int j1 = std::min(s.nb_col - 1, static_cast<int>(std::floor(hi[ii] + 1e-9)));
        for (int j = j0; j <= j1; ++j) inside[ii * cols + static_cast<std::size_t>(j)] = 1;
    }
    return inside;
}

long long clip_to_footprint(Program_state& s, const std::vector<std::uint8_t>& footprint)
{
    long long cleared = 0;
    std::size_t k = 0;
    for (int i = 0; i < s.nb_lig; ++i)
        for (int j = 0; j < s.nb_col; ++j, ++k)
            if (!footprint[k] && s.itab1[i][j] != NO_DATA) {
                s.itab1[i][j] = NO_DATA;
                ++cleared;
            }
    return cleared;
}
