// Sersic and de Vaucouleurs profiles:
//     I(r) = Ie exp(-kappa ((r/Re)^(1/n) - 1)),
// kappa(n) such that Re encloses half the light.
#include "torvex/model/sersic.h"

#include "torvex/model/component_types.h"

#include "numerics/numrec.h"
#include "numerics/spline.h"
#include "torvex/model/render.h"

#include <cmath>

// The kappa(n) table over the abscissae 2n = 0.11, 0.21, ..., 10.01: the
// kappa that solves gamma(2n, kappa) = Gamma(2n)/2, to six digits.
// Element 0 is unused.
float TWOn[101] = {
    0,     0.11f, 0.21f, 0.31f, 0.41f, 0.51f, 0.61f, 0.71f, 0.81f, 0.91f,  1.01f, 1.11f, 1.21f,
    1.31f, 1.41f, 1.51f, 1.61f, 1.71f, 1.81f, 1.91f, 2.01f, 2.11f, 2.21f,  2.31f, 2.41f, 2.51f,
    2.61f, 2.71f, 2.81f, 2.91f, 3.01f, 3.11f, 3.21f, 3.31f, 3.41f, 3.51f,  3.61f, 3.71f, 3.81f,
    3.91f, 4.01f, 4.11f, 4.21f, 4.31f, 4.41f, 4.51f, 4.61f, 4.71f, 4.81f,  4.91f, 5.01f, 5.11f,
    5.21f, 5.31f, 5.41f, 5.51f, 5.61f, 5.71f, 5.81f, 5.91f, 6.01f, 6.11f,  6.21f, 6.31f, 6.41f,
    6.51f, 6.61f, 6.71f, 6.81f, 6.91f, 7.01f, 7.11f, 7.21f, 7.31f, 7.41f,  7.51f, 7.61f, 7.71f,
    7.81f, 7.91f, 8.01f, 8.11f, 8.21f, 8.31f, 8.41f, 8.51f, 8.61f, 8.71f,  8.81f, 8.91f, 9.01f,
    9.11f, 9.21f, 9.31f, 9.41f, 9.51f, 9.61f, 9.71f, 9.81f, 9.91f, 10.01f,
};
float MU[101] = {
    0,         0.00112299f, 0.0247142f, 0.0796446f, 0.152949f, 0.23608f,  0.324744f, 0.416733f,
    0.510834f, 0.606344f,   0.702830f,  0.80002f,   0.897726f, 0.995824f, 1.09422f,  1.19286f,
    1.29169f,  1.39067f,    1.48977f,   1.58898f,   1.68828f,  1.78765f,  1.88709f,  1.98658f,
    2.08611f,  2.18569f,    2.2853f,    2.38495f,   2.48462f,  2.58431f,  2.68403f,  2.78377f,
    2.88353f,  2.9833f,     3.08309f,   3.18289f,   3.2827f,   3.38252f,  3.48235f,  3.5822f,
    3.68205f,  3.7819f,     3.88177f,   3.98164f,   4.08152f,  4.18141f,  4.28129f,  4.38119f,
    4.48109f,  4.58099f,    4.6809f,    4.78081f,   4.88073f,  4.98065f,  5.08057f,  5.18049f,
    5.28042f,  5.38035f,    5.48028f,   5.58022f,   5.68016f,  5.78009f,  5.88004f,  5.97998f,
    6.07993f,  6.17987f,    6.27982f,   6.37977f,   6.47972f,  6.57968f,  6.67963f,  6.77959f,
    6.87955f,  6.97951f,    7.07946f,   7.17943f,   7.27939f,  7.37935f,  7.47932f,  7.57928f,
    7.67925f,  7.77921f,    7.87918f,   7.97915f,   8.07912f,  8.17909f,  8.27906f,  8.37903f,
    8.479f,    8.57898f,    8.67895f,   8.77892f,   8.8789f,   8.97887f,  9.07885f,  9.17882f,
    9.2788f,   9.37878f,    9.47876f,   9.57873f,   9.67871f,
};
float Y2[101];
int ninterp = 100;

namespace {

bool kappa_spline_ready = false;

// Smallest kappa used: below the table (n < 0.055) the spline's
// extrapolation would turn negative and every logarithm of kappa NaN.
constexpr double kMinKappa = 1e-6;

struct sersic_profile : render::profile_base {
    double kappa, inv_n, re, ln_re;
    double dkdn;   // d kappa / dn
    double di0_dn; // d Ie / dn

    template <bool Ellipse2>
    bool eval(const render::ellipse_frame &f, const render::sample_point &p, double &e,
              double &r_didr, double *acc) const
    {
        double lrho = render::log_radius<Ellipse2>(f, p) - ln_re;
        double rho1n = std::exp(lrho * inv_n);
        e = std::exp(-kappa * (rho1n - 1));
        double intensity = i0 * e;
        r_didr = -kappa * inv_n * intensity * rho1n;
        if (f3)
            acc[SLOT_MAG] += e * dm;
        if (f4)
            acc[SLOT_SIZE] += (-r_didr - 2 * intensity) / re;
        if (f5)
            acc[SLOT_SERSIC_N] +=
                intensity * (kappa * inv_n * inv_n * rho1n * lrho - dkdn * (rho1n - 1)) +
                e * di0_dn;
        return true;
    }
};

} // namespace

void getmu(float *twon, float *mu, float *y2, int n)
{
    spline(twon, mu, n, 0.05f, 1.0f, y2);
    if (y2 == Y2)
        kappa_spline_ready = true;
}

float getinterp(float n)
{
    if (!kappa_spline_ready)
        getmu(TWOn, MU, Y2, ninterp);
    float kappa;
    splint(TWOn, MU, Y2, ninterp, 2 * n, &kappa);
    return kappa;
}

float gamm2nln(float n)
{
    return gammln(2 * n);
}

void sersic(float *a, int *ia, image *model, derivs *df)
{
    const double n = a[SLOT_SERSIC_N], re = a[SLOT_SIZE], q = a[SLOT_Q];

    double kappa = n < 5 ? getinterp(a[SLOT_SERSIC_N]) : 1.9992 * n - 0.3271;
    if (!(kappa >= kMinKappa))
        kappa = kMinKappa;

    const render::flux_setup fs(a, ia, model);

    // n Gamma(2n) e^kappa kappa^(-2n) as a logarithm: the product itself
    // overflows single precision for large n.
    double ln_norm = std::log(n) + gammln(a[SLOT_SERSIC_N] * 2) + kappa - 2 * n * std::log(kappa);
    double ie = fs.f * 0.5 / 3.141592654 / (std::exp(ln_norm) * re * re * q / fs.r);

    double dkdn = 0, dlngamma = 0;
    if (ia[SLOT_SERSIC_N] == 1) {
        float err;
        dkdn = n > 5 ? 1.9992 : dfridr(getinterp, a[SLOT_SERSIC_N], 0.1f, &err);
        float h = n > 3 ? static_cast<float>(0.1 * std::log(n)) : 0.1f;
        dlngamma = dfridr(gamm2nln, a[SLOT_SERSIC_N], h, &err);
    }

    sersic_profile p;
    p.rule = {16, 32, 4, 32};
    p.size = re;
    p.flux_normalised(ie, q, fs, ia);
    p.kappa = kappa;
    p.inv_n = 1 / n;
    p.re = re;
    p.ln_re = std::log(re);
    p.dkdn = dkdn;
    p.di0_dn = -ie * (dlngamma + 1 / n + dkdn - 2 * (std::log(kappa) + n / kappa * dkdn));

    render::render_profile(a, ia, df, p);
}
