// The Nuker double power law
//     I(r) = 2^((beta - gamma)/alpha) Ib (Rb/r)^gamma (1 + (r/Rb)^alpha)^((gamma - beta)/alpha)
// and the polar-cell integration of the pixels near its centre.
#include "torvex/model/nuker.h"

#include "torvex/model/component_types.h"

#include "torvex/model/render.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi2 = 1.57079632676491;
constexpr double kTwoPi = 6.28318530705964;
constexpr double kSector = kTwoPi / 360; // one degree
constexpr double kHalfSector = 0.008726646192371845;
constexpr double kLnStep = 0.009950330853168083; // ln 1.01, the radial step
constexpr double kEarlyStop = 1e-5;
// The radial walk towards the centre ends here at the latest, relative to
// its start, so that it ends even where the integrand is 0.
constexpr double kSmallestRadius = 1e-8;
// Steps of the walk from its start down to kSmallestRadius of it: also the
// most it takes, so that it ends where no radius is finite or above 0.
const int kMaxSteps = static_cast<int>(std::ceil(-std::log(kSmallestRadius) / kLnStep)) + 1;
constexpr double kLn2 = 0.6931471805599453;

// Area of the cell around radius r, per unit r^2 and axis ratio: the
// quadrilateral between the rays at +-half a degree and the radii
// r (1 + 1.01)/2 and (r/1.01 + r)/2, mapped onto the ellipse (a linear map
// of determinant q).
const double kCellArea =
    0.5 * std::sin(2 * kHalfSector) *
    ((1 + 1.01) / 2 * (1 + 1.01) / 2 - (1 / 1.01 + 1) / 2 * (1 / 1.01 + 1) / 2);

// The inner edge of the cell at radius r, over r: halfway to the radius of
// the next cell inwards, as kCellArea takes the cells.
constexpr double kInnerEdge = (1 / 1.01 + 1) / 2;

// The directions and per-angle factors of one one-degree sector.
struct sector {
    double phi;
    double ex, ey; // position of the cell at radius r: centre + r (ex, ey)
    double cphi, sphi;
};

// Sums cell(s, r, ln r, area, t) over the polar cells whose centre lies in
// the rectangle; a[9] holds the position angle in radians (the polar-cell
// convention).  t[0] is the light of the cell; t[1..n-1] further quantities
// integrated over the same cells.  Returns the light.
//
// The walk along each sector runs from outside the rectangle towards the
// centre.  When the centre lies in the rectangle it stops once a cell adds
// less than kEarlyStop of the light summed so far, or once cell.settled
// says that the integrand has become the power law of its centre, and the
// rest of the sector, from the inner edge of its last cell down to the
// centre, is added by cell.tail.  A cell that has no tail of its own
// (tail returns false) takes the geometric series that the last two cells
// set up (the cells of a power law shrink by a constant factor per step).
// Steep cusps keep most of their light in that rest: within R it grows as
// R^(2 - gamma).
template <int N, class Cell>
double polar_sum(float xmin, float xmax, float ymin, float ymax, const float *a, Cell &cell,
                 double *acc)
{
    if (xmin > xmax)
        std::swap(xmin, xmax);
    if (ymin > ymax)
        std::swap(ymin, ymax);

    int quad[5] = {0, 0, 0, 0, 0};
    float minphi, maxphi, minr, maxr;
    minmaxphi(xmin, xmax, ymin, ymax, a, &minphi, &maxphi, quad);
    minmaxrad(xmin, xmax, ymin, ymax, a, &minr, &maxr);

    const double xc = a[SLOT_X], yc = a[SLOT_Y], q = a[SLOT_Q];
    bool early;
    bool full_turn = false;
    if ((xmin <= xc && xc <= xmax && ymin <= yc && yc <= ymax) || quad[0] == 1) {
        minr = 0;
        early = true;
        full_turn = xmin < xc && xc < xmax && ymin < yc && yc < ymax;
    } else {
        early = minr * q == 0;
    }

    // Cells at radius r reach the generalised radius r h(phi), h between
    // 2^(1/C - 1/2) and 1; widen the range for C != 2 so that it still
    // covers the rectangle.
    const double c = ellipse_exponent(a[SLOT_C]);
    const double hc = std::pow(2.0, 1 / c - 0.5);
    const double rlo = minr * q / std::max(1.0, hc);
    const double rhi = maxr / (q * std::min(1.0, hc));
    const double rmin = rhi * kSmallestRadius;

    int nsect;
    double phi0;
    if (full_turn) {
        nsect = 360;
        phi0 = 0;
    } else {
        phi0 = minphi;
        nsect = static_cast<int>(std::floor((maxphi - minphi) / kSector + 1e-9)) + 1;
        nsect = std::min(nsect, 360);
    }

    const double sb = std::sin(a[SLOT_PA]), cbeta = std::cos(a[SLOT_PA]);
    const double area_q = kCellArea * q;
    const double lrhi = std::log(rhi);
    double sum = 0;
    for (int i = 0; i < N; i++)
        acc[i] = 0;
    for (int k = 0; k < nsect; k++) {
        sector s;
        s.phi = phi0 + k * kSector;
        s.cphi = std::cos(s.phi);
        s.sphi = std::sin(s.phi);
        s.ex = -(s.cphi * sb + q * s.sphi * cbeta);
        s.ey = s.cphi * cbeta - q * s.sphi * sb;
        cell.begin(s);

        double r = rhi, r_last = 0;
        int steps = 0, inside = 0;
        bool last_inside = false;
        double t[11], last[N] = {}, prev[N] = {}; // a cell may fill all of t[0..10]
        while (r >= rlo && r >= rmin && steps < kMaxSteps) {
            r /= 1.01;
            steps++;
            double x = xc + r * s.ex, y = yc + r * s.ey;
            last_inside = xmin <= x && x <= xmax && ymin <= y && y <= ymax;
            if (!last_inside)
                continue;
            const double ln_r = lrhi - steps * kLnStep;
            cell(s, r, ln_r, area_q * r * r, t);
            if (!std::isfinite(t[0]))
                break; // the integrand's own resolution ends here: the rest takes over
            for (int i = 0; i < N; i++) {
                acc[i] += t[i];
                prev[i] = last[i];
                last[i] = t[i];
            }
            r_last = r;
            inside++;
            sum += t[0];
            // Not before two cells of the sector are in: the rest of the
            // sector may be extrapolated from them.  A sector that starts
            // close to the centre would otherwise stop at its first cell,
            // as the sum of the sectors before it is large.
            if (early && inside >= 2 &&
                ((sum != 0 && t[0] / sum < kEarlyStop) || cell.settled(ln_r)))
                break;
        }
        // The rest of a sector that reaches the centre: all of it lies in
        // the rectangle, between the centre and a cell that does.
        if (early && last_inside && inside >= 2) {
            double rest[11];
            if (cell.tail(s, r_last * kInnerEdge, q * std::sin(kSector), rest)) {
                for (int i = 0; i < N; i++)
                    acc[i] += rest[i];
            } else {
                for (int i = 0; i < N; i++) {
                    double f = last[i] / prev[i];
                    if (f > 0 && f < 1)
                        acc[i] += last[i] * f / (1 - f);
                }
            }
        }
    }
    return acc[0];
}

// The Nuker intensity as a function of ln R, R the generalised radius.
struct nuker_law {
    double ln_i0q; // ln(2^((beta - gamma)/alpha) Ib)
    double alpha, beta, gamma, g, rb, ln_rb;

    nuker_law(const float *a, double ib)
    {
        alpha = a[SLOT_NUKER_ALPHA];
        beta = a[SLOT_NUKER_BETA];
        gamma = a[SLOT_NUKER_GAMMA];
        rb = a[SLOT_SIZE];
        ln_rb = std::log(rb);
        g = (gamma - beta) / alpha;
        ln_i0q = (beta - gamma) / alpha * kLn2 + std::log(ib);
    }
    // ln I at ln R; w receives (R/Rb)^alpha and l1w ln(1 + w).
    double ln_at(double ln_r, double &w, double &l1w) const
    {
        w = std::exp(alpha * (ln_r - ln_rb));
        l1w = std::log1p(w);
        return ln_i0q + gamma * (ln_rb - ln_r) + g * l1w;
    }
    // I at ln R.
    double at(double ln_r, double &w, double &l1w) const { return std::exp(ln_at(ln_r, w, l1w)); }
    // r dI/dr over I.
    double slope(double w) const { return g * alpha * w / (1 + w) - gamma; }
    // The derivatives by slots 4 to 7, over I.
    void own(double ln_r, double w, double l1w, double *d) const
    {
        double f = w / (1 + w);
        d[4] = gamma / rb - g * alpha * f / rb;
        d[5] = g / alpha * (kLn2 - l1w + alpha * f * (ln_r - ln_rb));
        d[6] = (kLn2 - l1w) / alpha;
        d[7] = -kLn2 / alpha + (ln_rb - ln_r) + l1w / alpha;
    }
};

// Factors of the q, PA and c derivatives along one direction: on a ray from
// the centre they depend on the angle only (the radius cancels).
struct ray_factors {
    double lh; // ln h, the generalised radius of the cell at r being r h
    double kq, kpa, kc;

    void set(double cphi, double sphi, double c, double q)
    {
        double ac = std::fabs(cphi), as = std::fabs(sphi);
        double pc = std::pow(ac, c), ps = std::pow(as, c);
        double h = pc + ps;
        lh = std::log(h) / c;
        kq = -(ps / h) / q;
        double sc = cphi < 0 ? -1 : 1, ss = sphi < 0 ? -1 : 1;
        double pc1 = ac > 0 ? pc / ac : 0, ps1 = as > 0 ? ps / as : 0; // |.|^(C-1)
        kpa = -render::kDegree * (-q * sc * pc1 * sphi + ss * ps1 * cphi / q) / h;
        double xlx = (ac > 0 ? pc * std::log(ac) : 0) + (as > 0 ? ps * std::log(as) : 0);
        kc = xlx / (c * h) - std::log(h) / (c * c);
    }
};

// Gauss-Legendre nodes and weights on [0, 1], 8 points.
const double kGlNode[8] = {0.019855071751231856, 0.10166676129318664, 0.2372337950418355,
                           0.4082826787521751,   0.5917173212478249,  0.7627662049581645,
                           0.8983332387068134,   0.9801449282487681};
const double kGlWeight[8] = {0.05061426814518813, 0.11119051722668724, 0.15685332293894363,
                             0.18134189168918100, 0.18134189168918100, 0.15685332293894363,
                             0.11119051722668724, 0.05061426814518813};

// Below this (R/Rb)^alpha the Nuker is its inner power law to within a few
// per cent, which the tail of a sector integrates exactly.
constexpr double kSettled = 0.05;
// Panels of the tail's quadrature.
constexpr int kTailPanels = 2;

// Light and derivatives of a Nuker pixel over its polar cells.
struct nuker_cell {
    const nuker_law &law;
    double c, q;
    bool derivs; // fill t[1..10] as well
    ray_factors ray;
    double last_w = 0; // (R/Rb)^alpha of the last cell

    void begin(const sector &s) { ray.set(s.cphi, s.sphi, c, q); }
    void operator()(const sector &, double, double ln_r, double area, double *t)
    {
        double lr = ln_r + ray.lh, w, l1w;
        double light = law.at(lr, w, l1w) * area;
        fill(lr, w, l1w, light, t);
    }
    bool settled(double) const { return last_w < kSettled; }

    // The rest of the sector inside radius r_in: k times the integral of
    // I(R) r dr from 0 to r_in (R = r h), k = q sin(sector) being the area
    // of the sector per r dr.  With r = r_in s^p, p = 1 / (2 - gamma), the
    // integrand I r^2 p / s is bounded (I goes as R^-gamma at the centre)
    // and the integral over s in [0, 1] is taken by Gauss-Legendre, in
    // logarithms, as r may be far below the range of a double.
    bool tail(const sector &, double r_in, double k, double *t)
    {
        const double p = 1 / (2 - law.gamma);
        const double ln_base = std::log(k * p), ln_rin = std::log(r_in);
        double u[11];
        for (int i = 0; i <= 10; i++)
            t[i] = 0;
        for (int panel = 0; panel < kTailPanels; panel++)
            for (int i = 0; i < 8; i++) {
                const double sv = (panel + kGlNode[i]) / kTailPanels;
                const double ln_s = std::log(sv), ln_r = ln_rin + p * ln_s;
                const double lr = ln_r + ray.lh;
                double w, l1w;
                const double ln_light = law.ln_at(lr, w, l1w) + 2 * ln_r - ln_s + ln_base;
                fill(lr, w, l1w, std::exp(ln_light) * kGlWeight[i] / kTailPanels, u);
                for (int j = 0; j <= (derivs ? 10 : 0); j++)
                    t[j] += u[j];
            }
        return true;
    }

    // t[0] = light, and its derivatives by slots 4 to 10 at ln R = lr.
    void fill(double lr, double w, double l1w, double light, double *t)
    {
        last_w = w;
        t[0] = light;
        if (!derivs)
            return;
        law.own(lr, w, l1w, t);
        for (int k = 4; k <= 7; k++)
            t[k] *= light;
        double rd = law.slope(w) * light;
        t[8] = rd * ray.kq;
        t[9] = rd * ray.kpa;
        t[10] = rd * ray.kc;
        t[1] = t[2] = t[3] = 0;
    }
};

// Any integrand func(a, x, y), at the cell centres.  Its rest of a sector
// is the geometric series of polar_sum.
struct function_cell {
    float (*func)(float *, float, float);
    float *a;
    void begin(const sector &) {}
    bool settled(double) const { return false; }
    bool tail(const sector &, double, double, double *) { return false; }
    void operator()(const sector &s, double r, double, double area, double *t)
    {
        float x = static_cast<float>(a[SLOT_X] + r * s.ex),
              y = static_cast<float>(a[SLOT_Y] + r * s.ey);
        t[0] = func(a, x, y) * area;
    }
};

// Integral of f over [p, p + len] (len >= 0) for f peaked at p with width w:
// with y = p + w sinh t the peak spreads over the panels in t.
template <class F>
double peaked_integral(const F &f, double p, double len, double dir, double w)
{
    if (len <= 0)
        return 0;
    const double tmax = std::asinh(len / w);
    const int panels = std::max(1, static_cast<int>(std::ceil(tmax)));
    const double dt = tmax / panels;
    double sum = 0;
    for (int k = 0; k < panels; k++)
        for (int i = 0; i < 8; i++) {
            double t = (k + kGlNode[i]) * dt;
            sum += kGlWeight[i] * f(p + dir * w * std::sinh(t)) * w * std::cosh(t);
        }
    return sum * dt;
}

// Integral of the Nuker along a pixel edge: the segment from lo to hi of
// the line on which the other coordinate is fixed at `at` (along y when
// along_y, else along x).
double edge_integral(const nuker_law &law, const render::ellipse_frame &f, bool along_y, double at,
                     double lo, double hi)
{
    auto value = [&](double x, double y) {
        render::sample_point p;
        render::locate_any(f, x, y, p);
        double w, l1w;
        return law.at(std::log(p.r), w, l1w);
    };
    // Where the line comes closest to the centre in the metric of the
    // ellipse (exact for c = 0): the peak of the integrand.
    const double s = f.sin_t, c = f.cos_t, iq2 = f.inv_q * f.inv_q;
    double peak, d;
    if (along_y) {
        d = at - f.xc;
        peak = f.yc + (s * c * d - c * s * d * iq2) / (s * s + c * c * iq2);
    } else {
        d = at - f.yc;
        peak = f.xc + (c * s * d - s * c * d * iq2) / (c * c + s * s * iq2);
    }
    peak = std::min(std::max(peak, lo), hi);
    const double w = std::max(std::fabs(d) * f.q, 1e-7);
    auto g = [&](double v) { return along_y ? value(at, v) : value(v, at); };
    return peaked_integral(g, peak, hi - peak, 1, w) + peaked_integral(g, peak, peak - lo, -1, w);
}

} // namespace

float nukefunc(float *ta, float x, float y)
{
    double r = rdist(x, y, ta);
    double alpha = ta[SLOT_NUKER_ALPHA], beta = ta[SLOT_NUKER_BETA], gamma = ta[SLOT_NUKER_GAMMA],
           rb = ta[SLOT_SIZE];
    return static_cast<float>(std::pow(2.0, (beta - gamma) / alpha) * ta[SLOT_MAG] *
                              std::pow(rb / r, gamma) *
                              std::pow(1 + std::pow(r / rb, alpha), (gamma - beta) / alpha));
}

float egrid(float (*func)(float *, float, float), float xmin, float xmax, float ymin, float ymax,
            float *a)
{
    const float theta = a[SLOT_PA];
    a[SLOT_PA] = static_cast<float>(kPi2 - a[SLOT_PA]); // the position angle, for the cells
    function_cell cell{func, a};
    double sum;
    polar_sum<1>(xmin, xmax, ymin, ymax, a, cell, &sum);
    a[SLOT_PA] = theta;
    return static_cast<float>(sum);
}

void nuker(float *a, int *ia, image *model, derivs *df)
{
    if (!(a[SLOT_NUKER_ALPHA] >= 0.01f))
        a[SLOT_NUKER_ALPHA] = 0.01f; // also in the caller's parameters
    // The integrated core reaches 5 pixels of the oversampled grid, taken
    // in double: 5 os may not fit an int.
    const double core = 5.0 * input.sampfac;
    const double ib = render::surface_intensity(model->muzpt, a[SLOT_MAG]);
    const nuker_law law(a, ib);
    const render::ellipse_frame f = render::make_frame(a);

    bool free_slot[11];
    bool any_derivs = false;
    for (int k = 1; k <= 10; k++) {
        free_slot[k] = ia[k] == 1;
        any_derivs = any_derivs || free_slot[k];
    }
    render::geometry_slots geo;
    geo.x = free_slot[SLOT_X];
    geo.y = free_slot[SLOT_Y];
    geo.q = free_slot[SLOT_Q];
    geo.pa = free_slot[SLOT_PA];
    geo.c = free_slot[SLOT_C];
    geo.any = geo.x || geo.y || geo.q || geo.pa || geo.c;

    // The cells take the position angle in radians.
    float pa_rad[11];
    for (int k = 1; k <= 10; k++)
        pa_rad[k] = a[k];
    pa_rad[SLOT_MAG] = static_cast<float>(ib);
    pa_rad[SLOT_PA] = static_cast<float>(kPi2 - (-a[SLOT_PA] / 180.0 * 3.141592654 + 1.570796327));
    nuker_cell cell{law, f.c, f.q, any_derivs, {}};

    const long nx = df->naxes[1], ny = df->naxes[2];
    for (long y = 1; y <= ny; y++) {
        for (long x = 1; x <= nx; x++) {
            render::sample_point p;
            render::locate_any(f, x, y, p);
            double d[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
            double value;
            if (p.r < core) {
                // Integrated over the pixel: the derivatives too, where the
                // point derivatives at the pixel centre would be far off.
                const float x0 = static_cast<float>(x - 0.5), x1 = static_cast<float>(x + 0.5);
                const float y0 = static_cast<float>(y - 0.5), y1 = static_cast<float>(y + 0.5);
                if (any_derivs) {
                    double acc[11];
                    value = polar_sum<11>(x0, x1, y0, y1, pa_rad, cell, acc);
                    for (int k = 4; k <= 10; k++)
                        d[k] = acc[k];
                } else {
                    value = polar_sum<1>(x0, x1, y0, y1, pa_rad, cell, &value);
                }
                // Moving the centre moves the light across the pixel's
                // edges: dP/dxc = -(flux through the right edge - left edge).
                if (geo.x)
                    d[1] = -(edge_integral(law, f, true, x1, y0, y1) -
                             edge_integral(law, f, true, x0, y0, y1));
                if (geo.y)
                    d[2] = -(edge_integral(law, f, false, y1, x0, x1) -
                             edge_integral(law, f, false, y0, x0, x1));
            } else {
                double w, l1w, lr = std::log(p.r);
                value = law.at(lr, w, l1w);
                if (any_derivs) {
                    law.own(lr, w, l1w, d);
                    for (int k = 4; k <= 7; k++)
                        d[k] *= value;
                    if (geo.any) {
                        double acc[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
                        if (f.c == 2)
                            render::add_geometry<true>(f, p, geo, law.slope(w) * value, 0, 0, 0,
                                                       acc);
                        else
                            render::add_geometry<false>(f, p, geo, law.slope(w) * value, 0, 0, 0,
                                                        acc);
                        for (int k : {1, 2, 8, 9, 10})
                            d[k] = acc[k];
                    }
                }
            }
            d[3] = -render::kLn10Over25 * value;
            df->dpm[0][y][x] = static_cast<float>(value);
            for (int k = 1; k <= 10; k++)
                if (free_slot[k])
                    df->dpm[k][y][x] = static_cast<float>(d[k]);
        }
    }
}
