// The fit loop in process: a sky plane fitted to noisy data, with the
// keyboard's iteration limit and quit, the case of nothing to fit, and the
// step routine's accept and reject rules.
#include "torvex/display/quit.h"
#include "torvex/fit/constraints.h"
#include "torvex/fit/levmar.h"
#include "torvex/fit/mrqmin.h"
#include "torvex/fit/search_min.h"
#include "torvex/fit/workarrays.h"

#include "common/program.h"
#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <unistd.h>

using namespace fit_test;

namespace {

constexpr long NX = 40, NY = 30;

int polls = 0;

float **image_of(float v)
{
    float **m = matrix(1, NY, 1, NX);
    for (long y = 1; y <= NY; y++)
        for (long x = 1; x <= NX; x++)
            m[y][x] = v;
    return m;
}

class Loop : public ::testing::Test {
protected:
    void SetUp() override
    {
        input = inpars{};
        strcpy(psf.name, "none"); // no convolution
        strcpy(device, "regular");
        keypoll_hook = nullptr;
        for (image *i : {&d, &s, &msk}) {
            i->naxes[1] = NX;
            i->naxes[2] = NY;
            snprintf(i->imgsect, sizeof i->imgsect, "[1:%ld,1:%ld]", NX, NY);
        }
        d.z = image_of(0);
        s.z = image_of(2);
        msk.z = image_of(0);
        std::mt19937 rng(99);
        std::normal_distribution<float> noise(0, 2);
        xskycent = (NX + 1) * 0.5f;
        yskycent = (NY + 1) * 0.5f;
        for (long y = 1; y <= NY; y++)
            for (long x = 1; x <= NX; x++)
                d.z[y][x] = 20 + 0.1f * (x - xskycent) + 0.2f * (y - yskycent) + noise(rng);
        mask = &msk;
    }

    // The work images once the component list is complete.
    void prepare()
    {
        model = d;
        model.z = nullptr;
        create_work_arrays(&comps.head, &model, &df);
        ma = 10 * sample.nobjs;
        covar = dmatrix(1, ma, 1, ma);
        sig = dvector(1, ma);
        for (int k = 1; k <= ma; k++)
            sig[k] = 0;
    }

    void TearDown() override
    {
        if (alpha)
            free_dmatrix(alpha, 1, ma, 1, ma);
        if (covar) {
            free_dmatrix(covar, 1, ma, 1, ma);
            free_dvector(sig, 1, ma);
            annihilate_work_arrays(&comps.head, &model, &df);
            delete_derivs(df.next);
            df.next = nullptr;
        }
        for (image *i : {&d, &s, &msk})
            free_matrix(i->z, 1, NY, 1, NX);
        mask = nullptr;
        strcpy(device, "regular");
        keypoll_hook = nullptr;
        free_cons(&constr);
    }

    double fit(std::string *said)
    {
        CapturePrint cap;
        double chi2 = LevMar(&d, &s, &comps.head, &constr, &cpar, covar, sig, &ndof, 1);
        *said = cap.text();
        return chi2;
    }

    // One call of mrqmin on the fixture's images, components and step
    // state.
    int step()
    {
        return mrqmin(d.z, s.z, ma, covar, alpha, &chi2, &alamda, &comps.head, &constr, &cpar, sig);
    }

    // The set-up call of mrqmin (alamda below 0) on fresh step state; what
    // it returned.
    int first_step()
    {
        alpha = dmatrix(1, ma, 1, ma);
        chi2 = 0;
        alamda = -1;
        return step();
    }

    // Reads the constraint file of the given text into constr.
    int constrain(const std::string &text)
    {
        ScratchDir dir;
        spit(dir.file("cons"), text);
        snprintf(input.constraints, sizeof input.constraints, "%s", dir.file("cons").c_str());
        return read_cons(input, &constr, &comps.head);
    }

    // A fit of the sky plane on the display "both", whose key polls go to
    // hook (polls counts from 0); what it printed.
    std::string polled_sky_fit(decltype(keypoll_hook) hook)
    {
        comps.add("sky", {10, 0, 0}, {1, 1, 1});
        prepare();
        strcpy(device, "both");
        polls = 0;
        keypoll_hook = hook;
        std::string said;
        fit(&said);
        return said;
    }

    static size_t count(const std::string &text, const std::string &what)
    {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
            n++;
        return n;
    }

    image d, s, msk;
    Components comps;
    cons constr;
    convpars cpar;
    int ma = 0, ndof = 0;
    double **covar = nullptr;
    double *sig = nullptr;
    // The step state that mrqmin keeps between its calls.
    double **alpha = nullptr;
    double chi2 = 0;
    float alamda = 0;
};

TEST_F(Loop, FitsAndCountsDown)
{
    comps.add("sky", {10, 0, 0}, {1, 1, 1});
    prepare();
    std::string said;
    double chi2 = fit(&said);
    EXPECT_EQ(ndof, NX * NY - 3);
    EXPECT_NEAR(chi2 / ndof, 1, 0.1);
    EXPECT_NEAR(comps.head.a[1], 20, 4 * sig[1] * std::sqrt(chi2 / ndof));
    EXPECT_NEAR(comps.head.a[2], 0.1, 4 * sig[2] * std::sqrt(chi2 / ndof));
    EXPECT_NEAR(comps.head.a[3], 0.2, 4 * sig[3] * std::sqrt(chi2 / ndof));
    EXPECT_GT(sig[1], 0);
    EXPECT_EQ(sig[4], 0);
    EXPECT_NE(said.find("Initial parameters:"), std::string::npos);
    EXPECT_NE(said.find("Iteration : 1     Chi2nu: "), std::string::npos) << said;
    EXPECT_NE(said.find("COUNTDOWN = 99 \n"), std::string::npos);
    EXPECT_NE(said.find("COUNTDOWN = 0 \n"), std::string::npos);
    EXPECT_EQ(said.find("maximum number of iterations"), std::string::npos);
    EXPECT_EQ(sample.nmask, 0);
}

TEST_F(Loop, MaskedPixelsAreCounted)
{
    msk.z[3][4] = 1;
    msk.z[5][6] = 2.5f;
    msk.z[7][8] = NAN;
    d.z[9][9] = NAN;
    s.z[10][10] = INFINITY;
    msk.z[11][11] = 0.999f; // still used
    comps.add("sky", {10, 0, 0}, {1, 1, 1});
    prepare();
    std::string said;
    double chi2 = fit(&said);
    EXPECT_EQ(sample.nmask, 5);
    EXPECT_EQ(ndof, NX * NY - 5 - 3);
    EXPECT_TRUE(std::isfinite(chi2));
}

TEST_F(Loop, KeyboardLimitEndsTheFit)
{
    std::string said = polled_sky_fit([](fitpars *, int *itermax, int, int, float, int) {
        if (++polls == 1)
            *itermax = 3;
        return 0;
    });
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(count(said, "Iteration : "), 3u);
    EXPECT_NE(said.find("\n\n The fitting ended because the maximum number of iterations \n "
                        "has been reached, not necessarily because of convergence!\n\n"),
              std::string::npos);
    EXPECT_GT(sig[1], 0); // the final call still gives the errors
}

TEST_F(Loop, KeyboardLimitBelowTheCurrentIterationEndsTheFitNow)
{
    std::string said = polled_sky_fit([](fitpars *, int *itermax, int, int, float, int) {
        if (++polls == 2)
            *itermax = 1;
        return 0;
    });
    EXPECT_EQ(count(said, "Iteration : "), 2u);
    EXPECT_NE(said.find("has been reached, not necessarily because of convergence!"),
              std::string::npos);
}

TEST_F(Loop, KeyboardQuitEndsTheFitAfterThatIteration)
{
    std::string said =
        polled_sky_fit([](fitpars *, int *, int, int, float, int) { return ++polls == 2 ? 1 : 0; });
    EXPECT_EQ(count(said, "Iteration : "), 2u);
    EXPECT_GT(sig[1], 0);

    // The regular display polls nothing.
    strcpy(device, "regular");
    polls = 0;
    comps.head.a[1] = 10;
    fit(&said);
    EXPECT_EQ(polls, 0);
    EXPECT_GT(count(said, "Iteration : "), 2u);
}

TEST_F(Loop, NothingFreeOnlyRendersTheModel)
{
    comps.add("sky", {20, 0, 0}, {0, 0, -1});
    prepare();
    std::string said;
    double chi2 = fit(&said);
    EXPECT_EQ(said.find("Iteration"), std::string::npos);
    EXPECT_NE(said.find("\n-- No free parameters to fit.  Creating images only.\n\n"),
              std::string::npos);
    EXPECT_EQ(input.create, 2);
    EXPECT_EQ(comps.head.ia[3], 0); // -1 became 0
    double expect = 0;
    for (long y = 1; y <= NY; y++)
        for (long x = 1; x <= NX; x++) {
            float r = d.z[y][x] - 20;
            expect += r * r / 4.0f;
        }
    EXPECT_NEAR(chi2, expect, 1e-6 * expect);
    EXPECT_EQ(ndof, NX * NY);
}

TEST_F(Loop, StepsAreAcceptedOnlyWhenChi2Falls)
{
    comps.add("sky", {10, 0, 0}, {1, 0, 0});
    prepare();
    CapturePrint cap;
    // Set-up and first step: damped, it goes most of the way to the minimum.
    ASSERT_EQ(first_step(), 0);
    EXPECT_FLOAT_EQ(alamda, 0.001f);
    // Near the minimum the steps stop lowering chi^2 (an equal chi^2 is no
    // gain): the damping grows tenfold and nothing changes.
    float before_a = 0, before_alamda = 0;
    double before_chi2 = 0;
    for (int i = 0; i < 30; i++) {
        before_a = comps.head.a[1];
        before_alamda = alamda;
        before_chi2 = chi2;
        step();
        if (alamda > before_alamda)
            break;
        EXPECT_LT(chi2, before_chi2);
        EXPECT_FLOAT_EQ(alamda, before_alamda * 0.1f);
    }
    ASSERT_GT(alamda, before_alamda);
    EXPECT_FLOAT_EQ(alamda, before_alamda * 10);
    EXPECT_EQ(chi2, before_chi2);
    EXPECT_EQ(comps.head.a[1], before_a);
    const double best_chi2 = chi2;
    const float damping = alamda;

    // A trial value at the sentinel is refused without rendering it.
    comps.head.a[1] = 10;
    ASSERT_EQ(constrain("1 sky 1e30 to 2e30\n"), 0);
    step();
    EXPECT_FLOAT_EQ(alamda, damping * 10);
    EXPECT_EQ(chi2, best_chi2);
    EXPECT_EQ(comps.head.a[1], 10);

    alamda = 0;
    EXPECT_EQ(step(), 0);
    EXPECT_NEAR(sig[1], 2 / std::sqrt(double(NX * NY)), 1e-6);
}

TEST_F(Loop, DampingOfALongRunOfGainsNeverReachesZero)
{
    // Every accepted step divides the damping by 10; 0 would make the next
    // call the final one, which releases the step's state.
    comps.add("sky", {10, 0, 0}, {1, 0, 0});
    prepare();
    CapturePrint cap;
    ASSERT_EQ(first_step(), 0);
    alamda = std::numeric_limits<float>::denorm_min();
    const double before = chi2;
    step();
    EXPECT_LT(chi2, before);
    ASSERT_GT(alamda, 0);
    EXPECT_EQ(step(), 0);
    alamda = 0;
    step();
    EXPECT_NEAR(sig[1], 2 / std::sqrt(double(NX * NY)), 1e-6);
}

TEST_F(Loop, AStartOutsideAConstraintStartsAtItsNearestBound)
{
    // The level starts at 10 (truth 20).  Every trial step would be pulled
    // back into the range, which chi^2 never rewards: the fit starts at the
    // bound and the slopes are fitted as usual.  A range relative to the
    // start stays relative to the start as given.
    const struct {
        const char *line;
        float level;
    } cases[] = {{"1 sky 25 to 30", 25}, {"1 sky 12 15", 22}, {"1 sky 0 to 5", 5}};
    comps.add("sky", {10, 0, 0}, {1, 1, 1});
    prepare();
    for (const auto &c : cases) {
        comps.head.a[1] = 10;
        comps.head.a[2] = comps.head.a[3] = 0;
        ASSERT_EQ(constrain(std::string(c.line) + "\n"), 0);
        std::string said;
        fit(&said);
        EXPECT_NE(said.find("the start value 10 is outside its"), std::string::npos)
            << c.line << "\n"
            << said;
        EXPECT_FLOAT_EQ(comps.head.a[1], c.level) << c.line;
        EXPECT_NEAR(comps.head.a[2], 0.1, 0.01) << c.line;
        EXPECT_NEAR(comps.head.a[3], 0.2, 0.01) << c.line;
    }
}

TEST_F(Loop, AConstraintCannotPushAProfileWhereItHasNoValue)
{
    // The constraint keeps the Moffat power law at 0.9 at most, where its
    // flux is infinite: every trial step is refused unrendered, and the
    // component keeps its values.
    comps.add("sky", {20, 0, 0}, {1, 0, 0});
    comps.add("moffat", {20, 15, -5, 3, 2.5f, 0, 0, 1, 0, 0}, {0, 0, 0, 0, 1, -1, -1, 0, 0, 0});
    prepare();
    ASSERT_EQ(constrain("2 5 0.5 to 0.9\n"), 0);
    CapturePrint cap;
    ASSERT_EQ(first_step(), 0);
    const double start = chi2;
    EXPECT_TRUE(std::isfinite(start));
    for (int i = 0; i < 3; i++)
        step();
    EXPECT_NEAR(alamda, 100, 1e-3); // 0.01, then four refusals
    EXPECT_EQ(chi2, start);
    EXPECT_EQ(comps.head.next->a[5], 2.5f);
    EXPECT_EQ(comps.head.a[1], 20);
    alamda = 0;
    step();
}

TEST_F(Loop, ASingularDampedSystemIsAStepThatFailed)
{
    comps.add("sky", {10, 0, 0}, {1, 1, 0});
    prepare();
    CapturePrint cap;
    ASSERT_EQ(first_step(), 0);
    const double accepted = chi2;
    const float level = comps.head.a[1], slope = comps.head.a[2];
    // Two parameters that chi^2 sees only together, with a damping too
    // small to tell them apart: the step fails, the damping grows and the
    // list keeps its values.
    alpha[1][1] = alpha[1][2] = alpha[2][1] = alpha[2][2] = 1;
    alamda = FLT_MIN;
    for (float damping : {alamda, alamda * 10}) {
        EXPECT_EQ(step(), 0);
        EXPECT_FLOAT_EQ(alamda, damping * 10);
        EXPECT_EQ(chi2, accepted);
        EXPECT_EQ(comps.head.a[1], level);
        EXPECT_EQ(comps.head.a[2], slope);
    }

    // No damping mends a curvature that is not a number, nor one past the
    // largest float: the fit cannot go on.
    for (float damping : {0.01f, FLT_MAX}) {
        test_common::ChildResult r = test_common::run_child([this, damping] {
            set_fatal_handler(numerical_failure);
            pfunc = printf;
            if (damping < 1)
                alpha[1][2] = alpha[2][1] = NAN;
            alamda = damping;
            step(); // a step too small to change chi^2: the damping overflows
            step();
        });
        EXPECT_EQ(r.status, 100) << damping;
        EXPECT_NE(r.out.find("gaussj: Singular Matrix"), std::string::npos) << r.out;
    }

    alamda = 0;
    EXPECT_EQ(step(), 1); // no uncertainties from that curvature
}

TEST_F(Loop, TheLastAcceptedStepIsKeptWhileTheFitRuns)
{
    comps.add("sky", {10, 0, 0}, {1, 0, 0});
    prepare();
    CapturePrint cap;
    double kept = 0;
    EXPECT_FALSE(last_accepted(&comps.head, &kept));
    ASSERT_EQ(first_step(), 0);
    step();
    const float level = comps.head.a[1];
    const double accepted = chi2;
    comps.head.a[1] = 1e6; // a trial step being rendered
    ASSERT_TRUE(last_accepted(&comps.head, &kept));
    EXPECT_EQ(comps.head.a[1], level);
    EXPECT_EQ(kept, accepted);
    alamda = 0;
    step();
    EXPECT_FALSE(last_accepted(&comps.head, &kept));
}

// Fails the run from the key poll after the second iteration, as a
// numerical routine would, with the parameters of that moment written to
// "accepted" for the test.
int fail_after_two(fitpars *fpar, int *, int, int, float, int)
{
    if (++polls < 2)
        return 0;
    FILE *f = fopen("accepted", "w");
    fprintf(f, "%.4f\n", fpar->a[1]);
    fclose(f);
    strcpy(device, "regular"); // no pause for the reader of a screen
    nrerror("a numerical routine failed");
    return 1;
}

TEST_F(Loop, AFitEndedByANumericalFailureKeepsItsRestartFileAndLog)
{
    comps.add("sky", {10, 0, 0}, {1, 1, 1});
    ScratchDir dir;
    test_common::ChildResult r = test_common::run_child([&] {
        if (chdir(dir.path().c_str()) != 0)
            _exit(1);
        set_fatal_handler(numerical_failure);
        pfunc = printf;
        strcpy(input.output, "block.fits");
        strcpy(input.data, "data.fits");
        strcpy(input.imgsect, d.imgsect);
        strcpy(device, "both");
        keypoll_hook = fail_after_two;
        polls = 0;
        image psf_none;
        strcpy(psf_none.name, "none");
        search_min(&d, &s, &psf_none, &msk, &comps.head, &constr, &cpar);
    });
    EXPECT_EQ(r.status, 100);
    EXPECT_NE(r.out.find("Iteration : 2 "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Iteration : 3 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a numerical routine failed"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("in the restart file torvex.01 and in fit.log"), std::string::npos)
        << r.out;
    const std::string accepted = slurp(dir.file("accepted"));
    ASSERT_FALSE(accepted.empty());
    EXPECT_NEAR(std::stod(accepted), 20, 0.5); // fitted, not the start
    const std::string restart = slurp(dir.file("torvex.01"));
    const size_t level = restart.find("\n 1) ");
    ASSERT_NE(level, std::string::npos) << restart;
    EXPECT_NEAR(std::stod(restart.substr(level + 5)), std::stod(accepted), 1e-3) << restart;
    const std::string log = slurp(dir.file("fit.log"));
    EXPECT_NE(log.find("Restart file    : torvex.01"), std::string::npos) << log;
    EXPECT_NE(log.find("block.fits (not written)"), std::string::npos) << log;
    EXPECT_EQ(access(dir.file("block.fits").c_str(), F_OK), -1);
}

} // namespace
