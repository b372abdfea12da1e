// Best-source maps: per-pixel sources from the sub-pixel chi maps, their
// list and their model image.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "psftools/psf.h"
#include "tests/psftools/psf_field.h"
#include "tests/psftools/psf_truth.h"

using orv::MArray;
using psffield::Field;
using psffield::kRadius;
using psffield::Star;

namespace {

constexpr double kSignificance = 5, kLargestChi = 2.5, kTag = 7;

// Three stars and a hole, 48 × 48 pixels, sky noise 2; bright enough that
// their chi minima lie at their own positions.
const std::vector<Star> kStars = {
    {14.0, 14.0, 5000}, {33.4, 15.2, 3000}, {18.6, 33.8, 8000}, {34.0, 34.0, -3000}};

struct Line {
    int number;
    double x, y, tag, amplitude, error, chi;
};

std::vector<Line> lines(const std::string &text)
{
    std::vector<Line> out;
    std::istringstream in(text);
    for (std::string s; std::getline(in, s);) {
        EXPECT_EQ(64u, s.size()) << s; // 6 + 9 + 9 + 12 + 10 + 10 + 8 columns
        Line l;
        std::istringstream f(s);
        f >> l.number >> l.x >> l.y >> l.tag >> l.amplitude >> l.error >> l.chi;
        EXPECT_TRUE(f) << s;
        out.push_back(l);
    }
    return out;
}

struct Sources : testing::Test {
    psf p = psffield::gaussianPsf();
    Field f{p, 48, 48, kStars, 2.0, 21};
    MArray<double, 2> chi, amp, err, model;
    std::ostringstream list;

    // The source found near each star, its line checked against the star.
    void expectStars(const std::vector<Line> &found)
    {
        for (const Star &s : kStars) {
            SCOPED_TRACE(testing::Message() << "star at " << s.x << ", " << s.y);
            int hits = 0;
            for (const Line &l : found) {
                if (std::fabs(l.x - s.x) > 1 || std::fabs(l.y - s.y) > 1)
                    continue;
                ++hits;
                // The best cell is the star's own position, 0.2 apart at most.
                EXPECT_NEAR(s.x, l.x, 0.21);
                EXPECT_NEAR(s.y, l.y, 0.21);
                EXPECT_EQ(kTag, l.tag);
                EXPECT_NEAR(s.flux, l.amplitude, 3 * psffield::amplitudeError(f, s.x, s.y));
                EXPECT_LE(l.chi, kLargestChi);
            }
            EXPECT_EQ(1, hits);
        }
        EXPECT_EQ(kStars.size(), found.size());
    }
};

} // namespace

TEST_F(Sources, FullSearchListsEveryStarAndModelsIt)
{
    // A blank pixel (0) in the wing of the first star and one that is not a
    // number in the wing of the third: the model is cleared there. The hole
    // is a source too (its amplitude counts by magnitude).
    f.image(17, 14) = 0;
    f.image(21, 34) = NAN;
    testing::internal::CaptureStdout();
    p.mapping_full_best_source(f.image, f.error, chi, amp, err, model, kSignificance, kLargestChi,
                               kRadius, kTag, list, 1);
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char *text : {"imamat\n", "flux\n", "error\n", " mapping_full ... \n",
                             " finished... \n", " creating source image : source( px, py ) ... \n"})
        EXPECT_NE(std::string::npos, out.find(text)) << text;
    const std::vector<Line> found = lines(list.str());
    expectStars(found);
    for (std::size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(static_cast<int>(i) + 1, found[i].number);

    // The model: each source's PSF at its position and amplitude within
    // _analyt − 1 pixels of its pixel, nothing elsewhere.
    const int L = psffield::kAnalyt;
    for (int i = 1; i <= 48; ++i)
        for (int j = 1; j <= 48; ++j) {
            double want = 0;
            for (const Line &l : found) {
                if (std::labs(i - std::lrint(l.x)) > L - 1 ||
                    std::labs(j - std::lrint(l.y)) > L - 1)
                    continue;
                want += l.amplitude * psftruth::pixelIntegral(i, j, l.x, l.y, psffield::kSigma);
            }
            if ((i == 17 && j == 14) || (i == 21 && j == 34))
                want = 0;
            // The list rounds the amplitudes to 0.01.
            ASSERT_NEAR(want, model(i, j), 0.01) << i << ", " << j;
        }
    // The best maps: at a star pixel the best cell's chi and amplitude; the
    // hole's pixel is a local minimum of the best chi, its neighbours not.
    EXPECT_GT(chi(34, 34), 0);
    EXPECT_LT(amp(34, 34), 0);
    EXPECT_LT(chi(35, 34), 0);
    EXPECT_EQ(0, chi(3, 3)); // within _boxlen of the border: no value
    EXPECT_EQ(0, amp(3, 3));
}

TEST_F(Sources, CandidateListAcceptsOnlyLocalMinima)
{
    // The star pixels, the first one twice, a pixel next to a star, one on
    // the border and one in an empty area.
    const std::vector<std::pair<int, int>> candidates = {{14, 14}, {33, 15}, {19, 34}, {34, 34},
                                                         {14, 14}, {15, 14}, {1, 20},  {25, 25}};
    MArray<int, 1> xs(static_cast<int>(candidates.size())), ys(xs.shape());
    for (int i = 1; i <= xs.length(1); ++i) {
        xs(i) = candidates[i - 1].first;
        ys(i) = candidates[i - 1].second;
    }
    testing::internal::CaptureStdout();
    p.mapping_some_best_source(f.image, f.error, chi, amp, err, model, xs, ys, kSignificance,
                               kLargestChi, kRadius, kTag, list, 0);
    EXPECT_EQ("", list.str()); // verbosity 0: no list
    p.mapping_some_best_source(f.image, f.error, chi, amp, err, model, xs, ys, kSignificance,
                               kLargestChi, kRadius, kTag, list, 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find(" mapping_some ... \n"));
    std::vector<Line> found = lines(list.str());
    ASSERT_EQ(5u, found.size());
    // The duplicate is accepted again, as the fifth line.
    EXPECT_EQ(found[0].x, found[4].x);
    EXPECT_EQ(found[0].amplitude, found[4].amplitude);
    found.pop_back();
    expectStars(found);
    // Model of the doubly listed star: twice its PSF.
    const double centre = psftruth::pixelIntegral(14, 14, 14, 14, psffield::kSigma);
    EXPECT_NEAR(2 * 5000 * centre, model(14, 14),
                2 * 3 * psffield::amplitudeError(f, 14, 14) * centre);
    // The best chi of the candidates' 3 × 3 pixels is that of the full search
    // (up to the sign that marks non-minima there).
    MArray<double, 2> fchi, famp, ferr, fmodel;
    std::ostringstream quiet;
    testing::internal::CaptureStdout();
    p.mapping_full_best_source(f.image, f.error, fchi, famp, ferr, fmodel, kSignificance,
                               kLargestChi, kRadius, kTag, quiet, 0);
    testing::internal::GetCapturedStdout();
    for (int x = 32; x <= 34; ++x)
        for (int y = 14; y <= 16; ++y) {
            EXPECT_EQ(std::fabs(fchi(x, y)), chi(x, y)) << x << ", " << y;
            EXPECT_EQ(famp(x, y), amp(x, y));
            EXPECT_EQ(ferr(x, y), err(x, y));
        }
    EXPECT_NE(0, chi(25, 25)); // evaluated, but not accepted
    EXPECT_EQ(0, chi(1, 20));  // the border pixel is never searched
}
