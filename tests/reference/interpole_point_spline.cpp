// Value of the Bezier patch over the window of a pixel.
//
// Real arithmetic between two stores is carried in extended precision and
// rounded only where it is stored: the parameters and the partial weight in
// double, the weights, the window and the partial sums of M in single, z in
// double after every addition. The explicit long double casts keep that plan
// on hardware whose float and double arithmetic is not extended.
#include "base/program_state.h"
#include "nrutil.h"
#include "reference/reference.h"
#include "surface/surface.h"

#include <cmath>
#include <cstdint>
#include <new>

namespace reference {

namespace {

// Bernstein weights of one direction, parameter t (it = 1 - t), stored single.
// The end indices are special cases so that no power of exponent 0 is taken:
// at t = 0 or 1 the general case would ask for 0 to the power 0.
float weight(int i, int n, std::int32_t Combi, double t, double it)
{
    if (i == n)
        return static_cast<float>(static_cast<long double>(std::pow(t, static_cast<double>(i))) *
                                  static_cast<long double>(Combi));
    if (i == 0)
        return static_cast<float>(static_cast<long double>(std::pow(it, static_cast<double>(n))) *
                                  static_cast<long double>(Combi));
    const double w =
        static_cast<double>(static_cast<long double>(std::pow(it, static_cast<double>(n - i))) *
                            static_cast<long double>(Combi));
    return static_cast<float>(static_cast<long double>(std::pow(t, static_cast<double>(i))) *
                              static_cast<long double>(w));
}

} // namespace

// The window is (n + 1) x (n + 1) pixels, h = n / 2 of them before the pixel
// and n - h after it, pushed back inside the grid at the borders; the point's
// parameters are its offsets in the window divided by n.
double InterpolePointSpline(const Program_state& s, double x, double y, int n)
{
    float** U = fmatrice(n + 1, 1);
    float** B = fmatrice(n + 1, n + 1);
    float** V = fmatrice(1, n + 1);
    float** M = fmatrice(1, n + 1);
    if (!U || !B || !V || !M) {
        frfmatrice(U, 1);
        frfmatrice(B, n + 1);
        frfmatrice(V, n + 1);
        frfmatrice(M, n + 1);
        throw std::bad_alloc();
    }

    double xi = 0.0;
    double yi = 0.0;
    static_cast<void>(std::modf(x, &xi));
    static_cast<void>(std::modf(y, &yi));

    const int h = n >> 1;
    int bxi = static_cast<int>(xi - h);
    int byi = static_cast<int>(yi - h);
    int bxf = bxi + n;
    int byf = byi + n;
    // In this order, each test seeing the results of the ones before.
    if (bxi < 0) {
        bxi = 0;
        bxf = n;
    }
    if (byi < 0) {
        byi = 0;
        byf = n;
    }
    if (bxf >= s.nb_col) {
        bxf = s.nb_col - 1;
        bxi = bxf - n;
    }
    if (byf >= s.nb_lig) {
        byf = s.nb_lig - 1;
        byi = byf - n;
    }

    const double xfrac = static_cast<double>((static_cast<long double>(x) - bxi) /
                                             static_cast<long double>(bxf - bxi));
    const double yfrac = static_cast<double>((static_cast<long double>(y) - byi) /
                                             static_cast<long double>(byf - byi));
    const double ixfrac = static_cast<double>(1.0L - static_cast<long double>(xfrac));
    const double iyfrac = static_cast<double>(1.0L - static_cast<long double>(yfrac));

    for (int i = 0; i <= n; ++i) {
        const std::int32_t Combi = Comb(i, n);
        U[0][i] = weight(i, n, Combi, yfrac, iyfrac);
        V[i][0] = weight(i, n, Combi, xfrac, ixfrac);
    }

    // Window values as they are: a NO_DATA pixel enters the sums as -99999.
    for (int i = byi; i <= byf; ++i)
        for (int j = bxi; j <= bxf; ++j) {
            const int ii = i - byi;
            const int jj = j - bxi;
            B[ii][jj] = static_cast<float>(s.itab[i][j]);
        }

    // M starts at zero from its allocation.
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            M[i][0] = static_cast<float>(static_cast<long double>(B[i][j]) *
                                             static_cast<long double>(V[j][0]) +
                                         static_cast<long double>(M[i][0]));

    double z = 0.0;
    for (int i = 0; i <= n; ++i)
        z = static_cast<double>(static_cast<long double>(U[0][i]) *
                                    static_cast<long double>(M[i][0]) +
                                static_cast<long double>(z));

    frfmatrice(U, 1);
    frfmatrice(B, n + 1);
    frfmatrice(V, n + 1);
    frfmatrice(M, n + 1);
    return z;
}

} // namespace reference
