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
// The sea: light blue at the shore to deep blue.
constexpr Stop kSea[] = {
    {0.00, {190, 228, 245}},
    {0.50, {74, 144, 200}},
    {1.00, {16, 52, 112}},
};
constexpr std::uint8_t kContour[3] = {70, 40, 20};
constexpr double kContour_opacity = 0.65;

// The legend's characters, 5 pixels high and 3 wide (5 for the m), one row
// per number, the top row first and the leftmost pixel the highest bit.
struct Glyph {
    char ch;
    std::uint8_t rows[5];
    int w = 3;
};
constexpr Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}},        {'2', {7, 1, 7, 4, 7}},
    {'3', {7, 1, 7, 1, 7}}, {'4', {5, 5, 7, 1, 1}},        {'5', {7, 4, 7, 1, 7}},
    {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},        {'8', {7, 5, 7, 5, 7}},
    {'9', {7, 5, 7, 1, 7}}, {'-', {0, 0, 7, 0, 0}},        {'.', {0, 0, 0, 0, 2}},
    {' ', {0, 0, 0, 0, 0}}, {'m', {0, 26, 21, 21, 21}, 5}, {'f', {3, 4, 6, 4, 4}},
    {'t', {2, 7, 2, 2, 3}}, {'x', {0, 5, 2, 5, 0}},        {'V', {5, 5, 5, 5, 2}},
    {'E', {7, 4, 6, 4, 7}}, {'k', {4, 5, 6, 5, 5}},
};
constexpr int kGlyph_w = 3;
constexpr int kGlyph_h = 5;

// Legend geometry, in image pixels.
constexpr int kLegend_min_height = 48; // below this only the metadata tells the range
constexpr int kMargin = 8;
constexpr int kBar_w = 14;
constexpr int kTick_w = 4;
constexpr int kMost_ticks = 6;

const Glyph* glyph_of(char ch)
{
    for (const Glyph& g : kGlyphs)
        if (g.ch == ch) return &g;
    return nullptr;
}

int text_width(const std::string& s, int scale)
{
    int w = 0;
    for (char ch : s) {
        const Glyph* g = glyph_of(ch);
        w += ((g ? g->w : kGlyph_w) + 1) * scale;
    }
    return w;
}

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
            const Glyph* g = glyph_of(ch);
            const int w = g ? g->w : kGlyph_w;
            if (g)
                for (int r = 0; r < kGlyph_h; ++r)
                    for (int c = 0; c < w; ++c)
                        if (g->rows[r] & (1 << (w - 1 - c)))
                            for (int dy = 0; dy < scale; ++dy)
                                for (int dx = 0; dx < scale; ++dx)
                                    put(x + c * scale + dx, y + r * scale + dy, rgb);
            x += (w + 1) * scale;
        }
    }
};

std::uint8_t channel(double v)
{
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

template <std::size_t N> void ramp_of(const Stop (&ramp)[N], double t, std::uint8_t rgb[3])
{
    t = std::clamp(t, 0.0, 1.0);
    std::size_t k = 0;
    while (k + 2 < N && t > ramp[k + 1].t) ++k;
    const Stop& a = ramp[k];
    const Stop& b = ramp[k + 1];
    const double f = (t - a.t) / (b.t - a.t);
    for (int c = 0; c < 3; ++c) rgb[c] = channel(a.rgb[c] + f * (b.rgb[c] - a.rgb[c]));
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

// A tick's label: the altitude, without trailing zeros.
std::string tick_label(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string exaggeration_label(double zfactor)
{
    char text[32];
    std::snprintf(text, sizeof text, "VE x%.2g", zfactor);
    return text;
}

struct Legend {
    std::vector<double> ticks; // in the DEM's values
    std::vector<std::string> labels;
    std::string unit, exaggeration;
    int width = 0;
};

Legend legend_of(const Relief_view& v, const Altitude_range& range, int scale)
{
    Legend l;
    const double d = v.divisor > 0 ? v.divisor : 1;
    for (double t : round_ticks(range.min / d, range.max / d, kMost_ticks)) {
        l.ticks.push_back(t * d);
        l.labels.push_back(tick_label(t));
    }
    l.unit = v.unit;
    l.exaggeration = exaggeration_label(v.zfactor);
    // The unit and the exaggeration start under the bar, the labels right of
    // its ticks.
    const int label_x = kBar_w + kTick_w + 3;
    int text = std::max(text_width(l.unit, scale), text_width(l.exaggeration, scale)) - label_x;
    for (const std::string& s : l.labels) text = std::max(text, text_width(s, scale));
    l.width = kMargin + kBar_w + kTick_w + 3 + std::max(0, text) + kMargin;
    return l;
}

void draw_legend(Canvas& cv, int x0, int height, const Altitude_range& range, const Legend& l,
                 int scale)
{
    const std::uint8_t white[3] = {255, 255, 255};
    const std::uint8_t ink[3] = {40, 40, 40};
    for (int y = 0; y < height; ++y)
        for (int x = x0; x < cv.img.width; ++x) cv.put(x, y, white);
    const int glyph_h = kGlyph_h * scale;
    // The unit above the bar, the exaggeration below it.
    const int top = kMargin + glyph_h + 4, bottom = height - 1 - kMargin - glyph_h - 4;
    const int bx = x0 + kMargin;
    cv.text(bx, kMargin, l.unit, scale, ink);
    cv.text(bx, height - kMargin - glyph_h, l.exaggeration, scale, ink);
    const double span = static_cast<double>(range.max) - range.min;
    auto y_of = [&](double value) {
        return span > 0
                   ? top +
                         static_cast<int>(std::lround((range.max - value) / span * (bottom - top)))
                   : (top + bottom) / 2;
    };
    for (int y = top; y <= bottom; ++y) {
        std::uint8_t rgb[3];
        const double f = static_cast<double>(y - top) / std::max(1, bottom - top);
        altitude_colour(range.max - f * span, range, rgb);
        for (int x = bx; x < bx + kBar_w; ++x) cv.put(x, y, rgb);
        cv.put(bx - 1, y, ink);
        cv.put(bx + kBar_w, y, ink);
    }
    for (int x = bx - 1; x <= bx + kBar_w; ++x) {
        cv.put(x, top - 1, ink);
        cv.put(x, bottom + 1, ink);
    }
    for (std::size_t k = 0; k < l.ticks.size(); ++k) {
        const int y = y_of(l.ticks[k]);
        for (int x = bx + kBar_w + 1; x <= bx + kBar_w + kTick_w; ++x) cv.put(x, y, ink);
        const int ty = std::clamp(y - glyph_h / 2, 0, height - glyph_h);
        cv.text(bx + kBar_w + kTick_w + 3, ty, l.labels[k], scale, ink);
    }
}

} // namespace

void sea_colour(double t, std::uint8_t rgb[3]) { ramp_of(kSea, t, rgb); }

void altitude_colour(double z, const Altitude_range& range, std::uint8_t rgb[3])
{
    if (range.min < 0 && z < 0) {
        sea_colour(z / range.min, rgb);
        return;
    }
    const double lo = range.min < 0 ? 0.0 : range.min;
    const double span = range.max - lo;
    ramp_colour(span > 0 ? (z - lo) / span : 0.5, rgb);
}

std::vector<double> round_ticks(double lo, double hi, int most)
{
    if (!(hi > lo)) return {lo};
    const double raw = (hi - lo) / std::max(1, most - 1);
    double step = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (step * m >= raw) {
            step *= m;
            break;
        }
    // Fewer than three ticks: a finer step, as long as it stays round.
    const auto count = [&](double s) {
        return std::floor(hi / s + 1e-9) - std::ceil(lo / s - 1e-9) + 1;
    };
    while (count(step) < 3) {
        const double digit = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
        step *= digit > 4.5 ? 0.4 : 0.5;
    }
    std::vector<double> ticks;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + 1e-9 * step; ++k)
        ticks.push_back(k * step == 0 ? 0.0 : k * step);
    return ticks;
}

void picture_size(const Relief_view& v, int min_side, int max_side, int& width, int& height)
{
    const double cell = std::min(v.dx, v.dy);
    double w = v.nb_col * v.dx / cell, h = v.nb_lig * v.dy / cell;
    const double longer = std::max(w, h);
    const double scale = longer < min_side   ? min_side / longer
                         : longer > max_side ? max_side / longer
                                             : 1.0;
    width = std::max(1, static_cast<int>(std::lround(w * scale)));
    height = std::max(1, static_cast<int>(std::lround(h * scale)));
}

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

void ramp_colour(double t, std::uint8_t rgb[3]) { ramp_of(kRamp, t, rgb); }

double auto_zfactor(double span, double diagonal)
{
    // A relief of a twentieth of the diagonal reads well unexaggerated.
    if (!(span > 0) || !(diagonal > 0)) return 1;
    return std::clamp(diagonal / span / 20.0, 1.0, 50.0);
}

double scale_bar_length(double ground_width)
{
    if (!(ground_width > 0)) return 0;
    const double most = ground_width / 4;
    const double p = std::pow(10.0, std::floor(std::log10(most)));
    for (double m : {5.0, 2.0, 1.0})
        if (m * p <= most * (1 + 1e-9)) return m * p;
    return p;
}

std::string scale_bar_label(double length, const std::string& unit)
{
    char text[32];
    if (unit == "m" && length >= 1000)
        std::snprintf(text, sizeof text, "%.10g km", length / 1000);
    else
        std::snprintf(text, sizeof text, unit.empty() ? "%.10g" : "%.10g %s", length, unit.c_str());
    return text;
}

namespace {

// The scale bar on a white ground at the bottom left of the relief.
void draw_scale_bar(Canvas& cv, const Relief_view& v, int w, int h, int scale)
{
    const double per_pixel = v.nb_col * v.dx / w;
    const double length = scale_bar_length(v.nb_col * v.dx);
    const int bar = static_cast<int>(std::lround(length / per_pixel));
    const std::string label = scale_bar_label(length, v.ground_unit);
    if (bar < 4) return;
    const std::uint8_t white[3] = {255, 255, 255};
    const std::uint8_t ink[3] = {40, 40, 40};
    const int pad = 3 * scale, glyph_h = kGlyph_h * scale, thick = 2 * scale;
    const int box_w = std::max(bar, text_width(label, scale)) + 2 * pad;
    const int box_h = glyph_h + thick + 3 * pad;
    const int x0 = kMargin, y0 = h - kMargin - box_h;
    if (x0 + box_w > w || y0 < 0) return;
    for (int y = y0; y < y0 + box_h; ++y)
        for (int x = x0; x < x0 + box_w; ++x) cv.put(x, y, white, 220);
    cv.text(x0 + pad, y0 + pad, label, scale, ink);
    for (int y = y0 + 2 * pad + glyph_h; y < y0 + 2 * pad + glyph_h + thick; ++y)
        for (int x = x0 + pad; x < x0 + pad + bar; ++x) cv.put(x, y, ink);
}

} // namespace

Rgba_image render_relief(const Relief_view& v, int width, int height, const Altitude_range& range)
{
    const int w = std::max(1, width), h = std::max(1, height);
    const int scale = h >= 100 ? 2 : 1;
    Legend legend;
    if (range.any && h >= kLegend_min_height) legend = legend_of(v, range, scale);
    Rgba_image img;
    img.width = w + legend.width;
    img.height = h;
    img.px.assign(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) * 4,
                  0);
    Canvas cv{img};

    // Cells per picture pixel on each axis: the slopes are taken over as
    // many cells, so that a reduced picture shades the relief it shows.
    const double per_col = static_cast<double>(v.nb_col) / w;
    const double per_line = static_cast<double>(v.nb_lig) / h;
    const int sj = std::max(1, static_cast<int>(std::lround(per_col)));
    const int si = std::max(1, static_cast<int>(std::lround(per_line)));
    // The values are altitudes times the divisor: so are the slopes.
    const double d = v.divisor > 0 ? v.divisor : 1;
    const double ex = 8.0 * v.dx * sj * d / v.zfactor, ny = 8.0 * v.dy * si * d / v.zfactor;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int i = std::min(v.nb_lig - 1, static_cast<int>((r + 0.5) * per_line));
            const int j = std::min(v.nb_col - 1, static_cast<int>((c + 0.5) * per_col));
            if (empty_at(v, i, j)) continue; // transparent
            const double z = value_at(v, i, j);
            auto n = [&](int di, int dj) { return neighbour(v, i + di * si, j + dj * sj, z); };
            // Horn's weights; line 0 is the north edge.
            const double dzde =
                ((n(-1, 1) + 2 * n(0, 1) + n(1, 1)) - (n(-1, -1) + 2 * n(0, -1) + n(1, -1))) / ex;
            const double dzdn =
                ((n(-1, -1) + 2 * n(-1, 0) + n(-1, 1)) - (n(1, -1) + 2 * n(1, 0) + n(1, 1))) / ny;
            const double light = kAmbient + (1.0 - kAmbient) * hillshade(dzde, dzdn) / kFlat_shade;
            std::uint8_t rgb[3];
            altitude_colour(z, range, rgb);
            std::uint8_t out[3];
            for (int k = 0; k < 3; ++k) out[k] = channel(rgb[k] * light);
            if (v.contours &&
                v.contours[static_cast<std::size_t>(i) * static_cast<std::size_t>(v.nb_col) +
                           static_cast<std::size_t>(j)])
                for (int k = 0; k < 3; ++k)
                    out[k] = channel(out[k] + kContour_opacity * (kContour[k] - out[k]));
            cv.put(c, r, out);
        }
    if (legend.width > 0) draw_legend(cv, w, h, range, legend, scale);
    if (h >= kLegend_min_height) draw_scale_bar(cv, v, w, h, scale);
    return img;
}
