// Linear least squares of the sky program: 2-D polynomial surfaces, 1-D
// polynomials, and the Gauss-Jordan solver of their normal equations.
#ifndef DORNEL_POLY_H
#define DORNEL_POLY_H

#include <vector>

#include "orv/MArray.h"

// Solves a·x = b by Gauss-Jordan elimination with full pivoting; a has the
// indices 1..n x 1..n (first index = row), b the indices 1..n. Returns 0 with
// the inverse in a and the solution in b, or -1 when a pivot is zero or not
// finite (a and b are then left partly eliminated). Prints nothing.
int gaussj(orv::MArray<double, 2> &a, int n, orv::MArray<double, 1> &b);

// Weighted least-squares fit of the surface sum c(k)·x^j·y^l, j, l = 0..n,
// k = 1 + l·(n+1) + j, to the points (x, y, z) with errors w (weights 1/w²;
// w must not be 0). c becomes a new array with indices 1..(n+1)². Returns the
// status of gaussj; throws SkyError when n is negative or the arrays differ
// in length. The float overloads form the powers in float; the overloads
// without w give every point the weight 1.
int poly2d(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
           const orv::MArray<double, 1> &z, const orv::MArray<double, 1> &w, int n,
           orv::MArray<double, 1> &c);
int poly2d(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
           const orv::MArray<double, 1> &z, int n, orv::MArray<double, 1> &c);
int poly2d(const orv::MArray<float, 1> &x, const orv::MArray<float, 1> &y,
           const orv::MArray<float, 1> &z, const orv::MArray<float, 1> &w, int n,
           orv::MArray<double, 1> &c);
int poly2d(const orv::MArray<float, 1> &x, const orv::MArray<float, 1> &y,
           const orv::MArray<float, 1> &z, int n, orv::MArray<double, 1> &c);

// A surface of order n in x and in y over the pixels x = 1..nx, y = 1..ny,
// held as coefficients of P_b(u)·P_a(v), Legendre polynomials of the
// coordinates scaled to [-1, 1] (u = (2x - nx - 1) / (nx - 1), v likewise).
// Fitted and evaluated in this form, a least-squares surface stays accurate
// at orders where the normal equations of the powers x^b·y^a lose all their
// digits in double and their sum all of float's.
//
// The normal equations are gathered line by line: the sums over the points
// of one row of w·P_b·P_b2 and w·z·P_b, multiplied by P_a(v)·P_a2(v) and
// P_a(v) once per row, which costs (n+1)(n+2)/2 products per point instead
// of one per pair of coefficients. An image is fitted by clear(), addRow()
// for its rows and solve(); fit() does the same for scattered points.
class ScaledSurface {
public:
    // Throws SkyError for a negative order.
    ScaledSurface(int order, int nx, int ny);

    // Weighted least-squares fit (weights 1/w², w above 0) to the points
    // (x[k], y[k], z[k]), k < count; quickest when the points of one row
    // follow each other. Returns what solve() returns. The sums gathered
    // before are dropped.
    int fit(const double *x, const double *y, const double *z, const double *w, long count);

    // Drops the gathered sums (the surface stays).
    void clear();
    // Adds the points (x[k], y) with weights w[k] (1/error²) and values
    // z[k], k < count, of pixel row y; x in 1..nx.
    void addRow(int y, const int *x, const double *w, const double *z, int count);
    // Points added since clear().
    long points() const { return points_; }
    // Fits the surface to the gathered sums. Returns 0 when fitted; -1 when
    // the system is singular (no data, a zero pivot); -2 when it is so
    // ill-conditioned that rounding alone moves its solution by more than a
    // thousandth (condition() above kMaxCondition: the data leave the
    // surface undetermined somewhere on the grid). The surface changes only
    // when fitted.
    int solve();

    // The surface at x = 1..nx of row y, rounded to float, into out[0..nx).
    void row(int y, float *out) const;
    // The same at the columns x[k], k < count, of row y into out[k].
    void values(int y, const int *x, int count, float *out) const;
    // No value of the surface on the pixel grid exceeds this in magnitude.
    double bound() const;
    // The coefficient of x^b·y^a at a·(n+1) + b.
    std::vector<double> powers() const;
    // Condition number (1-norm) of the last fit's equilibrated normal matrix.
    double condition() const { return cond_; }

    static constexpr double kMaxCondition = 1e13;

private:
    // The sums of one line of points (in s_ and t_) folded into the normal
    // equations with pv = P_a(v) of the line, and cleared.
    void foldLine(const double *pv);
    // The coefficients of P_b(u) in row y (in a buffer of the surface).
    const double *rowCoefficients(int y) const;
    int pair(int b, int b2) const { return b * (n_ + 1) - b * (b - 1) / 2 + (b2 - b); } // b <= b2

    int n_, nx_, ny_;
    std::vector<double> coef_; // of P_b(u)·P_a(v) at a·(n+1) + b
    std::vector<double> px_;   // P_b(u(x)) at b·nx + (x-1), for rows of the surface
    std::vector<double> pxT_;  // P_b(u(x)) at (x-1)·(n+1) + b, for the points of a row
    std::vector<double> py_;   // P_a(v(y)) at (y-1)·(n+1) + a
    // Normal equations: K at pair(a,a2)·pairs + pair(b,b2) holds the sum of
    // w·P_a·P_a2·P_b·P_b2, r at a·(n+1) + b the sum of w·z·P_a·P_b.
    std::vector<double> K_, r_;
    std::vector<double> s_, t_;       // of the current line: w·P_b·P_b2 by pair, w·z·P_b by b
    mutable std::vector<double> sum_; // a row of the surface before rounding
    long points_ = 0;
    double cond_ = 0.0;
};

// Weighted fit of a polynomial of the given order to the points 1..N of
// (x, y) with errors err; c(i), i = 0..order, receives the coefficient of
// x^(order - i). Returns chi²/N. Throws SkyError when the order is negative,
// x, y or err lacks one of the points 1..N or c one of the indices 0..order.
double poly(orv::MArray<double, 1> x, orv::MArray<double, 1> y, orv::MArray<double, 1> err,
            orv::MArray<double, 1> &c, int order, int N);

#endif
