// Model assembly: the sum of the components, output mode, the dispatch on
// type words and the parameters of a component rendered on its
// convolution box.
#include "render_fixture.h"
#include "torvex/model/mkmodel.h"
#include "torvex/model/sersic.h"
#include "torvex/psf/convolve_components.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>

namespace {

// A component list with its work images over nx x ny pixels.
class ModelList {
public:
    ModelList(long nx, long ny) : nx_(nx), ny_(ny)
    {
        std::strcpy(psf.name, "none");
        input.sampfac = 1;
        model.naxes[1] = nx;
        model.naxes[2] = ny;
        model.magzpt = 25;
        model.z = matrix(1, ny, 1, nx);
    }
    ~ModelList()
    {
        for (derivs &d : nodes_)
            for (float **m : d.dpm)
                if (m)
                    free_matrix(m, 1, ny_, 1, nx_);
        free_matrix(model.z, 1, ny_, 1, nx_);
    }

    fitpars &add(const char *type, std::initializer_list<float> a, std::initializer_list<int> ia)
    {
        comps_.emplace_back();
        nodes_.emplace_back();
        fitpars &p = comps_.back();
        derivs &d = nodes_.back();
        std::strcpy(p.objtype, type);
        int k = 1;
        for (float v : a)
            p.a[k++] = v;
        k = 1;
        for (int f : ia)
            p.ia[k++] = f;
        d.naxes[1] = nx_;
        d.naxes[2] = ny_;
        for (int i = 0; i <= 10; i++)
            if (i == 0 || p.ia[i] == 1)
                d.dpm[i] = matrix(1, ny_, 1, nx_);
        if (comps_.size() > 1) {
            comps_[comps_.size() - 2].next = &p;
            nodes_[nodes_.size() - 2].next = &d;
        }
        return p;
    }
    void run(int output) { mkmodel(&model, &nodes_[0], &comps_[0], &cpar, output); }
    derivs &node(int i) { return nodes_[i]; }

    image model;
    convpars cpar;

private:
    long nx_, ny_;
    std::deque<fitpars> comps_; // stable addresses for the links
    std::deque<derivs> nodes_;
};

TEST(Mkmodel, WithoutPsfTheModelIsTheSumOfTheComponents)
{
    ModelList l(40, 30);
    l.add("sersic", {12.3f, 14.1f, 17, 4, 2, 0, 0, 0.7f, 20, 0}, {1, 1, 1, 1, 1, -1, -1, 1, 1, 0});
    l.add("devauc", {25.6f, 16.2f, 18, 3, 4, 0, 0, 0.5f, -40, 0.2f},
          {1, 1, 1, 1, 0, -1, -1, 1, 1, 1});
    l.add("sersic2", {25.6f, 16.2f, 18, 3, 4, 0, 0, 0.5f, -40, 0.2f},
          {0, 0, 0, 0, 0, -1, -1, 0, 0, 0});
    // Stale values must not survive: mkmodel clears before it renders.
    l.model.z[5][5] = 1e6f;
    l.node(0).dpm[4][7][7] = 1e6f;
    l.run(0);

    // The de Vaucouleurs component is the Sersic with n = 4, pixel for pixel.
    for (long y = 1; y <= 30; y++)
        for (long x = 1; x <= 40; x++) {
            EXPECT_EQ(l.node(1).dpm[0][y][x], l.node(2).dpm[0][y][x]);
            float sum = l.node(0).dpm[0][y][x] + l.node(1).dpm[0][y][x] + l.node(2).dpm[0][y][x];
            EXPECT_FLOAT_EQ(l.model.z[y][x], sum);
        }

    // Fit mode: a derivative image for each free slot, in the list's order.
    const int ia0[11] = {0, 1, 1, 1, 1, 1, -1, -1, 1, 1, 0};
    Canvas ref(40, 30, ia0);
    const float a0[11] = {0, 12.3f, 14.1f, 17, 4, 2, 0, 0, 0.7f, 20, 0};
    draw(sersic, a0, ia0, ref);
    for (int k : {1, 2, 3, 4, 5, 8, 9})
        EXPECT_EQ(l.node(0).dpm[k][7][7], ref.at(k, 7, 7)) << k;
}

TEST(Mkmodel, OutputModeLeavesOutHiddenComponentsAndDerivatives)
{
    ModelList l(30, 30);
    l.add("sersic", {10, 10, 17, 3, 1, 0, 0, 1, 0, 0}, {1, 1, 1, 1, 1, -1, -1, 1, 1, 0});
    fitpars &hidden =
        l.add("sersic", {20, 20, 17, 3, 1, 0, 0, 1, 0, 0}, {1, 1, 1, 1, 1, -1, -1, 1, 1, 0});
    hidden.outtype = 1;
    l.run(0);
    EXPECT_GT(sum_matrix(l.node(1).dpm[0], 30, 30), 0);
    EXPECT_NE(sum_matrix(l.node(0).dpm[4], 30, 30), 0);

    l.run(1);
    EXPECT_EQ(sum_matrix(l.node(1).dpm[0], 30, 30), 0);
    for (int k : {1, 2, 3, 4, 5, 8, 9}) {
        EXPECT_EQ(sum_matrix(l.node(0).dpm[k], 30, 30), 0) << k;
        EXPECT_EQ(sum_matrix(l.node(1).dpm[k], 30, 30), 0) << k;
    }
    EXPECT_NEAR(sum_matrix(l.model.z, 30, 30), sum_matrix(l.node(0).dpm[0], 30, 30), 1e-3);
    EXPECT_GT(sum_matrix(l.model.z, 30, 30), 0);
}

TEST(Mkmodel, UnknownTypeRendersNothing)
{
    ModelList l(10, 10);
    l.add("comet", {5, 5, 17, 3, 1, 0, 0, 1, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    l.run(0);
    EXPECT_EQ(sum_matrix(l.model.z, 10, 10), 0);
    EXPECT_TRUE(component_available("comet"));
}

TEST(ConvBox, CentreLandsOnAWholeGridPixel)
{
    convpars cpar;
    cpar.psfsz[1] = 32;
    cpar.psfsz[2] = 32;
    float a[11] = {0, 20.3f, 12.7f, 17, 4, 2.5f, 0, 0, 0.6f, 30, 0.1f};
    float ta[11];
    conv_box_params(a, "sersic", 5, 3, 1, &cpar, ta);
    EXPECT_EQ(ta[1], 32); // round(16.3) + 16
    EXPECT_EQ(ta[2], 27); // round(10.7) + 16
    for (int k = 3; k <= 10; k++)
        EXPECT_EQ(ta[k], a[k]) << k;
    float dx, dy;
    psf_shift_fraction(a[1], a[2], 1, &dx, &dy);
    EXPECT_NEAR(dx, 0.3, 1e-5);
    EXPECT_NEAR(dy, -0.3, 1e-5);

    // os = 2: the grid pixel of a data pixel's centre lies half a grid pixel
    // in, (os - 1)/2 = 0.5 (not the 0 of an integer division).
    conv_box_params(a, "sersic", 5, 3, 2, &cpar, ta);
    EXPECT_EQ(ta[1], 48); // round(32.6 - 0.5) + 16
    EXPECT_EQ(ta[4], 8);
    psf_shift_fraction(a[1], a[2], 2, &dx, &dy);
    EXPECT_NEAR(dx, 0.1, 1e-5); // 40.6 - 0.5 = 40.1
}

TEST(ConvBox, SurfaceBrightnessAndRadiiFollowTheOversampling)
{
    convpars cpar;
    float a[11] = {0, 10, 10, 16, 3, 25, 2, 0, 0.8f, 0, 0};
    float ta[11];
    conv_box_params(a, "king", 1, 1, 2, &cpar, ta);
    EXPECT_NEAR(ta[3], 16 + 5 * std::log10(2.0), 1e-5);
    EXPECT_EQ(ta[4], 6);
    EXPECT_EQ(ta[5], 50);
    EXPECT_EQ(ta[6], 2);
    conv_box_params(a, "nuker", 1, 1, 2, &cpar, ta);
    EXPECT_NEAR(ta[3], 16 + 5 * std::log10(2.0), 1e-5);
    EXPECT_EQ(ta[5], 25); // alpha is not a radius
    conv_box_params(a, "moffat", 1, 1, 2, &cpar, ta);
    EXPECT_EQ(ta[3], 16);
    EXPECT_EQ(ta[5], 25); // the power law neither
    EXPECT_EQ(round_half_away(-2.5), -3);
    EXPECT_EQ(round_half_away(2.5), 3);
}

} // namespace
