#include "lightcurve/guards.h"

#include <iostream>

bool dataReady(bool hasData) {
    if (!hasData) std::cout << "lightcurve contains no data points!" << std::endl;
    return hasData;
}

bool pointsReady(bool hasData, int length) { return dataReady(hasData && length > 0); }
