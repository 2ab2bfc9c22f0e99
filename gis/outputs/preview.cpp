// The picture of a DEM: hillshade blended with a colour ramp by altitude,
// the input contours over it and a legend of the range. Plain arrays only;
// preview_png.cpp hands the result to GDAL.
#include "gis/outputs/preview.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace {

// The light: from the north-west, 45 degrees above the horizon.
constexpr double kAzimuth = 315.0 * std::numbers::pi / 180.0;
constexpr double kAltitude = 45.0 * std::numbers::pi / 180.0;
// The shade of flat ground, which keeps the ramp's colour unchanged.
const double kFlat_shade = std::sin(kAltitude);
// Share of the colour that the shade cannot take away, so that shadowed
// slopes still show their altitude.
constexpr double kAmbient = 0.35;

struct Stop {
    double t;
    std::uint8_t rgb[3];
};
// Lowland green to sand, brown and near-white summits.
constexpr Stop kRamp[] = {
    {0.00, {38, 115, 77}},  {0.25, {117, 168, 82}},  {0.50, {226, 211, 132}},
    {0.75, {173, 116, 66}}, {1.00, {245, 240, 235}},
};
constexpr std::uint8_t kContour[3] = {70, 40, 20};
constexpr double kContour_opacity = 0.65;

// Digits and the minus sign, 3 x 5 pixels, one row per 3-bit number, the
// top row first and the leftmost pixel the highest bit.
constexpr std::uint8_t kGlyphs[11][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {0, 0, 7, 0, 0},
};
constexpr int kGlyph_w = 3;
constexpr int kGlyph_h = 5;

// Legend geometry, in image pixels.
constexpr int kLegend_min_height = 48; // below this only the metadata tells the range
constexpr int kMargin = 8;
constexpr int kBar_w = 14;
constexpr int kTick_w = 4;

struct Canvas {
    Rgba_image& img;
    void put(int x, int y, const std::uint8_t rgb[3], std::uint8_t a = 255)
    {
        if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
        std::uint8_t* p =
            &img.px[(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) +
                     static_cast<std::size_t>(x)) *
                    4];
        p[0] = rgb[0];
        p[1] = rgb[1];
        p[2] = rgb[2];
        p[3] = a;
    }
    void text(int x, int y, const std::string& s, int scale, const std::uint8_t rgb[3])
    {
        for (char ch : s) {
            const int g = ch == '-' ? 10 : ch - '0';
            if (g < 0 || g > 10) continue;
            for (int r = 0; r < kGlyph_h; ++r)
                for (int c = 0; c < kGlyph_w; ++c)
                    if (kGlyphs[g][r] & (4 >> c))
                        for (int dy = 0; dy < scale; ++dy)
                            for (int dx = 0; dx < scale; ++dx)
                                put(x + c * scale + dx, y + r * scale + dy, rgb);
            x += (kGlyph_w + 1) * scale;
        }
    }
};

std::uint8_t channel(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

int value_at(const Relief_view& v, int i, int j)
{
    const int z = v.dem[i][j];
    return v.low16 ? static_cast<int>(static_cast<unsigned>(z) & 0xFFFFu) : z;
}

bool empty_at(const Relief_view& v, int i, int j) { return v.has_empty && v.dem[i][j] == NO_DATA; }

// Altitude of the neighbour (i, j) clamped to the grid; an empty one stands
// in with the centre's altitude, so that no slope runs to NO_DATA.
double neighbour(const Relief_view& v, int i, int j, double centre)
{
    i = std::clamp(i, 0, v.nb_lig - 1);
    j = std::clamp(j, 0, v.nb_col - 1);
    return empty_at(v, i, j) ? centre : value_at(v, i, j);
}

void draw_legend(Canvas& cv, int x0, int height, const Altitude_range& range, int scale)
{
    const std::uint8_t white[3] = {255, 255, 255};
    const std::uint8_t ink[3] = {40, 40, 40};
    for (int y = 0; y < height; ++y)
        for (int x = x0; x < cv.img.width; ++x) cv.put(x, y, white);
    const int top = kMargin, bottom = height - 1 - kMargin;
    const int bx = x0 + kMargin;
    for (int y = top; y <= bottom; ++y) {
        std::uint8_t rgb[3];
        ramp_colour(1.0 - static_cast<double>(y - top) / (bottom - top), rgb);
        for (int x = bx; x < bx + kBar_w; ++x) cv.put(x, y, rgb);
        cv.put(bx - 1, y, ink);
        cv.put(bx + kBar_w, y, ink);
    }
    for (int x = bx - 1; x <= bx + kBar_w; ++x) {
        cv.put(x, top - 1, ink);
        cv.put(x, bottom + 1, ink);
    }
    // Labels from the top (the maximum) down, as many as fit apart.
    const int glyph_h = kGlyph_h * scale;
    int labels = std::min(5, (bottom - top) / (glyph_h + 4) + 1);
    if (range.min == range.max) labels = 1;
    for (int k = 0; k < labels; ++k) {
        const double f = labels == 1 ? 0.0 : static_cast<double>(k) / (labels - 1);
        const int y = labels == 1 ? (top + bottom) / 2
                                  : top + static_cast<int>(std::lround(f * (bottom - top)));
        const double value = range.max - f * (static_cast<double>(range.max) - range.min);
        for (int x = bx + kBar_w + 1; x <= bx + kBar_w + kTick_w; ++x) cv.put(x, y, ink);
        const int ty = std::clamp(y - glyph_h / 2, 0, height - glyph_h);
        cv.text(bx + kBar_w + kTick_w + 3, ty, std::to_string(std::lround(value)), scale, ink);
    }
}

} // namespace

Altitude_range relief_range(const Relief_view& v)
{
    Altitude_range r;
    for (int i = 0; i < v.nb_lig; ++i)
        for (int j = 0; j < v.nb_col; ++j) {
            if (empty_at(v, i, j)) continue;
            const int z = value_at(v, i, j);
            r.min = r.any ? std::min(r.min, z) : z;
            r.max = r.any ? std::max(r.max, z) : z;
            r.any = true;
        }
    return r;
}

double hillshade(double dzde, double dzdn)
{
    const double norm = std::sqrt(dzde * dzde + dzdn * dzdn + 1.0);
    const double lx = std::sin(kAzimuth) * std::cos(kAltitude);
    const double ly = std::cos(kAzimuth) * std::cos(kAltitude);
    const double lz = std::sin(kAltitude);
    return std::max(0.0, (-dzde * lx - dzdn * ly + lz) / norm);
}

void ramp_colour(double t, std::uint8_t rgb[3])
{
    t = std::clamp(t, 0.0, 1.0);
    std::size_t k = 0;
    while (k + 2 < std::size(kRamp) && t > kRamp[k + 1].t) ++k;
    const Stop& a = kRamp[k];
    const Stop& b = kRamp[k + 1];
    const double f = (t - a.t) / (b.t - a.t);
    for (int c = 0; c < 3; ++c) rgb[c] = channel(a.rgb[c] + f * (b.rgb[c] - a.rgb[c]));
}

double auto_zfactor(double span, double diagonal)
{
    // A relief of a twentieth of the diagonal reads well unexaggerated.
    if (!(span > 0) || !(diagonal > 0)) return 1;
    return std::clamp(diagonal / span / 20.0, 1.0, 50.0);
}

Rgba_image render_relief(const Relief_view& v, int step, const Altitude_range& range)
{
    step = std::max(step, 1);
    const int w = (v.nb_col + step - 1) / step;
    const int h = (v.nb_lig + step - 1) / step;
    const int scale = h >= 100 ? 2 : 1;
    std::size_t chars =
        std::max(std::to_string(range.min).size(), std::to_string(range.max).size());
    const int legend_w = range.any && h >= kLegend_min_height
                             ? kMargin + kBar_w + kTick_w + 3 +
                                   static_cast<int>(chars) * (kGlyph_w + 1) * scale + kMargin
                             : 0;
    Rgba_image img;
    img.width = w + legend_w;
    img.height = h;
    img.px.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) * 4,
                  0);
    Canvas cv{img};

    const double span = static_cast<double>(range.max) - range.min;
    const double ex = 8.0 * v.dx * step / v.zfactor, ny = 8.0 * v.dy * step / v.zfactor;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int i = r * step, j = c * step;
            if (empty_at(v, i, j)) continue; // transparent
            const double z = value_at(v, i, j);
            auto n = [&](int di, int dj) { return neighbour(v, i + di * step, j + dj * step, z); };
            // Horn's weights; line 0 is the north edge.
            const double dzde =
                ((n(-1, 1) + 2 * n(0, 1) + n(1, 1)) - (n(-1, -1) + 2 * n(0, -1) + n(1, -1))) / ex;
            const double dzdn =
                ((n(-1, -1) + 2 * n(-1, 0) + n(-1, 1)) - (n(1, -1) + 2 * n(1, 0) + n(1, 1))) / ny;
            const double light = kAmbient + (1.0 - kAmbient) * hillshade(dzde, dzdn) / kFlat_shade;
            std::uint8_t rgb[3];
            ramp_colour(span > 0 ? (z - range.min) / span : 0.5, rgb);
            std::uint8_t out[3];
            for (int k = 0; k < 3; ++k) out[k] = channel(rgb[k] * light);
            if (v.contours &&
                v.contours[static_cast<std::size_t>(i) * static_cast<std::size_t>(v.nb_col) +
                           static_cast<std::size_t>(j)])
                for (int k = 0; k < 3; ++k)
                    out[k] = channel(out[k] + kContour_opacity * (kContour[k] - out[k]));
            cv.put(c, r, out);
        }
    if (legend_w > 0) draw_legend(cv, w, h, range, scale);
    return img;
}
