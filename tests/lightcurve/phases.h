// Times at given phases, for tests of the edges of phase windows.
#ifndef TESTS_LIGHTCURVE_PHASES_H
#define TESTS_LIGHTCURVE_PHASES_H

#include <gtest/gtest.h>

#include <cmath>

#include "lightcurve/phase.h"

// The time within a few thousand representable steps of guess whose phase,
// folded at period and epoch, is exactly target.
inline double timeAtPhase(double target, double guess, double period, double epoch)
{
    double below = guess, above = guess;
    for (int step = 0; step < 3000; ++step) {
        if (foldedPhase(below, period, epoch) == target)
            return below;
        if (foldedPhase(above, period, epoch) == target)
            return above;
        below = std::nextafter(below, -1e300);
        above = std::nextafter(above, 1e300);
    }
    ADD_FAILURE() << "no time at phase " << target << " near " << guess;
    return guess;
}

#endif
