// Runs the torvex program on a parameter file in a scratch folder (the file
// is written there as run.param), with no standard input; what it prints
// stays in the files stdout and stderr of the folder.  The test defines
// TORVEX_BIN, the program's path.  Also the files of such a run: the
// settings of a parameter file, images with seeded noise, and the fitted
// values of the output's header.
#ifndef TESTS_TORVEX_PROGRAM_RUN_H
#define TESTS_TORVEX_PROGRAM_RUN_H

#include "common/fits.h"
#include "common/program.h"
#include "common/scratch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

using test_common::ProgramRun;

inline ProgramRun run_torvex(const test_common::ScratchDir &dir, const std::string &param)
{
    test_common::spit(dir.file("run.param"), param);
    return test_common::run_in(dir, "'" TORVEX_BIN "' run.param");
}

// The settings of a parameter file, lines A to S.
struct Settings {
    std::string data = "data.fits", sigma = "none", mask = "none", cons = "none";
    int x1 = 1, x2 = 60, y1 = 1, y2 = 50;
    int create = 0;
    std::string psf = "none", display = "regular";
    int sampfac = 1, box = 30;
};

// A parameter file of the settings s and then the components.
inline std::string param_file(const Settings &s, const std::string &components)
{
    char buf[2048];
    snprintf(buf, sizeof buf,
             "A) %s\nB) block.fits\nC) %s\nD) %s\nE) %d\nF) %s\nG) %s\n"
             "H) %d %d %d %d\nI) %d %d\nJ) 26.000\nK) 0.100 0.100\nO) %s\nP) %d\nS) 0\n",
             s.data.c_str(), s.sigma.c_str(), s.psf.c_str(), s.sampfac, s.mask.c_str(),
             s.cons.c_str(), s.x1, s.x2, s.y1, s.y2, s.box, s.box, s.display.c_str(), s.create);
    return buf + components;
}

// The pixels truth(x, y) with Gaussian noise of the given sigma added in
// float, drawn from a generator seeded with seed in the order the pixels
// are asked for.
template <typename F>
auto with_noise(F truth, float sigma, unsigned seed)
{
    return [truth, rng = std::mt19937(seed), noise = std::normal_distribution<float>(0, sigma)](
               long x, long y) mutable { return static_cast<float>(truth(x, y)) + noise(rng); };
}

// "value +/- error" of a parameter card.
struct Fitted {
    double value = NAN, error = NAN;
};

inline Fitted card(const test_common::Hdu &h, const std::string &key)
{
    Fitted f;
    std::string t = h.text(key);
    if (sscanf(t.c_str(), "%lf +/- %lf", &f.value, &f.error) != 2)
        ADD_FAILURE() << key << " = '" << t << "'";
    return f;
}

#endif
