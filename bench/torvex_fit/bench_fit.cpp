// A whole fit of a Sersic galaxy on a sky plane, 256 x 256 pixels, no PSF:
// the time per iteration of the fit loop, and of the model rendering alone
// that every iteration contains.
#include "torvex/fit/levmar.h"
#include "torvex/fit/workarrays.h"
#include "torvex/model/mkmodel.h"
#include "torvex/model/sersic.h"
#include "torvex/structs.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

constexpr long kSize = 256;

long fit_iterations = 0;

// Prints nothing; counts the iteration lines of the loop.
int count_iterations(const char *fmt, ...)
{
    if (strncmp(fmt, "Iteration", 9) == 0)
        fit_iterations++;
    return 0;
}

const float truth_sersic[11] = {0, 128.4f, 127.7f, 15.5f, 18, 2.2f, 0, 0, 0.7f, 35, 0};
const float start_sersic[11] = {0, 129.5f, 126.5f, 16.0f, 24, 3.0f, 0, 0, 0.8f, 50, 0};
const int free_sersic[11] = {0, 1, 1, 1, 1, 1, 0, 0, 1, 1, 0};
const float truth_sky[11] = {0, 100, 0.02f, -0.01f, 0, 0, 0, 0, 0, 0, 0};
const float start_sky[11] = {0, 95, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const int free_sky[11] = {0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};

// Data, sigma and mask images of the fit region and the work images.
class Problem {
public:
    Problem()
    {
        input = inpars{};
        strcpy(psf.name, "none");
        strcpy(device, "regular");
        getmu(TWOn, MU, Y2, ninterp);
        for (image *i : {&data, &sigma, &msk}) {
            i->naxes[1] = i->naxes[2] = kSize;
            snprintf(i->imgsect, sizeof i->imgsect, "[1:%ld,1:%ld]", kSize, kSize);
            i->z = matrix(1, kSize, 1, kSize);
            i->magzpt = 30;
        }
        xskycent = yskycent = (kSize + 1) * 0.5f;
        strcpy(gal.objtype, "sersic");
        strcpy(sky.objtype, "sky");
        gal.next = &sky;
        sample.nobjs = 2;
        mask = &msk;

        set(truth_sersic, truth_sky);
        model = data;
        model.z = nullptr;
        create_work_arrays(&gal, &model, &df);
        mkmodel(&model, &df, &gal, &cpar, 1);
        std::mt19937 rng(1);
        std::normal_distribution<float> unit(0, 1);
        for (long y = 1; y <= kSize; y++)
            for (long x = 1; x <= kSize; x++) {
                float s = std::sqrt(20 + model.z[y][x] / 4);
                sigma.z[y][x] = s;
                data.z[y][x] = model.z[y][x] + s * unit(rng);
                msk.z[y][x] = 0;
            }
        covar = dmatrix(1, 20, 1, 20);
        sig = dvector(1, 20);
    }
    ~Problem()
    {
        annihilate_work_arrays(&gal, &model, &df);
        delete_derivs(df.next);
        df.next = nullptr;
        for (image *i : {&data, &sigma, &msk})
            free_matrix(i->z, 1, kSize, 1, kSize);
        free_dmatrix(covar, 1, 20, 1, 20);
        free_dvector(sig, 1, 20);
        mask = nullptr;
    }

    void set(const float *a_gal, const float *a_sky)
    {
        std::memcpy(gal.a, a_gal, sizeof gal.a);
        std::memcpy(gal.ia, free_sersic, sizeof gal.ia);
        std::memcpy(sky.a, a_sky, sizeof sky.a);
        std::memcpy(sky.ia, free_sky, sizeof sky.ia);
    }

    image data, sigma, msk;
    fitpars gal, sky;
    convpars cpar;
    cons constr;
    double **covar;
    double *sig;
};

void BM_FitSersicAndSky(benchmark::State &state)
{
    Problem p;
    int (*saved)(const char *, ...) = pfunc;
    pfunc = count_iterations;
    fit_iterations = 0;
    int ndof = 0;
    for (auto _ : state) {
        p.set(start_sersic, start_sky);
        input.create = 0;
        double chi2 =
            LevMar(&p.data, &p.sigma, &p.gal, &p.constr, &p.cpar, p.covar, p.sig, &ndof, 1);
        benchmark::DoNotOptimize(chi2);
        state.counters["chi2nu"] = chi2 / ndof;
    }
    pfunc = saved;
    state.counters["iterations/fit"] =
        benchmark::Counter(static_cast<double>(fit_iterations), benchmark::Counter::kAvgIterations);
    state.counters["s/iteration"] =
        benchmark::Counter(static_cast<double>(fit_iterations),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The rendering of the model and its 9 derivative images, once per step.
void BM_ModelWithDerivatives(benchmark::State &state)
{
    Problem p;
    p.set(start_sersic, start_sky);
    for (auto _ : state) {
        mkmodel(&model, &df, &p.gal, &p.cpar, 0);
        benchmark::DoNotOptimize(model.z[kSize / 2][kSize / 2]);
    }
}

BENCHMARK(BM_FitSersicAndSky)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelWithDerivatives)->Unit(benchmark::kMillisecond);

} // namespace
