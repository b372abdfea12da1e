// The error search by re-fits and its root finders: on chi^2 surfaces of
// known shape, and on a real fit of a sky plane with seeded noise whose
// uncertainties are known in closed form.
#include "torvex/fit/errsearch.h"

#include "numerics/numrec.h"
#include "torvex/fit/levmar.h"
#include "torvex/fit/workarrays.h"

#include "common/fatal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace {

// Jumps over the level: bisection can only narrow the bracket.
float step(float, float x)
{
    return x < 1 ? 0 : 1;
}

TEST(RootFind, SixtyEightPerCentLevelOfChiSquare)
{
    // P(nu/2, x/2) = 0.6827: x = 1 for one degree of freedom (the familiar
    // delta chi^2 of 1), -2 ln(1 - 0.6827) for two.
    EXPECT_NEAR(rootfind(gammp, 1, 0.01f, 10, 1e-5f), 1.0, 2e-4);
    EXPECT_NEAR(rootfind(gammp, 2, 0.01f, 10, 1e-5f), -2 * std::log(1 - 0.6827), 2e-4);
    // Either end may be the lower one.
    EXPECT_NEAR(rootfind(gammp, 2, 10, 0.01f, 1e-5f), -2 * std::log(1 - 0.6827), 2e-4);
    EXPECT_NRERROR(rootfind(gammp, 1, 2, 10, 1e-5f),
                   "Root must be bracketed for bisection in rtbis");
    EXPECT_NRERROR(rootfind(step, 1, 0.01f, 10, 0), "Too many bisections in rtbis");
}

TEST(GetDel, SquareRootForSlotsOneToTen)
{
    fitpars p;
    EXPECT_FLOAT_EQ(getdel(1, &p, 4), 2);
    EXPECT_FLOAT_EQ(getdel(10, &p, 2.25f), 1.5f);
    EXPECT_FLOAT_EQ(getdel(0, &p, 4), -42.13f);
    EXPECT_FLOAT_EQ(getdel(11, &p, 4), -42.13f);
}

TEST(CopyStruct, TypesValuesAndFlagsAsFarAsBothListsReach)
{
    fitpars a, b, c, x, y;
    strcpy(a.objtype, "sersic2");
    strcpy(b.objtype, "sky");
    for (int k = 1; k <= 10; k++) {
        a.a[k] = k;
        a.ia[k] = k % 2;
        b.a[k] = -k;
        b.ia[k] = -1;
    }
    a.sig[3] = 9;
    a.outtype = 1;
    a.next = &b;
    x.next = &y;
    y.sig[3] = 7;
    copy_struct(&x, &a);
    EXPECT_STREQ(x.objtype, "sersic2");
    EXPECT_STREQ(y.objtype, "sky");
    for (int k = 1; k <= 10; k++) {
        EXPECT_EQ(x.a[k], k);
        EXPECT_EQ(x.ia[k], k % 2);
        EXPECT_EQ(y.a[k], -k);
        EXPECT_EQ(y.ia[k], -1);
    }
    EXPECT_EQ(x.sig[3], 0);
    EXPECT_EQ(x.outtype, 0);
    EXPECT_EQ(y.sig[3], 7);
    // A shorter destination takes what it can hold.
    c.next = nullptr;
    copy_struct(&c, &a);
    EXPECT_EQ(c.a[10], 10);
    EXPECT_EQ(c.next, nullptr);
}

TEST(SortSig, EachFlaggedEntryGetsItsOwnError)
{
    const int ia[] = {0, 1, 0, 1, 0, 1, 0};
    double sigma[] = {0, 0.1, 0.2, 0.3, 99, 99, 99};
    sortsig(sigma, 6, ia, 3);
    const double want[] = {0, 0.1, 0, 0.2, 0, 0.3, 0};
    for (int k = 1; k <= 6; k++)
        EXPECT_EQ(sigma[k], want[k]) << k;

    const int all[] = {0, 1, 1};
    double two[] = {0, 5, 6};
    sortsig(two, 2, all, 2);
    EXPECT_EQ(two[1], 5);
    EXPECT_EQ(two[2], 6);
}

// ---- searches on chi^2 surfaces of known shape -----------------------------

// A stand-in for the fit: every free slot of the list goes to its best
// value, and chi^2 is that of the held slots on a chosen curve.
struct Surface {
    std::function<double(const fitpars *)> chi2;
    int ndof = 100;
    int refits = 0;
};
Surface surface;

double surface_fit(refit_pars *, fitpars *list, int *ndof)
{
    surface.refits++;
    for (fitpars *p = list; p; p = p->next)
        for (int s = 1; s <= 10; s++)
            if (p->ia[s] == 1)
                p->a[s] = 0;
    *ndof = surface.ndof;
    return surface.chi2(list);
}

// chi^2 = 100 + sum of w (a - 0)^2 over slots 1 and 2 of the first
// component: a re-fit puts free slots at 0, so a held one adds w x^2.
double bowl(const fitpars *p)
{
    return 100 + 4 * p->a[1] * p->a[1] + 0.25 * p->a[2] * p->a[2];
}

class Search : public ::testing::Test {
protected:
    void SetUp() override
    {
        surface = Surface{bowl};
        rp.fit = surface_fit;
        strcpy(best.objtype, "sersic");
        best.ia[1] = 0; // held
        best.ia[2] = 1;
        best.a[2] = 0;
        work = best;
    }
    refit_pars rp;
    fitpars best, work;
};

TEST_F(Search, ParabolaThroughThreeRefitsGivesTheCurvatureError)
{
    double chisq = 100;
    // w = 4: chi^2 rises by 1 at 0.5, whatever the step.
    for (float del : {0.1f, 0.5f, 2.0f}) {
        EXPECT_NEAR(parabolic(&chisq, 0, del, &work.a[1], &rp, &work, &best), 0.5, 1e-5) << del;
        EXPECT_EQ(chisq, 100);
    }
}

TEST_F(Search, ParabolicWalksDownhillAndAdoptsTheBetterFit)
{
    // Started 3 steps above the minimum, and then 3 below it.
    for (float start : {1.5f, -1.5f}) {
        best.a[1] = start;
        best.a[2] = 7;
        double chisq = bowl(&best);
        EXPECT_NEAR(parabolic(&chisq, start, 0.5f, &work.a[1], &rp, &work, &best), 0.5, 1e-5);
        EXPECT_EQ(chisq, 100);
        EXPECT_EQ(best.a[1], 0); // the list took the best re-fit
        EXPECT_EQ(best.a[2], 0);
    }
}

TEST_F(Search, ParabolicWithoutCurvatureHasNoBound)
{
    for (double level : {100.0, std::nan("")}) {
        surface.chi2 = [level](const fitpars *) { return level; };
        double chisq = 100;
        float e = parabolic(&chisq, 0, 0.5f, &work.a[1], &rp, &work, &best);
        EXPECT_TRUE(std::isinf(e)) << e;
        EXPECT_GT(e, 0);
    }
}

TEST_F(Search, ParabolicAlongAnEndlessSlopeStops)
{
    surface.chi2 = [](const fitpars *p) { return 100.0 - p->a[1]; };
    double chisq = 100;
    EXPECT_NRERROR(parabolic(&chisq, 0, 0.5f, &work.a[1], &rp, &work, &best),
                   "Too many re-fits in parabolic");
}

TEST_F(Search, BisectionAndSecantsFindTheTargetChi2)
{
    // Target 100 + 100/100 = 101: x = 0.5 for w = 4; tolerance 0.1 in chi^2.
    using finder = float (*)(double *, float, float, float *, refit_pars *, fitpars *, fitpars *);
    for (finder f : {rtbis, rtsec}) {
        for (auto bracket : {std::pair<float, float>{0, 3}, {3, 0.1f}, {-3, 0}}) {
            double chisq = 100;
            float x = f(&chisq, bracket.first, bracket.second, &work.a[1], &rp, &work, &best);
            EXPECT_NEAR(bowl(&work), 101, 0.1) << bracket.first << " " << bracket.second;
            EXPECT_NEAR(std::fabs(x), 0.5, 0.02);
            EXPECT_EQ(chisq, 100);
        }
    }
}

TEST_F(Search, RootFindersAdoptARefitBelowTheBest)
{
    for (auto f : {rtbis, rtsec}) {
        best.a[1] = 0.3f;
        double chisq = 110; // the caller's fit was not at the minimum
        float x = f(&chisq, 0, 3, &work.a[1], &rp, &work, &best);
        EXPECT_LT(chisq, 110);
        EXPECT_NEAR(bowl(&work), chisq + chisq / 100, 0.1 * chisq / 100);
        EXPECT_GT(x, 0.4);
    }
}

TEST_F(Search, RootFinderFailuresAreFatal)
{
    double chisq = 100;
    EXPECT_NRERROR(rtbis(&chisq, 1, 3, &work.a[1], &rp, &work, &best),
                   "Root must be bracketed for bisection in rtbis");
    // chi^2 jumps over the target: no value lies within the tolerance.
    surface.chi2 = [](const fitpars *p) { return p->a[1] < 0.5f ? 100.5 : 101.5; };
    EXPECT_NRERROR(rtbis(&chisq, 0, 3, &work.a[1], &rp, &work, &best),
                   "Too many bisections in rtbis");
    // chi^2 wanders above the target, never within the tolerance.
    surface.chi2 = [](const fitpars *p) { return 101.3 + 0.2 * std::sin(p->a[1]); };
    EXPECT_NRERROR(rtsec(&chisq, 0, 3, &work.a[1], &rp, &work, &best),
                   "Maximum number of iterations exceeded in rtsec");
    surface.chi2 = [](const fitpars *) { return 200.0; };
    EXPECT_NRERROR(rtsec(&chisq, 0, 3, &work.a[1], &rp, &work, &best),
                   "Chi\\^2 does not change between the secant points in rtsec");
}

TEST_F(Search, GetErrHoldsEveryFreeSlotInTurn)
{
    // Two components; chi^2 = 100 + sum over flat entries of w_k a_k^2.
    fitpars second;
    strcpy(second.objtype, "sky");
    best.next = &second;
    for (int s = 1; s <= 10; s++) {
        best.ia[s] = s <= 4 ? 1 : (s == 5 ? 0 : -1);
        second.ia[s] = s <= 3 ? 1 : -1;
        best.a[s] = second.a[s] = 0;
    }
    surface.chi2 = [](const fitpars *p) {
        double c = 100;
        for (int k = 1; p; p = p->next)
            for (int s = 1; s <= 10; s++, k++)
                c += k * p->a[s] * p->a[s]; // w_k = k
        return c;
    };
    double sigma[21], err[21];
    for (int k = 1; k <= 20; k++) {
        sigma[k] = 0.3;
        err[k] = -1;
    }
    EXPECT_EQ(geterr(100, &rp, &best, err, sigma), 1);
    for (int k = 1; k <= 20; k++) {
        bool free_slot = k <= 4 || (k >= 11 && k <= 13);
        EXPECT_NEAR(err[k], free_slot ? 1 / std::sqrt(k) : 0, 1e-6) << k;
    }
    // Flags are back as they were.
    EXPECT_EQ(best.ia[1], 1);
    EXPECT_EQ(best.ia[5], 0);
    EXPECT_EQ(second.ia[3], 1);
    EXPECT_EQ(second.ia[4], -1);
}

// ---- a real fit ------------------------------------------------------------

int quiet(const char *, ...)
{
    return 0;
}

// A sky plane with Gaussian noise of known sigma on a square fit region.
// For a linear model on a grid symmetric about its centre, the constant
// and the two gradients are uncorrelated: holding one and re-fitting the
// others raises chi^2 by (t / e)^2, with e = sigma / sqrt(N) for the
// constant and sigma / sqrt(sum (x - xc)^2) for a gradient.
class SkyFit : public ::testing::Test {
protected:
    static constexpr long N = 21;
    static constexpr double NOISE = 2.0;

    void SetUp() override
    {
        pfunc = quiet;
        strcpy(device, "regular");
        input = inpars{};
        strcpy(psf.name, "none");
        sample.nobjs = 1;
        for (image *im : {&d, &s, &m}) {
            im->naxes[1] = im->naxes[2] = N;
            im->z = matrix(1, N, 1, N);
            snprintf(im->imgsect, sizeof im->imgsect, "[1:%ld,1:%ld]", N, N);
        }
        xskycent = yskycent = (N + 1) * 0.5f;
        std::mt19937 gen(20240611);
        std::normal_distribution<double> noise(0, NOISE);
        for (long y = 1; y <= N; y++)
            for (long x = 1; x <= N; x++) {
                d.z[y][x] = static_cast<float>(50 + 0.3 * (x - xskycent) - 0.2 * (y - yskycent) +
                                               noise(gen));
                s.z[y][x] = static_cast<float>(NOISE);
                m.z[y][x] = 0;
            }
        mask = &m;
        strcpy(sky.objtype, "sky");
        for (int k = 1; k <= 10; k++)
            sky.ia[k] = k <= 3 ? 1 : -1;
        sky.a[1] = 40;
        model = d;
        model.z = nullptr;
        create_work_arrays(&sky, &model, &df);
        covar = dmatrix(1, 10, 1, 10);
        sig = dvector(1, 10);
        rp = refit_pars{&d, &s, &constr, &cpar, covar, sig};

        chisq = LevMar(&d, &s, &sky, &constr, &cpar, covar, sig, &ndof, 1);
        for (int k = 1; k <= 10; k++)
            curv[k] = sig[k];
    }
    void TearDown() override
    {
        annihilate_work_arrays(&sky, &model, &df);
        free_dvector(sig, 1, 10);
        free_dmatrix(covar, 1, 10, 1, 10);
        for (image *im : {&d, &s, &m})
            free_matrix(im->z, 1, N, 1, N);
        mask = nullptr;
        pfunc = printf;
    }
    double expected(int slot) const
    {
        double sxx = 0;
        for (long x = 1; x <= N; x++)
            sxx += (x - xskycent) * (x - xskycent);
        return slot == 1 ? NOISE / N : NOISE / std::sqrt(N * sxx);
    }

    image d, s, m;
    fitpars sky;
    cons constr;
    convpars cpar;
    double **covar = nullptr, *sig = nullptr;
    double curv[11] = {};
    refit_pars rp;
    double chisq = 0;
    int ndof = 0;
};

TEST_F(SkyFit, ParabolicErrorsMatchTheCurvatureAndTheClosedForm)
{
    ASSERT_EQ(ndof, N * N - 3);
    for (int k = 1; k <= 3; k++)
        ASSERT_NEAR(curv[k], expected(k), 1e-3 * expected(k)) << k;

    double err[11];
    EXPECT_EQ(geterr(chisq, &rp, &sky, err, curv), 1);
    for (int k = 1; k <= 3; k++)
        EXPECT_NEAR(err[k], expected(k), 1e-2 * expected(k)) << k;
    for (int k = 4; k <= 10; k++)
        EXPECT_EQ(err[k], 0);
    EXPECT_EQ(input.create, 0);
}

TEST_F(SkyFit, RootFindersReachTheTargetChi2)
{
    // Holding the constant: chi^2 rises by (t / e)^2; the target
    // chi2 (1 + 1/nu), nu = N^2 - 2, is reached at t = e sqrt(chi2 / nu).
    const float best = sky.a[1];
    const double t = expected(1) * std::sqrt(chisq / (N * N - 2));
    fitpars work = sky;
    work.ia[1] = sky.ia[1] = 0;
    double c = chisq;
    float x = rtbis(&c, best - 0.2f * t, best + 5 * t, &work.a[1], &rp, &work, &sky);
    EXPECT_NEAR(x - best, t, 0.06 * t);
    // Secant steps are not held in the bracket: either crossing will do.
    x = rtsec(&c, best - 0.2f * t, best + 5 * t, &work.a[1], &rp, &work, &sky);
    EXPECT_NEAR(std::fabs(x - best), t, 0.06 * t);
    // Held alone, nothing else free: the re-fit only renders.
    work.ia[2] = work.ia[3] = 0;
    int nu = 0;
    work.a[1] = best + 3 * static_cast<float>(expected(1));
    EXPECT_NEAR(refit(&rp, &work, &nu) - chisq, 9, 0.05);
    EXPECT_EQ(nu, N * N);
    EXPECT_EQ(input.create, 0);
}

} // namespace
