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

// The directions and per-angle factors of one one-degree sector.
struct sector {
    double phi;
    double ex, ey; // position of the cell at radius r: centre + r (ex, ey)
    double cphi, sphi;
};

// Sums cell(s, r, area) over the polar cells whose centre lies in the
// rectangle; a[9] holds the position angle in radians (the polar-cell
// convention).
//
// The walk along each sector runs from outside the rectangle towards the
// centre.  When the centre lies in the rectangle it stops once a cell adds
// less than kEarlyStop of the sum so far, and the rest of the sector, down
// to the centre, is the geometric series that the last two cells set up
// (the cells of a power law shrink by a constant factor per step).  Steep
// cusps keep most of their light in that rest: within R it grows as
// R^(2 - gamma).
template <class Cell>
double polar_sum(float xmin, float xmax, float ymin, float ymax, const float *a, const Cell &cell)
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
    double sum = 0;
    for (int k = 0; k < nsect; k++) {
        sector s;
        s.phi = phi0 + k * kSector;
        s.cphi = std::cos(s.phi);
        s.sphi = std::sin(s.phi);
        s.ex = -(s.cphi * sb + q * s.sphi * cbeta);
        s.ey = s.cphi * cbeta - q * s.sphi * sb;

        double r = rhi;
        int steps = 0, inside = 0;
        bool last_inside = false;
        double last = 0, prev = 0;
        while (r >= rlo && r >= rmin && steps < kMaxSteps) {
            r /= 1.01;
            steps++;
            double x = xc + r * s.ex, y = yc + r * s.ey;
            last_inside = xmin <= x && x <= xmax && ymin <= y && y <= ymax;
            if (!last_inside)
                continue;
            const double t = cell(s, r, area_q * r * r);
            if (!std::isfinite(t))
                break; // the integrand's own resolution ends here: the rest takes over
            prev = last;
            last = t;
            inside++;
            sum += t;
            // Not before two cells of the sector are in: the rest of the
            // sector may be extrapolated from them.  A sector that starts
            // close to the centre would otherwise stop at its first cell,
            // as the sum of the sectors before it is large.
            if (early && inside >= 2 && sum != 0 && last / sum < kEarlyStop)
                break;
        }
        // The rest of a sector that reaches the centre: all of it lies in
        // the rectangle, between the centre and a cell that does.
        if (early && last_inside && inside >= 2) {
            double f = last / prev;
            if (f > 0 && f < 1)
                sum += last * f / (1 - f);
        }
    }
    return sum;
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

// The light of the Nuker at a point of the pixel, times the point's
// weight, and its derivatives by slots 4 to 10.
struct nuker_point {
    const nuker_law &law;
    double c, q;
    bool derivs; // fill t[4..10] as well
    ray_factors ray;

    // t[0] = light, and its derivatives by slots 4 to 10 at ln R = lr.
    void fill(double lr, double w, double l1w, double light, double *t) const
    {
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

// Any integrand func(a, x, y), at the cell centres.
struct function_cell {
    float (*func)(float *, float, float);
    float *a;
    double operator()(const sector &s, double r, double area) const
    {
        float x = static_cast<float>(a[SLOT_X] + r * s.ex),
              y = static_cast<float>(a[SLOT_Y] + r * s.ey);
        return func(a, x, y) * area;
    }
};

// The nodes and weights of the integral over [p, p + len] (len >= 0) of a
// function peaked at p with width w, in the direction dir: with
// y = p + dir w sinh t the peak spreads over panels of Gauss-Legendre
// points in t.  visit(y, weight) for each.
template <class V>
void peaked_nodes(double p, double len, double dir, double w, const V &visit)
{
    if (len <= 0)
        return;
    const double tmax = std::asinh(len / w);
    const int panels = std::max(1, static_cast<int>(std::ceil(tmax)));
    const double dt = tmax / panels;
    for (int k = 0; k < panels; k++)
        for (int i = 0; i < 8; i++) {
            double t = (k + kGlNode[i]) * dt;
            visit(p + dir * w * std::sinh(t), kGlWeight[i] * w * std::cosh(t) * dt);
        }
}

template <class F>
double peaked_integral(const F &f, double p, double len, double dir, double w)
{
    double sum = 0;
    peaked_nodes(p, len, dir, w, [&](double y, double weight) { sum += weight * f(y); });
    return sum;
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

// Panels of Gauss-Legendre points along each ray of the fan: the last
// spans [1/2, 1] of the ray's parameter, each one before half of the one
// after it, the first reaching 0.  The derivatives of the light go as its
// logarithm at the centre, which such panels follow closely.
constexpr int kRayPanels = 6;

// The weights of the points of those panels on [0, 1] and the logarithms
// of the points: the same for every pixel, so made once.
struct ray_nodes {
    static constexpr int n = 8 * kRayPanels;
    double w[n], ln_t[n];
    ray_nodes()
    {
        for (int k = 0; k < kRayPanels; k++) {
            const double lo = k == 0 ? 0 : std::ldexp(1.0, k - kRayPanels),
                         hi = std::ldexp(1.0, k + 1 - kRayPanels);
            for (int i = 0; i < 8; i++) {
                w[8 * k + i] = kGlWeight[i] * (hi - lo);
                ln_t[8 * k + i] = std::log(lo + kGlNode[i] * (hi - lo));
            }
        }
    }
};

// The light of the Nuker over the pixel [x0, x1] x [y0, y1] (t[0]) and its
// derivatives by slots 4 to 10 (t[4..10]), integrated so closely that both
// follow every parameter smoothly, as the fit's steps need.  In the frame
// (U, V) = (u, v/q), where the ellipse is the generalised unit circle and
// the area is dx dy / q, the pixel is the signed sum of the four triangles
// from the centre to its edges.  A triangle is integrated along the rays
// from the centre to the points P of its edge: its light is
// q (A x B) p  int dtau int dt I(|P| t^p h) t^(2p - 1), p = 1 / (2 - gamma),
// which keeps the cusp, R^-gamma, out of the integrand; the points of the
// edge gather where it passes closest to the centre.
void fan_integral(const nuker_point &pt, const render::ellipse_frame &f, double x0, double x1,
                  double y0, double y1, double *t)
{
    const double cx[5] = {x0, x1, x1, x0, x0}, cy[5] = {y0, y0, y1, y1, y0};
    double cu[5], cv[5];
    for (int i = 0; i < 5; i++) {
        const double dx = cx[i] - f.xc, dy = cy[i] - f.yc;
        cu[i] = f.cos_t * dx - f.sin_t * dy;
        cv[i] = (f.sin_t * dx + f.cos_t * dy) * f.inv_q;
    }
    const double p = 1 / (2 - pt.law.gamma);
    static const ray_nodes nodes;
    for (int i = 0; i <= 10; i++)
        t[i] = 0;
    nuker_point at = pt;
    double u[11];
    for (int e = 0; e < 4; e++) {
        const double ax = cu[e], ay = cv[e], ex = cu[e + 1] - ax, ey = cv[e + 1] - ay;
        const double cross = ax * cv[e + 1] - ay * cu[e + 1];
        const double len2 = ex * ex + ey * ey;
        // The centre on the edge's line: the triangle has no area.
        if (!(std::fabs(cross) > 1e-12 * len2))
            continue;
        const double foot = std::min(std::max(-(ax * ex + ay * ey) / len2, 0.0), 1.0);
        const double width = std::fabs(cross) / len2;
        auto along = [&](double tau, double weight) {
            const double px = ax + tau * ex, py = ay + tau * ey;
            const double rho = std::hypot(px, py);
            at.ray.set(px / rho, py / rho, at.c, at.q);
            const double ln_edge = std::log(rho) + at.ray.lh, scale = f.q * cross * p * weight;
            for (int j = 0; j < ray_nodes::n; j++) {
                const double lr = ln_edge + p * nodes.ln_t[j];
                double w, l1w;
                const double light =
                    std::exp(pt.law.ln_at(lr, w, l1w) + (2 * p - 1) * nodes.ln_t[j]) * scale *
                    nodes.w[j];
                at.fill(lr, w, l1w, light, u);
                for (int k = 0; k <= (at.derivs ? 10 : 0); k++)
                    t[k] += u[k];
            }
        };
        peaked_nodes(foot, 1 - foot, 1, width, along);
        peaked_nodes(foot, foot, -1, width, along);
    }
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
    const double sum = polar_sum(xmin, xmax, ymin, ymax, a, function_cell{func, a});
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
    render::free_geometry(ia, geo);

    const nuker_point point{law, f.c, f.q, any_derivs, {}};

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
                double acc[11];
                fan_integral(point, f, x - 0.5, x + 0.5, y - 0.5, y + 0.5, acc);
                value = acc[0];
                for (int k = 4; k <= 10; k++)
                    d[k] = acc[k];
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
