// Two-dimensional complex FFT of N x N points, tables and work area kept
// between calls as a caching caller keeps them.  Reports the time of one
// forward transform and the customary 5*N*log2(N)/t (N = points) as "flops".
#include "numerics/fftsg.h"
#include "numerics/nrutil.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

static void BM_cdft2d(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int n1 = n, n2 = 2 * n;
    double **a = dmatrix(0, n1 - 1, 0, n2 - 1);
    std::vector<double> input(size_t(n1) * n2);
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> u(-1, 1);
    for (double &x : input)
        x = u(gen);
    std::vector<int> ip(2 + static_cast<int>(std::sqrt(double(n))) + 2, 0);
    std::vector<double> w(3 * n / 2);
    std::vector<double> t(8 * n1);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(&a[0][0], input.data(), input.size() * sizeof(double));
        state.ResumeTiming();
        cdft2d(n1, n2, 1, a, t.data(), ip.data(), w.data(), long(ip.size()), long(w.size()),
               long(t.size()));
        benchmark::DoNotOptimize(a[0][0]);
    }
    const double points = double(n) * n;
    state.counters["flops"] = benchmark::Counter(5 * points * std::log2(points),
                                                 benchmark::Counter::kIsIterationInvariantRate);
    free_dmatrix(a, 0, n1 - 1, 0, n2 - 1);
}
BENCHMARK(BM_cdft2d)->RangeMultiplier(2)->Range(64, 1024)->Unit(benchmark::kMicrosecond);
