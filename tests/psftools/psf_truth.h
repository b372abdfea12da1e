// Independent truth for the PSF tests: exact pixel integrals of a Gaussian
// (erf), sub-grid PSFs made of such integrals, and a scratch folder.
#ifndef TESTS_PSFTOOLS_PSF_TRUTH_H
#define TESTS_PSFTOOLS_PSF_TRUTH_H

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "orv/MArray.h"

namespace psftruth {

// Integral of the unit normal density of standard deviation sigma, centred
// at 0, over [a, b].
inline double gaussIntegral(double a, double b, double sigma) {
    const double s = sigma * std::sqrt(2.0);
    return 0.5 * (std::erf(b / s) - std::erf(a / s));
}

// Integral of a unit-flux round Gaussian centred at (cx, cy) over the pixel
// with centre (i, j) (side 1).
inline double pixelIntegral(double i, double j, double cx, double cy, double sigma) {
    return gaussIntegral(i - cx - 0.5, i - cx + 0.5, sigma) * gaussIntegral(j - cy - 0.5, j - cy + 0.5, sigma);
}

// Fills p (indices −s..s) with the integrals of a unit Gaussian of sigma
// pixels over the sub-grid cells of side 1/g around each sample.
inline void fillSubgridGaussian(orv::MArray<double, 2> p, int g, double sigma) {
    const auto cell = [&](int k) { return gaussIntegral((k - 0.5) / g, (k + 0.5) / g, sigma); };
    for (int k = p.firstIndex(1); k <= p.lastIndex(1); ++k)
        for (int l = p.firstIndex(2); l <= p.lastIndex(2); ++l) p(k, l) = cell(k) * cell(l);
}

// A private folder below /tmp, removed with its contents.
struct Scratch {
    std::string dir;
    Scratch() {
        char pattern[] = "/tmp/psftools.XXXXXX";
        const char* d = mkdtemp(pattern);
        dir = d ? d : "";
    }
    ~Scratch() {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }
};

// A scratch folder that is the current directory while the object lives, for
// operations that write their files there.
struct InScratch : Scratch {
    std::string old;
    InScratch() {
        char buf[4096];
        if (getcwd(buf, sizeof buf)) old = buf;
        if (!dir.empty() && chdir(dir.c_str()) != 0) dir.clear();
    }
    ~InScratch() {
        if (!old.empty() && chdir(old.c_str()) != 0) std::abort();
    }
    InScratch(const InScratch&) = delete;
    InScratch& operator=(const InScratch&) = delete;
};

}  // namespace psftruth

#endif
