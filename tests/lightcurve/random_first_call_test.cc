// The process's first draw seeds the generator from the seed's magnitude,
// even when the seed is positive. This must stay the only test of its
// executable: any earlier draw would already have seeded the generator.
#include <gtest/gtest.h>

#include <vector>

#include "lightcurve/random.h"

TEST(Ran3FirstCall, PositiveSeedSeedsLikeItsNegative)
{
    long seed = 5;
    std::vector<double> from_positive;
    for (int i = 0; i < 100; ++i)
        from_positive.push_back(ran3(seed));
    EXPECT_EQ(1, seed);
    seed = -5;
    std::vector<double> from_negative;
    for (int i = 0; i < 100; ++i)
        from_negative.push_back(ran3(seed));
    EXPECT_EQ(from_positive, from_negative);
}
