// Component completion and the position-angle normaliser.
#include "torvex/input/assign_pars.h"
#include "torvex/model/pa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

TEST(Pa, BringsAnglesIntoTheHalfOpenRange)
{
    const float cases[][2] = {
        {270, 90}, {-90, 90},  {90, 90},  {100, -80}, {-450, 90}, {-100, 80},
        {91, -89}, {0, 0},     {180, 0},  {-180, 0},  {45, 45},   {-89.5f, -89.5f},
        {721, 1},  {-30, -30}, {630, 90}, {359, -1},
    };
    for (const auto &c : cases)
        EXPECT_FLOAT_EQ(pa(c[0]), c[1]) << c[0];
}

class AssignPars : public ::testing::Test {
protected:
    fitpars *add(const char *type)
    {
        fitpars *p = &nodes[used++];
        strcpy(p->objtype, type);
        if (used > 1)
            nodes[used - 2].next = p;
        return p;
    }
    void run() { assign_pars(in, &data, &sigma, &psfimg, &badpix, &nodes[0], &cpar); }

    inpars in;
    image data, sigma, psfimg, badpix;
    convpars cpar;
    fitpars nodes[8];
    int used = 0;
};

TEST_F(AssignPars, AxisRatioAboveOneSwapsAxes)
{
    fitpars *s = add("sersic");
    s->a[8] = 2;
    s->a[4] = 10;
    s->a[9] = 30;
    run();
    EXPECT_FLOAT_EQ(s->a[8], 0.5f);
    EXPECT_FLOAT_EQ(s->a[4], 20);
    EXPECT_FLOAT_EQ(s->a[9], -60);
}

TEST_F(AssignPars, TypeRulesMarkUnusedSlotsAndFixValues)
{
    fitpars *dv = add("devauc");
    dv->a[5] = 2.5f;
    dv->ia[5] = 1;
    fitpars *k0 = add("king");
    fitpars *k3 = add("kingdom"); // matched by its first characters
    k3->a[6] = 3;
    k3->ia[6] = 1;
    fitpars *ps = add("psfx");
    for (int k = 1; k <= 10; k++)
        ps->ia[k] = 1;
    fitpars *sky = add("sky");
    for (int k = 1; k <= 10; k++)
        sky->ia[k] = 1;
    fitpars *mo = add("moffat");
    mo->ia[3] = 2;
    mo->ia[8] = -1;
    run();

    EXPECT_EQ(dv->a[5], 4.0f);
    EXPECT_EQ(dv->ia[5], 0);
    EXPECT_EQ(dv->ia[6], -1);
    EXPECT_EQ(dv->ia[7], -1);

    EXPECT_EQ(k0->a[6], 2.0f);
    EXPECT_EQ(k0->ia[6], 0);
    EXPECT_EQ(k0->ia[7], -1);
    EXPECT_EQ(k3->a[6], 3.0f);
    EXPECT_EQ(k3->ia[6], 1);
    EXPECT_EQ(k3->ia[7], -1);

    // A point source keeps only its position and magnitude; slot 8 is then
    // fixed rather than unused, as every axis-ratio flag below 0.01 is.
    const int psf_flags[11] = {0, 1, 1, 1, -1, -1, -1, -1, 0, -1, -1};
    const int sky_flags[11] = {0, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1};
    for (int k = 1; k <= 10; k++) {
        EXPECT_EQ(ps->ia[k], psf_flags[k]) << "psf slot " << k;
        EXPECT_EQ(sky->ia[k], sky_flags[k]) << "sky slot " << k;
    }

    EXPECT_EQ(mo->ia[3], 0); // flags other than -1, 0, 1 become 0
    EXPECT_EQ(mo->ia[8], 0);
    EXPECT_EQ(mo->ia[6], -1);
}

TEST_F(AssignPars, NormalisesEveryPositionAngle)
{
    const float angles[][2] = {{270, 90}, {-450, 90}, {100, -80}};
    fitpars *p[3];
    for (int i = 0; i < 3; i++) {
        p[i] = add(i == 2 ? "sky" : "expdisk");
        p[i]->a[9] = angles[i][0];
    }
    run();
    for (int i = 0; i < 3; i++)
        EXPECT_FLOAT_EQ(p[i]->a[9], angles[i][1]);
}

TEST_F(AssignPars, CopiesNamesConvolutionSettingsAndZeropoints)
{
    add("sersic");
    strcpy(in.data, "gal.fits");
    strcpy(in.psf, "psf.fits");
    in.convbox[1] = 40;
    in.convbox[2] = 50;
    in.sampfac = 3;
    in.magzpt = 25;
    in.d[1] = 0.1f;
    in.d[2] = 0.1f;
    run();
    EXPECT_STREQ(data.name, "gal.fits");
    EXPECT_STREQ(sigma.name, "none");
    EXPECT_STREQ(psfimg.name, "psf.fits");
    EXPECT_STREQ(badpix.name, "none");
    EXPECT_EQ(cpar.boxsz[1], 40);
    EXPECT_EQ(cpar.boxsz[2], 50);
    EXPECT_EQ(cpar.sampfac, 3);
    EXPECT_EQ(data.magzpt, 25.0f);
    EXPECT_EQ(data.dp[1], 0.1f);
    EXPECT_NEAR(data.muzpt, 20.0f, 1e-5);

    in.d[1] = 0.05f;
    in.d[2] = 0.2f;
    in.magzpt = 26.5f;
    run();
    EXPECT_NEAR(data.muzpt, 26.5 + 2.5 * std::log10(0.01), 1e-5);
}

} // namespace
