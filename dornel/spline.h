// Cubic splines through tables and bicubic splines through grids, on arrays
// of any index base. The routines report problems by a status instead of
// stopping the program.
#ifndef DORNEL_SPLINE_H
#define DORNEL_SPLINE_H

#include <vector>

#include "orv/MArray.h"

// An end slope above this selects a natural end (second derivative 0).
constexpr double kNaturalSlope = 9.9e29;

// Second derivatives y2 of the cubic spline through (x, y), with the end
// slopes yp1 and ypn (1e30 for natural ends). The table is the index range of
// x; y and y2 are read and written at the same indices. Returns 0, or 1 when
// the table has fewer than two points, its abscissae do not increase
// strictly, or y and y2 do not cover its indices (y2 is then 0 where it can
// be written, or untouched).
int spline(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y, double yp1, double ypn,
           orv::MArray<double, 1> &y2);
// The same with a work table of the caller's, for many calls in a row.
int spline(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y, double yp1, double ypn,
           orv::MArray<double, 1> &y2, std::vector<double> &work);

// The spline through (xa, ya) with second derivatives y2a at x; outside the
// table the cubic of the first or last interval. Returns 0, or 1 (value
// unchanged) when the interval around x has no positive width or the table
// has fewer than two points.
int splint(double &value, double x, const orv::MArray<double, 1> &xa,
           const orv::MArray<double, 1> &ya, const orv::MArray<double, 1> &y2a);

// Prepares the grid ya (first index over x1a, second over x2a, with their
// index ranges) for splin2: y2a(i, ·) receives the natural spline's second
// derivatives of row ya(i, ·) along x2a. Returns the summed status.
int splie2(const orv::MArray<double, 1> &x1a, const orv::MArray<double, 1> &x2a,
           const orv::MArray<double, 2> &ya, orv::MArray<double, 2> &y2a);

// The bicubic spline of the grid at (x1, x2): splines along x2a through every
// row, then a natural spline along x1a through their values. Returns the sum
// of the statuses of all the spline and splint steps.
int splin2(double &value, double x1, double x2, const orv::MArray<double, 1> &x1a,
           const orv::MArray<double, 1> &x2a, const orv::MArray<double, 2> &ya,
           const orv::MArray<double, 2> &y2a);

// The first half of splin2, which depends on x2 only: ytmp (indexed like
// x1a) receives the row splines at x2 and y2tmp their natural spline's second
// derivatives. splin2(v, x1, x2, ...) equals this followed by
// splint(v, x1, x1a, ytmp, y2tmp), with the statuses added; evaluating a
// whole line of x1 at one x2 this way builds the row splines once.
int splin2_rows(orv::MArray<double, 1> &ytmp, orv::MArray<double, 1> &y2tmp, double x2,
                const orv::MArray<double, 1> &x1a, const orv::MArray<double, 1> &x2a,
                const orv::MArray<double, 2> &ya, const orv::MArray<double, 2> &y2a);

// splint at the ascending abscissae first, first+1, ..., last of a table
// with strictly increasing abscissae xa, for many ordinates over the same
// abscissae (the rows of an image): the interval of every point and its
// cubic weights are worked out once. The values are splint's, bit for bit.
class SplineWeights {
public:
    SplineWeights() = default;
    SplineWeights(int first, int last, const orv::MArray<double, 1> &xa);
    // False when xa has fewer than two points or does not increase strictly.
    bool valid() const { return valid_; }
    // values[i] = the spline through ya with second derivatives y2a (both
    // indexed like xa) at first + i. Needs valid().
    void evaluate(const orv::MArray<double, 1> &ya, const orv::MArray<double, 1> &y2a,
                  double *values) const;
    // The same rounded to float.
    void evaluate(const orv::MArray<double, 1> &ya, const orv::MArray<double, 1> &y2a,
                  float *values) const;
    // The same at the one abscissa first + j for every row of a grid:
    // ytmp(i) = the spline through ya(i, ·) with second derivatives y2a(i, ·)
    // (the second index running like xa), for every index i of ya's first
    // dimension (ytmp indexed alike): the first half of splin2 at x2 = first + j.
    void evaluateRows(std::size_t j, const orv::MArray<double, 2> &ya,
                      const orv::MArray<double, 2> &y2a, orv::MArray<double, 1> &ytmp) const;

private:
    struct Run {
        int klo;                // interval, from 0
        std::size_t begin, end; // points
        double hh;              // the interval's width squared
    };
    template <class T>
    void evaluateInto(const orv::MArray<double, 1> &ya, const orv::MArray<double, 1> &y2a,
                      T *values) const;

    bool valid_ = false;
    int n_ = 0, base_ = 0;
    std::vector<Run> runs_;
    std::vector<double> a_, b_, ca_, cb_; // per point: a, b, a³ - a, b³ - b
    std::vector<int> run_;                // per point: its run
};

// splint at the ascending abscissae first, first+1, ..., last (a line of
// pixels): values[i] and statuses[i] receive what splint gives for
// first + i (a value stays 0 where the status is not). For a strictly
// increasing table the interval is followed along the line instead of being
// searched for every point, with the same results. Returns the summed status.
long splint_ascending(std::vector<double> &values, std::vector<int> &statuses, int first, int last,
                      const orv::MArray<double, 1> &xa, const orv::MArray<double, 1> &ya,
                      const orv::MArray<double, 1> &y2a);

#endif
