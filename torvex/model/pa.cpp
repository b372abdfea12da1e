#include "torvex/model/pa.h"

#include <cmath>

float pa(float instrpa)
{
    double k = std::trunc(instrpa / 180.0);
    float b = static_cast<float>(instrpa - 180.0 * k);
    if (b > 90)
        return b - 180;
    if (b <= -90)
        return b + 180;
    return b;
}
