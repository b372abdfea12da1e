// The pixel loop shared by the sampled ellipse-based profiles (Sersic,
// exponential disk, Gaussian, Moffat, King): the radius on the generalised
// ellipse, the sub-pixel grid and the chain rule that turns a profile's
// radial slope into the derivatives by x, y, q, PA and c.
//
// A profile type P (deriving from profile_base below, which holds the
// fields and a default outside) supplies
//     sampling_rule rule; double size;         // for nsubsamp
//     double i0;                               // central or reference intensity
//     double di0_dq;                           // dI0/dq (-I0/q, or 0)
//     double area_term;                        // (I0/R) dR/dC, or 0
//     bool outside(double r0) const;           // pixel left at 0 (King)
//     template <bool Ellipse2>
//     bool eval(const ellipse_frame &f, const sample_point &p, double &e,
//               double &r_didr, double *acc) const;
// eval returns false for a sample that holds no light (nothing is added);
// otherwise it sets e = I/I0 and r_didr = r dI/dr and adds the contributions
// of the profile's own slots (3..7) to acc.
//
// Everything per call is hoisted out of the pixel loop; nothing is allocated.
// Ellipse2 selects the fast path for c = 0, where the powers are squares and
// square roots and no logarithm is taken unless c itself is free.
#ifndef TORVEX_MODEL_RENDER_H
#define TORVEX_MODEL_RENDER_H

#include "numerics/numrec.h"
#include "torvex/model/component_types.h"
#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

#include <cmath>

namespace render {

constexpr double kFloor = 1e-15;                  // keeps radii and logs finite
constexpr double kLogFloor = -34.538776394910684; // log(1e-15f)
constexpr double kLn10 = 2.302585092994046;
constexpr double kLn10Over25 = kLn10 / 2.5;
constexpr double kDegree = 0.017453292;  // d theta / d PA per degree
constexpr double kLargestLogPower = 700; // e^700 and twice it are finite doubles

struct ellipse_frame {
    double xc, yc; // centre
    double q, inv_q;
    double c, inv_c; // ellipse exponent C = c + 2 (bounded)
    double sin_t, cos_t;
};

inline ellipse_frame make_frame(const float *a)
{
    ellipse_frame f;
    f.xc = a[SLOT_X];
    f.yc = a[SLOT_Y];
    f.q = a[SLOT_Q];
    f.inv_q = 1 / f.q;
    f.c = ellipse_exponent(a[SLOT_C]);
    f.inv_c = 1 / f.c;
    float theta = static_cast<float>(-a[SLOT_PA] / 180.0 * 3.141592654 + 1.570796327);
    f.sin_t = std::sin(theta);
    f.cos_t = std::cos(theta);
    return f;
}

struct sample_point {
    double u, v;       // offsets along the major and the minor axis
    double au, av;     // |u| and |v/q|
    double pu, pv;     // |u|^C and |v/q|^C before the floor (both scaled, see locate)
    double t1, t2;     // the same, floored
    double s, r;       // s = t1 + t2, r = s^(1/C) (floored)
    double ls, lu, lv; // log s, log|u|, log|v/q| (general path only)
};

template <bool Ellipse2>
inline void locate(const ellipse_frame &f, double x, double y, sample_point &p)
{
    double dx = x - f.xc, dy = y - f.yc, shift = 0;
    p.u = f.cos_t * dx - f.sin_t * dy;
    p.v = f.sin_t * dx + f.cos_t * dy;
    p.au = std::fabs(p.u);
    p.av = std::fabs(p.v) * f.inv_q;
    if (Ellipse2) {
        p.pu = p.au * p.au;
        p.pv = p.av * p.av;
        p.ls = p.lu = p.lv = 0; // not needed on this path
    } else {
        // exp(C log 0) = 0 keeps the centre exact without a branch.
        p.lu = std::log(p.au);
        p.lv = std::log(p.av);
        // A large exponent overflows the powers of a finite offset.  Every
        // use takes them over s (the derivatives) or through log s (the
        // radius), so both are scaled by e^-shift and log s keeps it.
        shift = std::max(f.c * p.lu, f.c * p.lv) - kLargestLogPower;
        if (!(shift > 0))
            shift = 0;
        p.pu = std::exp(f.c * p.lu - shift);
        p.pv = std::exp(f.c * p.lv - shift);
    }
    p.t1 = p.pu > kFloor ? p.pu : kFloor;
    p.t2 = p.pv > kFloor ? p.pv : kFloor;
    p.s = p.t1 + p.t2;
    if (Ellipse2) {
        p.r = std::sqrt(p.s);
    } else {
        p.ls = std::log(p.s) + shift;
        p.r = std::exp(p.ls * f.inv_c);
    }
    if (p.r < kFloor)
        p.r = kFloor;
}

// locate on the path that the frame's exponent calls for.
inline void locate_any(const ellipse_frame &f, double x, double y, sample_point &p)
{
    if (f.c == 2)
        locate<true>(f, x, y, p);
    else
        locate<false>(f, x, y, p);
}

// log r of a located sample.
template <bool Ellipse2>
inline double log_radius(const ellipse_frame &f, const sample_point &p)
{
    return Ellipse2 ? std::log(p.r) : p.ls * f.inv_c;
}

// Which geometric slots are free, and the flux terms of q and c.
struct geometry_slots {
    bool x, y, q, pa, c, any;
};

// The geometric slots that the fit flags ia set free.
inline void free_geometry(const int *ia, geometry_slots &g)
{
    g.x = ia[SLOT_X] == 1;
    g.y = ia[SLOT_Y] == 1;
    g.q = ia[SLOT_Q] == 1;
    g.pa = ia[SLOT_PA] == 1;
    g.c = ia[SLOT_C] == 1;
    g.any = g.x || g.y || g.q || g.pa || g.c;
}

// |u|^(C-1), from the unfloored power where it is representable.
template <bool Ellipse2>
inline double power_less_one(double au, double pu, double lu, double c)
{
    if (Ellipse2)
        return au;
    if (au >= kFloor)
        return pu / au;
    return std::exp((c - 1) * (lu > kLogFloor ? lu : kLogFloor));
}

// Adds the contributions of the free geometric slots of one sample.
template <bool Ellipse2>
inline void add_geometry(const ellipse_frame &f, const sample_point &p, const geometry_slots &g,
                         double r_didr, double e, double di0_dq, double area_term, double *acc)
{
    const double c = f.c;
    const double gfac = r_didr / (p.s * c);
    if (g.x || g.y || g.pa) {
        double su = p.u < 0 ? -1 : 1;
        double sv = p.v < 0 ? -1 : 1;
        double du = su * power_less_one<Ellipse2>(p.au, p.pu, p.lu, c);
        double dv = sv * power_less_one<Ellipse2>(p.av, p.pv, p.lv, c) * f.inv_q;
        if (g.x)
            acc[SLOT_X] += gfac * -c * (du * f.cos_t + dv * f.sin_t);
        if (g.y)
            acc[SLOT_Y] += gfac * c * (du * f.sin_t - dv * f.cos_t);
        if (g.pa)
            acc[SLOT_PA] += gfac * -kDegree * c * (du * -p.v + dv * p.u);
    }
    if (g.q)
        acc[SLOT_Q] += gfac * (-c * p.t2 * f.inv_q) + di0_dq * e;
    if (g.c) {
        double ls, lu, lv;
        if (Ellipse2) {
            ls = std::log(p.s);
            lu = p.au > kFloor ? std::log(p.au) : kLogFloor;
            lv = p.av > kFloor ? std::log(p.av) : kLogFloor;
        } else {
            ls = p.ls;
            lu = p.lu > kLogFloor ? p.lu : kLogFloor;
            lv = p.lv > kLogFloor ? p.lv : kLogFloor;
        }
        acc[SLOT_C] += r_didr * (-ls * f.inv_c * f.inv_c + (p.t1 * lu + p.t2 * lv) / (c * p.s)) +
                       area_term * e;
    }
}

// A rectangle of pixels (columns x1..x2, rows y1..y2) that the pixel loop
// leaves alone because its caller writes them afterwards: the convolution
// box of a component, whose PSF-convolved rendering replaces the
// unconvolved one there.  None (x1 > x2) unless a skip_pixels is alive.
struct pixel_rect {
    long x1 = 1, x2 = 0, y1 = 1, y2 = 0;
};
inline pixel_rect skipped_pixels;

class skip_pixels {
public:
    explicit skip_pixels(const pixel_rect &r) { skipped_pixels = r; }
    ~skip_pixels() { skipped_pixels = pixel_rect{}; }
    skip_pixels(const skip_pixels &) = delete;
    skip_pixels &operator=(const skip_pixels &) = delete;
};

template <bool Ellipse2, class P>
void render_pixels(const ellipse_frame &f, const int *ia, derivs *df, const P &prof)
{
    const long nx = df->naxes[1], ny = df->naxes[2];
    const int os = input.sampfac;
    geometry_slots g;
    free_geometry(ia, g);
    int free_slots[NSLOTS], nfree = 0;
    for (int k = 1; k <= NSLOTS; k++)
        if (ia[k] == 1)
            free_slots[nfree++] = k;

    auto sample = [&](const sample_point &p, double *acc) {
        double e, r_didr;
        if (!prof.template eval<Ellipse2>(f, p, e, r_didr, acc))
            return;
        acc[0] += e;
        if (g.any)
            add_geometry<Ellipse2>(f, p, g, r_didr, e, prof.di0_dq, prof.area_term, acc);
    };

    float **img = df->dpm[0];
    const pixel_rect skip = skipped_pixels;
    for (long y = 1; y <= ny; y++) {
        const bool skip_row = y >= skip.y1 && y <= skip.y2;
        for (long x = 1; x <= nx; x++) {
            if (skip_row && x == skip.x1 && skip.x1 <= skip.x2) {
                x = skip.x2;
                continue;
            }
            sample_point pc;
            locate<Ellipse2>(f, static_cast<double>(x), static_cast<double>(y), pc);
            if (prof.outside(pc.r)) {
                img[y][x] = 0;
                for (int i = 0; i < nfree; i++)
                    df->dpm[free_slots[i]][y][x] = 0;
                continue;
            }
            int n = nsubsamp(pc.r, os, prof.size, f.q, prof.rule);
            double acc[NSLOTS + 1] = {};
            if (n == 1) {
                sample(pc, acc); // the one sample is the pixel centre
            } else {
                const double step = 1.0 / n;
                const double x0 = x - 0.5 + 0.5 * step, y0 = y - 0.5 + 0.5 * step;
                sample_point p;
                for (int i = 0; i < n; i++) {
                    const double xs = x0 + i * step;
                    for (int j = 0; j < n; j++) {
                        locate<Ellipse2>(f, xs, y0 + j * step, p);
                        sample(p, acc);
                    }
                }
            }
            const double inv_n2 = 1.0 / (static_cast<double>(n) * n);
            img[y][x] = static_cast<float>(prof.i0 * acc[0] * inv_n2);
            for (int i = 0; i < nfree; i++) {
                int k = free_slots[i];
                df->dpm[k][y][x] = static_cast<float>(acc[k] * inv_n2);
            }
        }
    }
}

// Renders profile prof with the parameters a over the grid of df.
template <class P>
void render_profile(const float *a, const int *ia, derivs *df, const P &prof)
{
    ellipse_frame f = make_frame(a);
    if (f.c == 2)
        render_pixels<true>(f, ia, df, prof);
    else
        render_pixels<false>(f, ia, df, prof);
}

// Counts per pixel of a total magnitude m: 10^((magzpt - m)/2.5).
inline double flux(float magzpt, float m)
{
    return std::pow(10.0, (static_cast<double>(magzpt) - m) / 2.5);
}

// Common set-up of the profiles normalised to a total magnitude: total
// flux, area ratio and its derivative (only when c is free).
struct flux_setup {
    double f, r, drdc;
    flux_setup(const float *a, const int *ia, const image *model)
    {
        const float c = ellipse_exponent(a[SLOT_C]);
        f = flux(model->magzpt, a[SLOT_MAG]);
        r = ratio(c);
        float err;
        drdc = ia[SLOT_C] == 1 ? dfridr(ratio, c, 0.1f, &err) : 0;
    }
};

// The fields every sampled profile hands to the pixel loop, and the flags of
// its own slots 3 to 6.
struct profile_base {
    sampling_rule rule;
    double size = 0;
    double i0 = 0, di0_dq = 0, area_term = 0;
    double dm = 0; // dI/dm per unit e
    bool f3 = false, f4 = false, f5 = false, f6 = false;

    void free_slots(const int *ia)
    {
        f3 = ia[3] == 1;
        f4 = ia[4] == 1;
        f5 = ia[5] == 1;
        f6 = ia[6] == 1;
    }
    // I0 of a profile normalised to the flux of fs, and the terms that
    // follow from it.
    void flux_normalised(double i0_, double q, const flux_setup &fs, const int *ia)
    {
        i0 = i0_;
        di0_dq = -i0 / q;
        area_term = i0 / fs.r * fs.drdc;
        dm = i0 * kLn10 / -2.5;
        free_slots(ia);
    }
    bool outside(double) const { return false; }
    // The magnitude and size terms of a profile of fixed flux whose light
    // is I0(s) f(r/s), I0 going as 1/s^2: dI/ds = -(r dI/dr + 2 I)/s, and
    // dsize is (1/s) ds/d(size slot).
    void add_mag_and_size(double e, double intensity, double r_didr, double dsize,
                          double *acc) const
    {
        if (f3)
            acc[SLOT_MAG] += e * dm;
        if (f4)
            acc[SLOT_SIZE] += (-r_didr - 2 * intensity) * dsize;
    }
};

// Counts per pixel of a surface brightness mu: 10^((mu - muzpt)/-2.5).
inline double surface_intensity(float muzpt, float mu)
{
    return std::pow(10.0, static_cast<double>((mu - muzpt) / -2.5f));
}

} // namespace render

#endif
