// median, rms, the sorts and the fold of the light-curve toolbox on 10^6
// points, next to std::nth_element and std::sort on the same data. The toolbox leaves its
// argument unchanged, so the references work on a fresh copy too.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/sorting.h"

namespace {

constexpr int kPoints = 1000000;

const std::vector<double> &data()
{
    static const std::vector<double> values = [] {
        std::mt19937_64 rng(2024);
        std::normal_distribution<double> g(1.0, 0.01);
        std::vector<double> v(kPoints);
        for (double &x : v)
            x = g(rng);
        return v;
    }();
    return values;
}

orv::MArray<double, 1> array()
{
    orv::MArray<double, 1> a(kPoints);
    std::copy(data().begin(), data().end(), a.dataFirst());
    return a;
}

void BM_std_nth_element(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<double> v = data();
        std::nth_element(v.begin(), v.begin() + kPoints / 2, v.end());
        benchmark::DoNotOptimize(v[kPoints / 2]);
    }
}

void BM_median(benchmark::State &state)
{
    const orv::MArray<double, 1> a = array();
    for (auto _ : state)
        benchmark::DoNotOptimize(median(a));
}

void BM_rms(benchmark::State &state)
{
    const orv::MArray<double, 1> a = array();
    for (auto _ : state)
        benchmark::DoNotOptimize(rms(a));
}

void BM_std_sort(benchmark::State &state)
{
    for (auto _ : state) {
        std::vector<double> v = data();
        std::sort(v.begin(), v.end());
        benchmark::DoNotOptimize(v.data());
    }
}

void BM_sort1(benchmark::State &state)
{
    const orv::MArray<double, 1> a = array();
    for (auto _ : state)
        benchmark::DoNotOptimize(sort1(a).dataFirst());
}

// A light curve brought back to random time order before every sort. With
// uniform extras (the three-array constructor) only times, fluxes and errors
// move; with varying ones all seven per-point arrays do.
void sortLightcurve(benchmark::State &state, bool allArraysVary)
{
    orv::MArray<double, 1> jd = array(), flux = array(), error = array(), nchi = array();
    orv::MArray<std::string, 1> names(kPoints);
    for (int i = 1; i <= kPoints; ++i)
        names(i) = allArraysVary ? "frame_" + std::to_string(i) + ".fits" : "f";
    Lightcurve lc(jd, flux, error, nchi, names);
    if (allArraysVary)
        lc.calc_weights();
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(data().begin(), data().end(), jd.dataFirst());
        std::copy(data().begin(), data().end(), flux.dataFirst());
        std::copy(data().begin(), data().end(), error.dataFirst());
        std::copy(data().begin(), data().end(), nchi.dataFirst());
        state.ResumeTiming();
        lc.sort();
        benchmark::DoNotOptimize(jd.dataFirst());
    }
}

void BM_Lightcurve_sort(benchmark::State &state)
{
    sortLightcurve(state, false);
}
void BM_Lightcurve_sort_all_arrays(benchmark::State &state)
{
    sortLightcurve(state, true);
}

// Sorts a fresh unsorted array each iteration; only the sort is timed.
template <void (*sort)(orv::MArray<double, 1>)>
void sortArray(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        orv::MArray<double, 1> a = array();
        state.ResumeTiming();
        sort(a);
    }
}

void BM_hpsort4(benchmark::State &state)
{
    sortArray<hpsort4>(state);
}

void BM_quicksort(benchmark::State &state)
{
    sortArray<quicksort>(state);
}

// A fold of 10^6 points spread over 1000 days at a period of 3.7 days: the
// phases come in no useful order, so this is the sort at its full cost
// (all seven per-point arrays follow it). A first fold outside the timing
// makes the phased arrays, which later folds fill again.
void BM_fold(benchmark::State &state)
{
    orv::MArray<double, 1> jd(kPoints), flux = array(), error = array();
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0, 1000);
    for (int i = 1; i <= kPoints; ++i)
        jd(i) = u(rng);
    Lightcurve lc(jd, flux, error);
    lc.fold(3.7, 0.0);
    for (auto _ : state) {
        lc.fold(3.7, 0.0);
        benchmark::DoNotOptimize(lc.getPhase().dataFirst());
    }
}

} // namespace

BENCHMARK(BM_std_nth_element)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_median)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std_sort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sort1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lightcurve_sort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lightcurve_sort_all_arrays)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_hpsort4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_quicksort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fold)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
