// contour_gen: writes a synthetic contour raster and its text header.
//
// The terrain is a gentle tilt plus a few Gaussian hills and valleys whose width and
// height grow with the raster, so that with the default equidistance of 10 the contours
// lie about 10 to 40 pixels apart at any size. The hilltop that stands highest above its
// surroundings is cut flat at a contour level (a plateau) unless --no-plateau is given.
// The lowest point of the terrain is at --base.
// 32-bit output: a pixel with a 4-neighbour on a lower level holds its own level
// (floor(altitude / E) * E), every other pixel -99999. 16-bit output: every pixel holds
// the altitude rounded and clamped to 0..65535.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int NO_DATA = -99999;
constexpr double REF_EQUID = 10.0;

const char* const USAGE =
    "usage: contour_gen --lines L --cols C --out DIR/NAME [--equidistance E (10)] [--seed S (1)]\n"
    "                   [--bits 32|16 (32)] [--pixel-size P (25)] [--base ALT (100)]\n"
    "                   [--no-plateau] [--no-header]\n"
    "writes DIR/NAME_c4.raw and DIR/NAME_c4.txt (_c2 with --bits 16)\n";

struct Options {
    int lines = 0, cols = 0, equid = 10, bits = 32, pixel_size = 25, base = 100;
    std::uint64_t seed = 1;
    std::string out;
    bool plateau = true, header = true;
};

struct Bump {
    double x, y, s, a;
};

struct Terrain {
    std::vector<Bump> bumps;
    double gx = 0, gy = 0, offset = 0;
    bool plateau = false;
    double px = 0, py = 0, pr = 0, plevel = 0, pramp = 0;
};

std::uint64_t splitmix64(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double uniform(std::uint64_t& state) { return (splitmix64(state) >> 11) * 0x1.0p-53; }

double raw_altitude(const Terrain& t, double x, double y)
{
    double a = t.gx * x + t.gy * y;
    for (const Bump& b : t.bumps) {
        double dx = x - b.x, dy = y - b.y, q = (dx * dx + dy * dy) / (2 * b.s * b.s);
        if (q < 40) a += b.a * std::exp(-q);
    }
    return a + t.offset;
}

// The plateau caps the terrain at its level within radius pr; the cap rises steeply
// beyond it so the surface stays continuous.
double altitude(const Terrain& t, double x, double y)
{
    double a = raw_altitude(t, x, y);
    if (!t.plateau) return a;
    double d = std::hypot(x - t.px, y - t.py);
    return std::min(a, t.plevel + std::max(0.0, d - t.pr) * t.pramp);
}

Terrain make_terrain(const Options& o)
{
    Terrain t;
    std::uint64_t rng = o.seed;
    double scale = std::min(o.lines, o.cols);
    double aspect = std::max(o.lines, o.cols) / scale;
    int per_square = std::min(12, static_cast<int>(std::ceil(aspect)));
    int hills = (3 + static_cast<int>(splitmix64(rng) % 3)) * per_square;
    int valleys = 2 * per_square;
    // Altitude per pixel of bump width: the steepest slope of a bump is about
    // 0.6 * 0.7 * 1.3 ~ 0.55 altitude units per pixel, one level of 10 per ~18 pixels.
    const double steep = 0.07 * REF_EQUID;
    for (int i = 0; i < hills + valleys; ++i) {
        Bump b;
        b.x = o.cols * (0.1 + 0.8 * uniform(rng));
        b.y = o.lines * (0.1 + 0.8 * uniform(rng));
        b.s = scale * (0.09 + 0.08 * uniform(rng));
        b.a = i < hills ? steep * b.s * (0.8 + 0.5 * uniform(rng))
                        : -steep * b.s * (0.5 + 0.4 * uniform(rng));
        t.bumps.push_back(b);
    }
    // The first hill is broader and taller, so that it rises well above the tilt around
    // it and can carry the plateau.
    t.bumps[0].s = 0.17 * scale;
    t.bumps[0].a = 1.8 * steep * t.bumps[0].s;
    // A tilt of one level per about 50 pixels, in a random direction.
    double dir = 2 * std::numbers::pi * uniform(rng);
    t.gx = REF_EQUID / 50 * std::cos(dir);
    t.gy = REF_EQUID / 50 * std::sin(dir);

    double lowest = HUGE_VAL;
    for (int i = 0; i < o.lines; ++i)
        for (int j = 0; j < o.cols; ++j) lowest = std::min(lowest, raw_altitude(t, j, i));
    t.offset = o.base - lowest;

    // The plateau goes on the hill that stands highest above the ring around it, at the
    // first level above that ring, so the flat cap stays inside the ring.
    double best = 0.5 * o.equid;
    for (int h = 0; o.plateau && h < hills; ++h) {
        const Bump& b = t.bumps[h];
        for (double f : {1.3, 1.0, 0.8}) {
            double r = f * b.s, ring = -HUGE_VAL;
            for (int k = 0; k < 64; ++k) {
                double u = 2 * std::numbers::pi * k / 64;
                ring =
                    std::max(ring, raw_altitude(t, b.x + r * std::cos(u), b.y + r * std::sin(u)));
            }
            double level = std::ceil(ring / o.equid) * o.equid;
            if (raw_altitude(t, b.x, b.y) - level > best) {
                best = raw_altitude(t, b.x, b.y) - level;
                t.plateau = true;
                t.px = b.x;
                t.py = b.y;
                t.pr = r;
                t.plevel = level;
            }
        }
    }
    t.pramp = std::max(o.equid / 2.0, 3.0);
    return t;
}

bool parse_args(int argc, char** argv, Options& o)
{
    struct IntOption {
        const char* name;
        int* field;
        long long lo, hi;
    };
    const IntOption ints[] = {
        {"--lines", &o.lines, 1, 1000000},           {"--cols", &o.cols, 1, 1000000},
        {"--equidistance", &o.equid, 1, 100000},     {"--bits", &o.bits, 16, 32},
        {"--pixel-size", &o.pixel_size, 0, 1000000}, {"--base", &o.base, -1000000, 1000000}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--no-plateau" || a == "--no-header") {
            (a == "--no-plateau" ? o.plateau : o.header) = false;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        const char* end = v + std::strlen(v);
        if (a == "--out") {
            o.out = v;
        } else if (a == "--seed") {
            auto r = std::from_chars(v, end, o.seed);
            if (r.ec != std::errc() || r.ptr != end) return false;
        } else {
            const IntOption* opt = nullptr;
            for (const IntOption& c : ints)
                if (a == c.name) opt = &c;
            long long n = 0;
            if (!opt) return false;
            auto r = std::from_chars(v, end, n);
            if (r.ec != std::errc() || r.ptr != end || n < opt->lo || n > opt->hi) return false;
            *opt->field = static_cast<int>(n);
        }
    }
    return o.lines > 0 && o.cols > 0 && !o.out.empty() && (o.bits == 16 || o.bits == 32);
}

void put_le(std::vector<char>& buf, std::size_t at, std::uint32_t v, int bytes)
{
    for (int b = 0; b < bytes; ++b) buf[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
}

// Contour level index of every pixel of line i.
void level_row(const Terrain& t, const Options& o, int i, std::vector<double>& k)
{
    for (int j = 0; j < o.cols; ++j) k[j] = std::floor(altitude(t, j, i) / o.equid);
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parse_args(argc, argv, o)) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    const Terrain t = make_terrain(o);
    const int bytes = o.bits / 8;
    const std::string stem = o.out + (bytes == 4 ? "_c4" : "_c2");
    std::ofstream raw(stem + ".raw", std::ios::binary);
    if (!raw) {
        std::fprintf(stderr, "contour_gen: cannot create %s.raw\n", stem.c_str());
        return 1;
    }
    // Running range as the program computes it for a header it creates.
    long long lo = 1000000, hi = 0;
    std::vector<char> buf(static_cast<std::size_t>(o.cols) * bytes);
    std::vector<double> up(o.cols), cur(o.cols), down(o.cols);
    if (bytes == 4) level_row(t, o, 0, cur);
    for (int i = 0; i < o.lines; ++i) {
        if (bytes == 4 && i + 1 < o.lines) level_row(t, o, i + 1, down);
        for (int j = 0; j < o.cols; ++j) {
            long long v;
            if (bytes == 2) {
                v = static_cast<long long>(
                    std::clamp(std::floor(altitude(t, j, i) + 0.5), 0.0, 65535.0));
            } else {
                double k = cur[j];
                bool edge = (j > 0 && cur[j - 1] < k) || (j + 1 < o.cols && cur[j + 1] < k) ||
                            (i > 0 && up[j] < k) || (i + 1 < o.lines && down[j] < k);
                v = edge ? static_cast<long long>(k) * o.equid : NO_DATA;
                if (v < INT32_MIN || v > INT32_MAX) {
                    std::fputs("contour_gen: level out of the 32-bit range\n", stderr);
                    return 1;
                }
            }
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            put_le(buf, static_cast<std::size_t>(j) * bytes, static_cast<std::uint32_t>(v), bytes);
        }
        raw.write(buf.data(), static_cast<std::streamsize>(buf.size()));
        if (bytes == 4) {
            std::swap(up, cur);
            std::swap(cur, down);
        }
    }
    raw.close();
    if (!raw) {
        std::fprintf(stderr, "contour_gen: write error on %s.raw\n", stem.c_str());
        return 1;
    }
    if (o.header) {
        std::ofstream txt(stem + ".txt");
        txt << o.lines << '\n'
            << o.cols << '\n'
            << bytes << '\n'
            << lo << '\n'
            << hi << '\n'
            << o.pixel_size << '\n';
        txt.close();
        if (!txt) {
            std::fprintf(stderr, "contour_gen: cannot write %s.txt\n", stem.c_str());
            return 1;
        }
    }
    return 0;
}
