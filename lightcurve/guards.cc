#include "lightcurve/guards.h"

#include <cmath>
#include <iostream>

bool dataReady(bool hasData)
{
    if (!hasData)
        std::cout << "lightcurve contains no data points!" << std::endl;
    return hasData;
}

bool pointsReady(bool hasData, int length)
{
    return dataReady(hasData && length > 0);
}

bool indexInRange(int i, int n)
{
    if (i >= 1 && i <= n)
        return true;
    std::cout << "error: number(" << i << ") out of range (1," << n << ")!" << std::endl;
    return false;
}

bool boxResultsReady(bool boxfitted)
{
    if (!boxfitted)
        std::cout << "no boxed-lightcurve available!" << std::endl;
    return boxfitted;
}

bool peakReady(bool boxfitted, int c, int n)
{
    return boxResultsReady(boxfitted) && indexInRange(c, n);
}

bool removedFluxReady(bool transitsRemoved)
{
    if (!transitsRemoved)
        std::cout << "error: transit is not removed!" << std::endl;
    return transitsRemoved;
}

bool binCountReady(int n)
{
    if (n < 1)
        std::cout << "error: number of phase bins must be positive!" << std::endl;
    return n >= 1;
}

bool foldable(double period, double epoch)
{
    if (!(period > 0 && std::isfinite(period))) {
        std::cout << "error: period must be positive and finite!" << std::endl;
        return false;
    }
    if (!std::isfinite(epoch)) {
        std::cout << "error: epoch must be finite!" << std::endl;
        return false;
    }
    return true;
}

bool finitePointsReady(bool any)
{
    if (!any)
        std::cout << "error: no point with finite time and flux and a usable error!" << std::endl;
    return any;
}

namespace {

bool refuse(bool ok, const char *message)
{
    if (!ok)
        std::cout << message << std::endl;
    return ok;
}

} // namespace

bool writableData(bool hasData)
{
    return refuse(hasData, "lightcurve contains no data points");
}
bool foldReady(bool folded)
{
    return refuse(folded, "lightcurve has not been folded, yet!");
}
bool spectrumReady(bool boxfitted)
{
    return refuse(boxfitted, "no SR-spectrum available!");
}
bool nonoiseReady(bool nonoise)
{
    return refuse(nonoise, "error: nonoise lightcurve not available!");
}
bool removedReady(bool transitsRemoved)
{
    return refuse(transitsRemoved, "error: transits have not yet been removed!");
}
