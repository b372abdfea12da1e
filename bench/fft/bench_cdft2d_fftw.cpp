// cdft2d beside FFTW (double precision, in place, one thread, FFTW_MEASURE
// plans) on N x N complex points, N = 64 .. 2048, with the AVX2 kernels
// where the processor has them (avx2:1) and without (avx2:0); cdft2d keeps
// its tables between calls and makes its own work area, as the callers do.
// Both transform the same data in the same iteration, one after the other,
// so that a busy machine slows both alike; the counters give the time of one
// transform of each and their ratio (cdft2d / FFTW).  FFTW is a reference
// for this benchmark only.
#include "numerics/fftsg.h"
#include "numerics/fftsg_core.h"
#include "numerics/nrutil.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

void BM_cdft2d_vs_fftw(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    // avx2:0 keeps cdft2d to the two-lane kernels it uses without AVX2.
    fftcore::allow_four_lanes(state.range(1) != 0);
    const int n1 = n, n2 = 2 * n;
    const size_t doubles = static_cast<size_t>(n1) * n2;
    std::vector<double> input(doubles);
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> u(-1, 1);
    for (double &x : input)
        x = u(gen);

    double **a = dmatrix(0, n1 - 1, 0, n2 - 1);
    std::vector<int> ip(static_cast<size_t>(std::sqrt(n + 0.5)) + 2, 0);
    std::vector<double> w(static_cast<size_t>(n2) * 3 / 2);

    fftw_complex *f = fftw_alloc_complex(doubles / 2);
    fftw_plan plan = fftw_plan_dft_2d(n, n, f, f, FFTW_BACKWARD, FFTW_MEASURE);

    double ours = 0, theirs = 0;
    for (auto _ : state) {
        std::memcpy(&a[0][0], input.data(), doubles * sizeof(double));
        std::memcpy(f, input.data(), doubles * sizeof(double));
        auto t0 = clock_type::now();
        cdft2d(n1, n2, 1, a, nullptr, ip.data(), w.data(), long(ip.size()), long(w.size()));
        auto t1 = clock_type::now();
        fftw_execute(plan);
        auto t2 = clock_type::now();
        ours += std::chrono::duration<double, std::micro>(t1 - t0).count();
        theirs += std::chrono::duration<double, std::micro>(t2 - t1).count();
        benchmark::DoNotOptimize(a[0][0]);
        benchmark::DoNotOptimize(f[0][0]);
    }
    // The same transform (exp(+2 pi i jk/n) is FFTW's backward sign): check
    // one value so that a wrong comparison cannot go unnoticed.
    const double d = std::fabs(a[1][2] - f[n + 1][0]) + std::fabs(a[1][3] - f[n + 1][1]);
    if (!(d <= 1e-9 * n * n))
        state.SkipWithError("cdft2d and FFTW disagree");
    const double iters = static_cast<double>(state.iterations());
    state.counters["cdft2d_us"] = ours / iters;
    state.counters["fftw_us"] = theirs / iters;
    state.counters["ratio"] = ours / theirs;

    fftw_destroy_plan(plan);
    fftw_free(f);
    free_dmatrix(a, 0, n1 - 1, 0, n2 - 1);
    fftcore::allow_four_lanes(true);
}
BENCHMARK(BM_cdft2d_vs_fftw)
    ->ArgNames({"n", "avx2"})
    ->ArgsProduct({benchmark::CreateRange(64, 2048, 2), {1, 0}})
    ->Unit(benchmark::kMicrosecond);

} // namespace
