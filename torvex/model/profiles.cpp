// Exponential disk, Gaussian, Moffat and King profiles, all sampled on the
// sub-pixel grid of render.h.
#include "torvex/model/profiles.h"

#include "torvex/model/component_types.h"

#include "torvex/model/render.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592654;
constexpr double kFwhmSigma = 2.35482; // FWHM of a Gaussian over its sigma

using render::flux_setup;
using render::profile_base;

struct exponential_profile : profile_base {
    double inv_rs;

    template <bool Ellipse2>
    bool eval(const render::ellipse_frame &, const render::sample_point &p, double &e,
              double &r_didr, double *acc) const
    {
        e = std::exp(-p.r * inv_rs);
        double intensity = i0 * e;
        r_didr = -intensity * p.r * inv_rs;
        add_mag_and_size(e, intensity, r_didr, inv_rs, acc);
        return true;
    }
};

struct gaussian_profile : profile_base {
    double inv_2s2; // 1 / (2 sigma^2)
    double dfwhm;   // d sigma / d FWHM over sigma
    template <bool Ellipse2>
    bool eval(const render::ellipse_frame &, const render::sample_point &p, double &e,
              double &r_didr, double *acc) const
    {
        double x = p.r * p.r * inv_2s2;
        e = std::exp(-x);
        double intensity = i0 * e;
        r_didr = -2 * intensity * x;
        add_mag_and_size(e, intensity, r_didr, dfwhm, acc);
        return true;
    }
};

struct moffat_profile : profile_base {
    double beta, inv_rd2;
    double dfwhm;     // d rd / d FWHM over rd
    double dbeta_rd;  // d ln rd / d beta at fixed FWHM
    double i0_per_b1; // I0 / (beta - 1), without dividing by beta - 1

    template <bool Ellipse2>
    bool eval(const render::ellipse_frame &, const render::sample_point &p, double &e,
              double &r_didr, double *acc) const
    {
        double x = p.r * p.r * inv_rd2;
        double l1x = std::log1p(x);
        e = std::exp(-beta * l1x);
        double intensity = i0 * e;
        r_didr = -2 * beta * intensity * x / (1 + x);
        add_mag_and_size(e, intensity, r_didr, dfwhm, acc);
        if (f5) {
            // rd dI/drd at fixed r, the core-radius term of the power law.
            double rd_didrd = -r_didr - 2 * intensity;
            acc[SLOT_MOFFAT_POWER] += -intensity * l1x + i0_per_b1 * e + rd_didrd * dbeta_rd;
        }
        return true;
    }
};

struct king_profile : profile_base {
    double inv_rc2, inv_alpha, alpha, rt, rc;
    double b_pow; // B^(-1/alpha)
    double ln_b, inv_b;
    double sgn_rc; // the sign of a[SLOT_SIZE], whose absolute value is the core radius

    bool outside(double r0) const { return r0 >= rt; }

    template <bool Ellipse2>
    bool eval(const render::ellipse_frame &, const render::sample_point &p, double &e,
              double &r_didr, double *acc) const
    {
        double r2 = p.r * p.r;
        double ln_a = std::log1p(r2 * inv_rc2);
        double a_pow = std::exp(-ln_a * inv_alpha); // A^(-1/alpha)
        double w = a_pow - b_pow;
        if (!(w > 0))
            return false; // beyond the truncation radius: no light
        double ln_w = std::log(w);
        e = std::exp(alpha * ln_w); // w^alpha
        double intensity = i0 * e;
        double wfac = intensity / w; // I0 w^(alpha - 1)
        double inv_a = 1 / (1 + r2 * inv_rc2);
        r_didr = -2 * wfac * r2 * a_pow * inv_a * inv_rc2;
        if (f3)
            acc[SLOT_MAG] += -render::kLn10Over25 * intensity;
        if (f4)
            acc[SLOT_SIZE] +=
                sgn_rc * 2 * wfac * inv_rc2 / rc * (r2 * a_pow * inv_a - rt * rt * b_pow * inv_b);
        if (f5)
            acc[SLOT_KING_RT] += 2 * wfac * rt * b_pow * inv_b * inv_rc2;
        if (f6)
            acc[SLOT_KING_ALPHA] +=
                intensity * (inv_alpha / w * (ln_a * a_pow - ln_b * b_pow) + ln_w);
        return true;
    }
};

} // namespace

void exponential(float *a, int *ia, image *model, derivs *df)
{
    flux_setup fs(a, ia, model);
    const double rs = a[SLOT_SIZE], q = a[SLOT_Q];
    exponential_profile p;
    p.rule = {10, 20, 3, 20};
    p.size = rs;
    p.flux_normalised(fs.f * 0.5 / kPi / (q * rs * rs / fs.r), q, fs, ia);
    p.inv_rs = 1 / rs;
    render::render_profile(a, ia, df, p);
}

void gaussian(float *a, int *ia, image *model, derivs *df)
{
    flux_setup fs(a, ia, model);
    const double sigma = std::fabs(a[SLOT_SIZE]) / kFwhmSigma, q = a[SLOT_Q];
    gaussian_profile p;
    p.rule = {10, 20, 3, 20};
    p.size = sigma;
    p.flux_normalised(fs.f * 0.5 / kPi / (sigma * sigma * q / fs.r), q, fs, ia);
    p.inv_2s2 = 0.5 / (sigma * sigma);
    // A negative FWHM renders as its absolute value, so its derivative
    // changes sign with it.
    p.dfwhm = (a[SLOT_SIZE] < 0 ? -1 : 1) / (sigma * kFwhmSigma);
    render::render_profile(a, ia, df, p);
}

void moffat(float *a, int *ia, image *model, derivs *df)
{
    flux_setup fs(a, ia, model);
    const double beta = a[SLOT_MOFFAT_POWER], q = a[SLOT_Q];
    const double p2 = std::pow(2.0, 1 / beta); // 2^(1/beta)
    const double link = 2 * std::sqrt(p2 - 1); // FWHM / rd
    const double rd = std::fabs(a[SLOT_SIZE]) / link;
    moffat_profile p;
    p.rule = {10, 40, 3, 20};
    p.size = rd;
    const double i0_per_b1 = fs.f / kPi / rd / rd / q * fs.r;
    p.flux_normalised(i0_per_b1 * (beta - 1), q, fs, ia);
    p.beta = beta;
    p.inv_rd2 = 1 / (rd * rd);
    p.dfwhm = (a[SLOT_SIZE] < 0 ? -1 : 1) / (rd * link);
    // The core radius follows beta at fixed FWHM: d ln rd / d beta.
    p.dbeta_rd = p2 * std::log(2.0) / (2 * beta * beta * (p2 - 1));
    p.i0_per_b1 = i0_per_b1;
    render::render_profile(a, ia, df, p);
}

void king(float *a, int *ia, image *model, derivs *df)
{
    const double rc = std::fabs(a[SLOT_SIZE]), rt = a[SLOT_KING_RT], alpha = a[SLOT_KING_ALPHA];
    king_profile p;
    p.rule = {10, 40, 3, 20};
    p.size = rc;
    p.i0 = render::surface_intensity(model->muzpt, a[SLOT_MAG]);
    p.free_slots(ia);
    p.rc = rc;
    p.rt = rt;
    p.alpha = alpha;
    p.inv_alpha = 1 / alpha;
    p.inv_rc2 = 1 / (rc * rc);
    p.ln_b = std::log1p(rt * rt * p.inv_rc2);
    p.b_pow = std::exp(-p.ln_b * p.inv_alpha);
    p.inv_b = 1 / (1 + rt * rt * p.inv_rc2);
    p.sgn_rc = a[SLOT_SIZE] < 0 ? -1 : 1;
    render::render_profile(a, ia, df, p);
}
