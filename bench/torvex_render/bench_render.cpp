// Rendering of one component with its derivative images on a 512 x 512
// grid, the work of one model evaluation of a fit without PSF.  The Nuker
// integrates the pixels near its centre on its polar grid.
#include "torvex/model/nuker.h"
#include "torvex/model/profiles.h"
#include "torvex/model/sersic.h"
#include "torvex/structs.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr long kSize = 512;

class Grid {
public:
    explicit Grid(const int *ia)
    {
        node.naxes[1] = rec.naxes[1] = kSize;
        node.naxes[2] = rec.naxes[2] = kSize;
        rec.magzpt = 25;
        rec.muzpt = 20;
        for (int k = 0; k <= 10; k++)
            if (k == 0 || ia[k] == 1)
                node.dpm[k] = matrix(1, kSize, 1, kSize);
    }
    ~Grid()
    {
        for (float **m : node.dpm)
            if (m)
                free_matrix(m, 1, kSize, 1, kSize);
    }
    derivs node;
    image rec;
};

// Renders type f with parameters a and flags ia once per iteration.
void run(benchmark::State &state, component_function f, const float *a0, const int *ia0)
{
    input.sampfac = 1;
    float a[11];
    int ia[11];
    std::memcpy(ia, ia0, sizeof ia);
    Grid g(ia);
    for (auto _ : state) {
        std::memcpy(a, a0, sizeof a);
        f(a, ia, &g.rec, &g.node);
        benchmark::DoNotOptimize(g.node.dpm[0][kSize / 2][kSize / 2]);
    }
    state.counters["ns/pixel"] = benchmark::Counter(static_cast<double>(kSize * kSize),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

const int all_free[11] = {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1};
const int image_only[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

const float sersic_c0[11] = {0, 256.3f, 255.7f, 16, 20, 2.5f, 0, 0, 0.7f, 30, 0};
const float sersic_c[11] = {0, 256.3f, 255.7f, 16, 20, 2.5f, 0, 0, 0.7f, 30, 0.4f};

// The other profiles, all parameters free.
const int nuker_free[11] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const int king_free[11] = {0, 1, 1, 1, 1, 1, 1, -1, 1, 1, 1};
const int moffat_free[11] = {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 1};
const int disk_free[11] = {0, 1, 1, 1, 1, -1, -1, -1, 1, 1, 1};
const float nuker_a[11] = {0, 256.3f, 255.7f, 16, 20, 1.5f, 2.5f, 0.7f, 0.7f, 30, 0};
const float king_a[11] = {0, 256.3f, 255.7f, 16, 5, 200, 2, 0, 0.7f, 30, 0};
const float moffat_a[11] = {0, 256.3f, 255.7f, 16, 6, 2.5f, 0, 0, 0.7f, 30, 0};
const float disk_a[11] = {0, 256.3f, 255.7f, 16, 20, 0, 0, 0, 0.7f, 30, 0};

// The benchmarks: the component type, its parameters and which of them
// are free.
struct render_case {
    const char *name;
    component_function f;
    const float *a;
    const int *ia;
};

const render_case cases[] = {
    {"BM_SersicDerivatives", sersic, sersic_c0, all_free},
    {"BM_SersicDerivativesBoxy", sersic, sersic_c, all_free},
    {"BM_SersicImageOnly", sersic, sersic_c0, image_only},
    {"BM_NukerDerivatives", nuker, nuker_a, nuker_free},
    {"BM_NukerImageOnly", nuker, nuker_a, image_only},
    {"BM_KingDerivatives", king, king_a, king_free},
    {"BM_MoffatDerivatives", moffat, moffat_a, moffat_free},
    {"BM_GaussianDerivatives", gaussian, moffat_a, disk_free},
    {"BM_ExpdiskDerivatives", exponential, disk_a, disk_free},
};

[[maybe_unused]] const bool registered = [] {
    for (const render_case &c : cases)
        benchmark::RegisterBenchmark(c.name, run, c.f, c.a, c.ia)->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
