// The box-shaped transit search on 10^4 points over 10^4 trial frequencies
// with 200 phase bins. The light curve is a periodic box-shaped dip with
// Gaussian noise made here, or the three columns (time, flux, error) of the
// text file given as --lightcurve=FILE, which is how compare_bls.py times
// the same light curve against astropy's BoxLeastSquares.
//
// The counter allocations/frequency counts the heap allocations of one
// search per trial frequency: the search allocates its work space once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"

// Heap allocations of the process so far (counting_new.cc).
extern std::atomic<long> allocations;

namespace {

// The trial grid; compare_bls.py uses the same numbers.
constexpr int kFrequencies = 10000;
constexpr double kShortestPeriod = 1, kLongestPeriod = 10;
constexpr double kNarrowest = 0.01, kWidest = 0.1;
constexpr int kBins = 200;

struct Columns {
    std::vector<double> t, flux, error;
};

Columns made()
{
    Columns c;
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> u(0, 90);
    std::normal_distribution<double> g(0, 0.002);
    for (int i = 0; i < 10000; ++i)
        c.t.push_back(u(rng));
    std::sort(c.t.begin(), c.t.end());
    for (double t : c.t) {
        const double x = std::remainder(t - 1.7, 3.21);
        c.flux.push_back((std::fabs(x) < 0.06 ? 0.995 : 1.0) + g(rng));
        c.error.push_back(0.002);
    }
    return c;
}

Columns read(const std::string &name)
{
    Columns c;
    std::ifstream in(name);
    double t, f, e;
    while (in >> t >> f >> e) {
        c.t.push_back(t);
        c.flux.push_back(f);
        c.error.push_back(e);
    }
    if (c.t.empty()) {
        std::cerr << "no light curve in " << name << std::endl;
        std::exit(1);
    }
    return c;
}

orv::MArray<double, 1> arrayOf(const std::vector<double> &v)
{
    orv::MArray<double, 1> a(static_cast<int>(v.size()));
    for (std::size_t i = 0; i < v.size(); ++i)
        a(static_cast<int>(i) + 1) = v[i];
    return a;
}

// Heap allocations of one search over nf trial frequencies.
long allocationsOfSearch(Lightcurve &lc, int nf)
{
    const long before = allocations.load();
    lc.boxfitting(nf, kShortestPeriod, kLongestPeriod, kNarrowest, kWidest, kBins);
    return allocations.load() - before;
}

void BM_boxfitting(benchmark::State &state, const Columns &c)
{
    Lightcurve lc(arrayOf(c.t), arrayOf(c.flux), arrayOf(c.error));
    // What a search allocates beyond a two-frequency one is per frequency
    // (after a first search, which makes the arrays of the light curve's
    // fold).
    allocationsOfSearch(lc, 2);
    const long perFrequency = allocationsOfSearch(lc, kFrequencies) - allocationsOfSearch(lc, 2);
    for (auto _ : state)
        lc.boxfitting(kFrequencies, kShortestPeriod, kLongestPeriod, kNarrowest, kWidest, kBins);
    state.counters["allocations/frequency"] =
        static_cast<double>(perFrequency) / (kFrequencies - 2);
    state.counters["best_period"] = lc.getPeriod_box(1);
    state.counters["SDE"] = lc.getSDE(1);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    std::string file;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--lightcurve=", 13) == 0) {
            file = argv[i] + 13;
            argv[i--] = argv[--argc];
        }
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    static const Columns columns = file.empty() ? made() : read(file);
    benchmark::RegisterBenchmark("BM_boxfitting", BM_boxfitting, columns)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
