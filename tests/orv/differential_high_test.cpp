// Random statements over random views in three and four dimensions (see
// differential.h).
#include "differential.h"

namespace {

TEST(Differential, RandomTreesInThreeDimensions)
{
    difftest::seeds<3, 300>(std::make_integer_sequence<unsigned, 6>());
}

TEST(Differential, RandomTreesInFourDimensions)
{
    difftest::seeds<4, 400>(std::make_integer_sequence<unsigned, 6>());
}

} // namespace
