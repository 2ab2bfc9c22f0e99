// Value of the Bezier patch over the window of a pixel.
//
// Real arithmetic between two stores is carried in extended precision and
// rounded only where it is stored: the parameters and the partial weight in
// double, the weights, the window and the partial sums of M in single, z in
// double after every addition. The explicit long double casts keep that plan
// on hardware whose float and double arithmetic is not extended.
#include "base/program_state.h"
#include "nrutil.h"
#include "surface/bezier_window.h"
#include "surface/surface.h"

#include <cmath>
#include <cstdint>
#include <new>

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

    const int bxi = bezier_window_first(xi, n, s.nb_col);
    const int byi = bezier_window_first(yi, n, s.nb_lig);
    const int bxf = bxi + n;
    const int byf = byi + n;

    const double xfrac = bezier_parameter(x, bxi, n);
    const double yfrac = bezier_parameter(y, byi, n);

    for (int i = 0; i <= n; ++i) {
        U[0][i] = bezier_weight(i, n, yfrac);
        V[i][0] = bezier_weight(i, n, xfrac);
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
