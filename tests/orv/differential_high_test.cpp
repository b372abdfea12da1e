// Random statements over random views in three and four dimensions (see
// differential.h).
#include "differential.h"

namespace {

TEST(Differential, RandomTreesInThreeDimensions) {
  difftest::Tally t = difftest::seeds<3, 300>(std::make_integer_sequence<unsigned, 6>());
  EXPECT_GT(t.statements, 200);
  EXPECT_GT(t.overlapping, 80);
}

TEST(Differential, RandomTreesInFourDimensions) {
  difftest::Tally t = difftest::seeds<4, 400>(std::make_integer_sequence<unsigned, 6>());
  EXPECT_GT(t.statements, 200);
  EXPECT_GT(t.overlapping, 80);
}

}  // namespace
