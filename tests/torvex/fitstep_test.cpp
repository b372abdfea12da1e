// The parts of a fit step that need no rendering: the countdown rule, trial
// limits, flat vectors, chi^2 over usable pixels and the uncertainties.
#include "torvex/fit/countdown.h"
#include "torvex/fit/mrqmin.h"
#include "torvex/fit/workarrays.h"
#include "torvex/model/ellipse.h"

#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace fit_test;

namespace {

// The countdown shown at each iteration for a sequence of chi^2 values
// (chi^2 after iteration 1, 2, ...), as the loop runs it: it stops after the
// iteration whose next countdown is below 0.
std::vector<int> run_countdown(const std::vector<double> &chi2, int ndof = 100, double dlim = 1e-4,
                               int itermax = 100)
{
    countdown_state cs;
    std::vector<int> shown;
    double old = 1e27;
    for (size_t i = 0; i < chi2.size() && cs.countdown >= 0; i++) {
        shown.push_back(
            countdown_step(&cs, static_cast<int>(i) + 1, chi2[i], old, ndof, dlim, itermax));
        old = chi2[i];
    }
    return shown;
}

// chi^2 falling by step at first, then by amounts that halve.
std::vector<double> falling(int n_large, double large, int n_small, double first_small,
                            double start = 10000)
{
    std::vector<double> c{start};
    for (int i = 0; i < n_large; i++)
        c.push_back(c.back() - large);
    double d = first_small;
    for (int i = 0; i < n_small; i++, d /= 2)
        c.push_back(c.back() - d);
    return c;
}

TEST(Countdown, SequencesOfChi2)
{
    const struct {
        const char *what;
        std::vector<double> chi2;
        std::vector<int> shown; // 0 for "not checked"
        int itermax;
    } cases[] = {
        {"first iteration always resets", {1000}, {99}, 100},
        {"small shrinking gains count down from iteration 2",
         falling(0, 0, 30, 0.5),
         {99, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         100},
        {"a large gain while counting sets it back",
         [] {
             auto c = falling(0, 0, 3, 0.5);
             c.push_back(c.back() - 500);
             auto rest = falling(0, 0, 30, 0.2, c.back());
             c.insert(c.end(), rest.begin() + 1, rest.end());
             return c;
         }(),
         {99, 10, 9, 8, 95, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0},
         100},
        {"steady large gains hold it at the iterations left",
         falling(5, 1000, 0, 0, 100000),
         {99, 98, 97, 96, 95, 94},
         100},
        {"the limit sets what is shown while held",
         falling(3, 1000, 0, 0, 100000),
         {29, 28, 27, 26},
         30},
        {"constant small gains start it at once, then reset when not shrinking",
         falling(4, 1, 0, 0),
         {99, 10, 97, 96, 95},
         100},
        {"a gain that grows resets",
         [] {
             auto c = falling(0, 0, 3, 0.5);
             c.push_back(c.back() - 0.4); // more than the last 0.125
             return c;
         }(),
         {99, 10, 9, 8, 95},
         100},
    };
    for (const auto &c : cases) {
        std::vector<int> got = run_countdown(c.chi2, 100, 1e-4, c.itermax);
        ASSERT_GE(got.size(), c.shown.size()) << c.what;
        for (size_t i = 0; i < c.shown.size(); i++)
            EXPECT_EQ(got[i], c.shown[i]) << c.what << " at iteration " << i + 1;
        if (c.shown.back() == 0) {
            EXPECT_EQ(got.size(), c.shown.size()) << c.what << ": runs past 0";
        }
    }
}

TEST(Countdown, StartedAtIteration95RunsTo105)
{
    // Gains of exactly 1 per iteration hold the countdown; smaller, halving
    // ones from iteration 95 on start it.
    std::vector<double> chi2 = falling(93, 1, 30, 0.5);
    std::vector<int> shown = run_countdown(chi2);
    ASSERT_EQ(shown.size(), 105u);
    EXPECT_EQ(shown[93], 6);  // iteration 94, still held: 100 - 94
    EXPECT_EQ(shown[94], 10); // iteration 95 starts it
    EXPECT_EQ(shown[104], 0); // iteration 105 ends it
}

TEST(ParMonitor, LimitsOfTrialValues)
{
    const struct {
        const char *what;
        const char *type;
        int slot;
        float a, da;
        float expect;
    } cases[] = {
        {"q above 1 is inverted", "sersic", 8, 0.8f, 0.45f, 0.8f},
        {"negative q takes its magnitude first", "sersic", 8, 0.5f, -0.8f, 0.3f},
        {"q below -1 ends in (0, 1]", "sersic", 8, 0.5f, -1.7f, 1 / 1.2f},
        {"q cannot shrink a hundredfold", "sersic", 8, 0.5f, -0.4999f, 0.005f},
        {"size grows at most tenfold", "sersic", 4, 4, 45, 40},
        {"size shrinks at most tenfold", "sersic", 4, 4, -3.8f, 0.4f},
        {"size not positive becomes 0.01", "sersic", 4, -3, 1, 0.01f},
        {"index capped at ten times, then refused above 20", "sersic", 5, 4, 41, STEP_SENTINEL},
        {"negative index is refused", "sersic", 5, 4, -5, STEP_SENTINEL},
        {"index within limits", "sersic", 5, 2, 1, 3},
        {"a King's slot 5 has no limit", "king", 5, 4, 41, 45},
        {"a Moffat power law is limited like an index", "moffat", 5, 3, 20, STEP_SENTINEL},
        {"positions move at most 1e5", "sersic", 1, 10, 2e5f, 100010},
        {"positions move at most 1e5 down", "sersic", 2, 10, -2e5f, -99990},
        {"diskiness stays above -2", "sersic", 10, 0, -3, MIN_DISKINESS},
        {"diskiness above the bound", "sersic", 10, 0, -1.5f, -1.5f},
        {"diskiness stays at most its bound", "sersic", 10, 900, 500, kMaxDiskiness},
        {"slot 6 not negative", "nuker", 6, 1, -2, 0},
        {"slot 7 not negative", "nuker", 7, 1, -2, 0},
        // Trial values the profile cannot render end the step.
        {"a King alpha clipped to 0 is refused", "king", 6, 1, -2, STEP_SENTINEL},
        {"a King alpha above 0 is kept", "king", 6, 1, -0.5f, 0.5f},
        {"a Moffat power law of 1 is refused", "moffat", 5, 3, -2, STEP_SENTINEL},
        {"a Moffat power law below 1 is refused", "moffat", 5, 1.5f, -0.7f, STEP_SENTINEL},
        {"a Moffat power law above 1 is kept", "moffat", 5, 1.5f, -0.4f, 1.1f},
        {"a Nuker gamma of 2 is refused", "nuker", 7, 1.5f, 0.5f, STEP_SENTINEL},
        {"a Nuker gamma below 2 is kept", "nuker", 7, 1.5f, 0.4f, 1.9f},
        {"a Sersic index near 0 is refused", "sersic", 5, 0.5f, -0.49f, STEP_SENTINEL},
        {"a step to no number is refused", "sersic", 3, 20, NAN, STEP_SENTINEL},
        {"the lowest diskiness is renderable", "expdisk", 10, 0, -5, MIN_DISKINESS},
        {"magnitude free", "sersic", 3, 20, 100, 120},
    };
    for (const auto &c : cases) {
        Components comps;
        comps.add(c.type);
        comps.head.ia[c.slot] = 1;
        float a[11] = {}, atry[11] = {};
        int ia[11] = {};
        double da[2] = {0, c.da};
        for (int s = 1; s <= 10; s++)
            ia[s] = comps.head.ia[s] == 1;
        a[c.slot] = c.a;
        par_monitor(10, a, ia, atry, da, &comps.head);
        EXPECT_FLOAT_EQ(atry[c.slot], c.expect) << c.what;
    }
}

TEST(ParMonitor, InvertedAxisRatioTurnsAFreeAngle)
{
    // Two components; steps counted over the free entries only.
    float a[21] = {}, atry[21] = {};
    int ia[21] = {};
    Components comps;
    comps.add("sersic");
    comps.add("sersic");
    a[8] = 0.8f;
    a[9] = 30;
    a[18] = 0.8f;
    a[19] = 30;
    atry[3] = 17; // fixed: keeps its trial value
    ia[8] = ia[9] = ia[18] = 1;
    double da[4] = {0, 0.45, 5, 0.45};
    par_monitor(20, a, ia, atry, da, &comps.head);
    EXPECT_FLOAT_EQ(atry[8], 0.8f);
    EXPECT_FLOAT_EQ(atry[9], 125);   // 30 + 5, turned by 90
    EXPECT_FLOAT_EQ(atry[18], 0.8f); // its angle is fixed: nothing turns
    EXPECT_FLOAT_EQ(atry[19], 0);
    EXPECT_FLOAT_EQ(atry[3], 17);
}

TEST(ParMonitor, NonPositiveSizeIsResetBeforeTheStep)
{
    Components comps;
    comps.add("sersic");
    float a[11] = {}, atry[11] = {};
    int ia[11] = {};
    ia[4] = 1;
    a[4] = -3;
    double da[2] = {0, 5};
    par_monitor(10, a, ia, atry, da, &comps.head);
    EXPECT_FLOAT_EQ(a[4], 0.01f);
    EXPECT_FLOAT_EQ(atry[4], 2); // -3 + 5 within the ratio rules
}

TEST(FlatVectors, CopyParsAndEntryNumbers)
{
    Components comps;
    for (int c = 0; c < 3; c++) {
        fitpars *p = comps.add("sersic");
        for (int s = 1; s <= 10; s++) {
            p->a[s] = 100.0f * c + s;
            p->ia[s] = (s + c) % 2;
        }
    }
    float a[31] = {};
    int ia[31] = {};
    copy_pars(a, ia, &comps.head, 1);
    EXPECT_FLOAT_EQ(a[18], 108); // slot 8 of component 2
    EXPECT_EQ(ia[18], 1);
    EXPECT_FLOAT_EQ(a[30], 210);
    for (int k = 1; k <= 30; k++)
        a[k] = -k;
    copy_pars(a, nullptr, &comps.head, 0);
    EXPECT_FLOAT_EQ(comps.head.next->a[8], -18);
    copy_pars(a, nullptr, &comps.head, 2); // any other direction: nothing
    a[1] = 5;
    copy_pars(a, nullptr, &comps.head, 2);
    EXPECT_FLOAT_EQ(comps.head.a[1], -1);
}

TEST(FlatVectors, AssignErrScalesBySqrtChi2nu)
{
    Components comps;
    comps.add("sersic");
    comps.add("sky");
    double sigma[21] = {};
    sigma[4] = 0.5;
    sigma[11] = 2;
    assign_err(&comps.head, sigma, 4.0f);
    EXPECT_FLOAT_EQ(comps.head.sig[4], 1);
    EXPECT_FLOAT_EQ(comps.head.next->sig[1], 4);
    EXPECT_FLOAT_EQ(comps.head.sig[1], 0);
}

// Matrices of doubles for errcalc, 1-based.
struct DMat {
    explicit DMat(int n) : n(n), m(dmatrix(1, n, 1, n)) {}
    ~DMat() { free_dmatrix(m, 1, n, 1, n); }
    int n;
    double **m;
};

TEST(ErrCalc, StandardErrorsOfTheInverseCurvature)
{
    // ((2, 1), (1, 2)) has the inverse ((2, -1), (-1, 2)) / 3, so both
    // errors are sqrt(2/3): the correlation widens each beyond the
    // 1/sqrt(2) of a lone parameter.
    DMat alpha(3);
    alpha.m[1][1] = 2;
    alpha.m[1][2] = alpha.m[2][1] = 1;
    alpha.m[2][2] = 2;
    int ia[4] = {0, 1, 0, 1};
    double sigma[4] = {9, 9, 9, 9};
    EXPECT_EQ(errcalc(sigma, alpha.m, 3, ia, 2), 0);
    EXPECT_NEAR(sigma[1], std::sqrt(2 / 3.0), 1e-12);
    EXPECT_EQ(sigma[2], 0);
    EXPECT_NEAR(sigma[3], std::sqrt(2 / 3.0), 1e-12);
    EXPECT_EQ(alpha.m[1][2], 1); // left as it was

    // Units far apart (a sky level against a position, say) and a strong
    // correlation: ((1e8, 0.9e3), (0.9e3, 1e-2)), whose inverse has the
    // diagonal 1 / (1e8 (1 - 0.81)) and 1 / (1e-2 (1 - 0.81)); the
    // covariance is returned too.
    DMat cov(3);
    alpha.m[1][1] = 1e8;
    alpha.m[1][2] = alpha.m[2][1] = 0.9e3;
    alpha.m[2][2] = 1e-2;
    EXPECT_EQ(errcalc(sigma, alpha.m, 3, ia, 2, cov.m), 0);
    EXPECT_NEAR(sigma[1], 1 / std::sqrt(1e8 * 0.19), 1e-9 / std::sqrt(1e8 * 0.19));
    EXPECT_NEAR(sigma[3], 1 / std::sqrt(1e-2 * 0.19), 1e-9 / std::sqrt(1e-2 * 0.19));
    EXPECT_NEAR(cov.m[1][2], -0.9e3 / (1e6 * 0.19), 1e-9 * 0.9e3 / (1e6 * 0.19));
    EXPECT_EQ(cov.m[2][1], cov.m[1][2]);

    // Diagonal: 1/sqrt of each entry, each to its own slot.
    alpha.m[1][1] = 4;
    alpha.m[1][2] = alpha.m[2][1] = 0;
    alpha.m[2][2] = 9;
    EXPECT_EQ(errcalc(sigma, alpha.m, 3, ia, 2), 0);
    EXPECT_NEAR(sigma[1], 0.5, 1e-7);
    EXPECT_NEAR(sigma[3], 1 / 3.0, 1e-7);
}

TEST(ErrCalc, SingularCurvatureGivesZeroErrors)
{
    const double cases[][4] = {
        {1, 1, 1, 1}, // two parameters with the same effect
        {NAN, 0, 0, 1},
        {1, 0, 0, -1e-3}, // not a curvature at all
    };
    for (const auto &c : cases) {
        DMat alpha(2);
        alpha.m[1][1] = c[0];
        alpha.m[1][2] = c[1];
        alpha.m[2][1] = c[2];
        alpha.m[2][2] = c[3];
        int ia[3] = {0, 1, 1};
        double sigma[3] = {9, 9, 9};
        EXPECT_EQ(errcalc(sigma, alpha.m, 2, ia, 2), 1) << c[0] << " " << c[3];
        EXPECT_EQ(sigma[1], 0);
        EXPECT_EQ(sigma[2], 0);
    }
}

TEST(ErrCalc, ParameterWithoutCurvatureHasNoError)
{
    // Entry 2 has no effect on chi^2 (the fit held it): error 0, and the
    // others come from the inverse of their own block, ((2, 1), (1, 2)).
    DMat alpha(3), cov(3);
    alpha.m[1][1] = 2;
    alpha.m[1][3] = alpha.m[3][1] = 1;
    alpha.m[3][3] = 2;
    alpha.m[1][2] = alpha.m[2][1] = alpha.m[2][2] = alpha.m[2][3] = alpha.m[3][2] = 0;
    int ia[4] = {0, 1, 1, 1};
    double sigma[4] = {9, 9, 9, 9};
    EXPECT_EQ(errcalc(sigma, alpha.m, 3, ia, 3, cov.m), 0);
    EXPECT_NEAR(sigma[1], std::sqrt(2 / 3.0), 1e-12);
    EXPECT_EQ(sigma[2], 0);
    EXPECT_NEAR(sigma[3], std::sqrt(2 / 3.0), 1e-12);
    EXPECT_NEAR(cov.m[1][3], -1 / 3.0, 1e-12);
    EXPECT_EQ(cov.m[2][2], 0);
    EXPECT_EQ(cov.m[1][2], 0);

    // None with an effect: every error 0, and nothing singular to report.
    DMat none(2);
    for (int i = 1; i <= 2; i++)
        for (int j = 1; j <= 2; j++)
            none.m[i][j] = 0;
    EXPECT_EQ(errcalc(sigma, none.m, 2, ia, 2), 0);
    EXPECT_EQ(sigma[1], 0);
    EXPECT_EQ(sigma[2], 0);
}

TEST(Chi2Calc, OnlyUsablePixelsCount)
{
    const long nx = 4, ny = 3;
    image data, sigma, mod, msk;
    for (image *i : {&data, &sigma, &mod, &msk}) {
        i->naxes[1] = nx;
        i->naxes[2] = ny;
        i->z = matrix(1, ny, 1, nx);
    }
    double expect = 0;
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++) {
            data.z[y][x] = 10.0f * x + y;
            mod.z[y][x] = 9.5f * x;
            sigma.z[y][x] = 0.5f + y;
            msk.z[y][x] = 0;
        }
    msk.z[1][1] = 1;          // masked
    msk.z[1][2] = NAN;        // masked
    msk.z[1][3] = 0.99f;      // used
    data.z[2][1] = NAN;       // undefined data
    sigma.z[2][2] = INFINITY; // undefined sigma
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++) {
            if ((y == 1 && x <= 2) || (y == 2 && x <= 2))
                continue;
            double r = data.z[y][x] - mod.z[y][x];
            expect += r * r / (sigma.z[y][x] * sigma.z[y][x]);
        }
    Components comps;
    fitpars *p = comps.add("sersic");
    p->ia[3] = p->ia[4] = 1;
    mask = &msk;
    int ndof = 0;
    double chi2 = chi2calc(&comps.head, data, sigma, mod, data.naxes, &ndof);
    mask = nullptr;
    EXPECT_NEAR(chi2, expect, 1e-5 * expect);
    EXPECT_EQ(ndof, 12 - 4 - 2);
    for (image *i : {&data, &sigma, &mod, &msk})
        free_matrix(i->z, 1, ny, 1, nx);
}

TEST(DerivTable, FreeSlotsInFlatOrder)
{
    Components comps;
    fitpars *p1 = comps.add("sersic");
    fitpars *p2 = comps.add("sky");
    p1->ia[4] = p1->ia[9] = 1;
    p2->ia[1] = 1;
    derivs d1, d2;
    d1.next = &d2;
    float **img[3];
    for (int i = 0; i < 3; i++) {
        img[i] = matrix(1, 2, 1, 3);
        for (long y = 1; y <= 2; y++)
            for (long x = 1; x <= 3; x++)
                img[i][y][x] = 100.0f * i + 10 * y + x;
    }
    d1.dpm[4] = img[0];
    d1.dpm[9] = img[1];
    d2.dpm[1] = img[2];
    const float *tab[4];
    ASSERT_EQ(deriv_table(&comps.head, &d1, tab), 3);
    model.naxes[1] = 3;
    model.naxes[2] = 2;
    model.z = matrix(1, 2, 1, 3);
    model.z[2][3] = 42;
    float ymod = 0, dyda[4] = {};
    funcs(3, 2, &ymod, dyda, tab, 3);
    EXPECT_EQ(ymod, 42);
    EXPECT_EQ(dyda[1], 23);
    EXPECT_EQ(dyda[2], 123);
    EXPECT_EQ(dyda[3], 223);
    free_matrix(model.z, 1, 2, 1, 3);
    model = image();
    for (auto &m : img)
        free_matrix(m, 1, 2, 1, 3);
}

TEST(PrintPar, LinesInImageCoordinatesAndNormalisedAngles)
{
    Components comps;
    comps.add("sersic", {20, 30, 17.5f, 8, 3.5f, 0, 0, 0.8f, 100, 0});
    comps.add("psf", {5, 6, 18});
    comps.add("sky", {1.2f, 0.01f, -0.02f});
    xskycent = 50.5f;
    yskycent = 40.5f;
    CapturePrint cap;
    printpar(101, 51, &comps.head);
    EXPECT_EQ(cap.text(),
              " sersic   : (120.00,  80.00)    17.50     8.00    3.50    0.80  -80.00   0.00\n"
              " psf      : (105.00,  56.00)    18.00     ----    ----    ----    ----   ----\n"
              " sky      : [150.50,  90.50]  1.20e+00   1.00e-02   -2.00e-02\n");
    EXPECT_FLOAT_EQ(comps.head.a[9], -80);
}

} // namespace

namespace {

TEST(WorkArrays, ImagesExistForFreeSlotsOnly)
{
    Components comps;
    fitpars *gal =
        comps.add("sersic", {20, 20, 17, 4, 2, 0, 0, 0.8f, 0, 0}, {1, 1, 1, 1, 0, -1, -1, 1, 1, 0});
    comps.add("sky", {1, 0, 0}, {1, 0, -1});
    image mod;
    mod.naxes[1] = 40;
    mod.naxes[2] = 30;
    derivs head;
    create_work_arrays(&comps.head, &mod, &head);
    ASSERT_NE(mod.z, nullptr);
    ASSERT_NE(head.next, nullptr);
    EXPECT_EQ(head.next->next, nullptr);
    EXPECT_EQ(head.naxes[1], 40);
    EXPECT_EQ(head.next->naxes[2], 30);
    for (int i = 0; i <= 10; i++) {
        EXPECT_EQ(head.dpm[i] != nullptr, i == 0 || gal->ia[i] == 1) << i;
        EXPECT_EQ(head.next->dpm[i] != nullptr, i <= 1) << i;
    }
    head.dpm[4][30][40] = 1; // the whole region is there
    annihilate_work_arrays(&comps.head, &mod, &head);
    EXPECT_EQ(mod.z, nullptr);
    EXPECT_EQ(head.dpm[0], nullptr);

    // Convolution boxes: none for the sky, the box of convregion otherwise.
    input.convbox[1] = input.convbox[2] = 10;
    convpars cpar;
    cpar.sampfac = 1;
    cpar.psfsz[1] = cpar.psfsz[2] = 4;
    derivs box;
    create_conv_arrays(&comps.head, &cpar, &mod, &box);
    EXPECT_GT(box.naxes[1], 0);
    EXPECT_NE(box.dpm[0], nullptr);
    EXPECT_NE(box.dpm[4], nullptr);
    EXPECT_EQ(box.dpm[5], nullptr);
    EXPECT_EQ(box.next->naxes[1], 0);
    EXPECT_EQ(box.next->dpm[0], nullptr);
    box.dpm[0][box.naxes[2]][box.naxes[1]] = 1;
    mod.naxes[1] = mod.naxes[2] = 0; // the model's matrix is not the boxes'
    annihilate_work_arrays(&comps.head, &mod, &box);
    delete_derivs(box.next);
    delete_derivs(head.next);
    input = inpars();
}

} // namespace
