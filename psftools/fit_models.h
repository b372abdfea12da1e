// The two models of the Levenberg-Marquardt fitter, both on rotated axes
// u = dx·cos θ + dy·sin θ, v = dy·cos θ - dx·sin θ about the centre (x0, y0):
//
// Class_gauss_fit, 7 parameters: c + A·exp(-(p·u² + q·v²)), the exponent
//   clamped to [-22, 22]; slots c, A, p, q, x0, y0, θ. For standard
//   deviations su, sv: p = 1/(2 su²), q = 1/(2 sv²).
// Class_moffat_fit, 10 parameters: c + gx·x + gy·y + A·r^-β with
//   r = 1 + (p·u)² + (q·v)²; slots c, A, p, q, x0, y0, θ, β, gx, gy. The FWHM
//   along u is 2·sqrt(2^(1/β) - 1)/p. Where r^-(β+1) < 1e-100 the plane alone
//   is left; where it is above 1e100 (only for β < -1) funcs fails.
// A model made with fewer parameters than it has says so on standard error;
// funcs then fails, so calc returns -1 and changes no parameter.
#ifndef PSFTOOLS_FIT_MODELS_H
#define PSFTOOLS_FIT_MODELS_H

#include "psftools/marquardt.h"

class Class_gauss_fit : public marquardt {
public:
    Class_gauss_fit(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
                    const orv::MArray<double, 1> &z, const orv::MArray<double, 1> &sig,
                    const orv::MArray<double, 1> &a, const orv::MArray<int, 1> &ia);
    ~Class_gauss_fit() override = default;

    // 0, or -1 (f and d untouched) when a or d lacks one of the slots 1..7.
    int funcs(double x, double y, const orv::MArray<double, 1> &a, double &f,
              orv::MArray<double, 1> &d) override;
};

class Class_moffat_fit : public marquardt {
public:
    Class_moffat_fit(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
                     const orv::MArray<double, 1> &z, const orv::MArray<double, 1> &sig,
                     const orv::MArray<double, 1> &a, const orv::MArray<int, 1> &ia);
    ~Class_moffat_fit() override = default;

    // 0, or -1 (f and d untouched) where the profile would exceed 1e100 or
    // when a or d lacks one of the slots 1..10.
    int funcs(double x, double y, const orv::MArray<double, 1> &a, double &f,
              orv::MArray<double, 1> &d) override;
};

#endif
