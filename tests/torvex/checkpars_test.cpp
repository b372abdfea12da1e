// Parameter values that no profile can render are refused, in the
// parameter file and before a run.
#include "torvex/input/checkpars.h"
#include "torvex/input/read_input.h"

#include "parfile_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(SlotProblem, RefusesValuesThatMakeAProfileNaN)
{
    struct Case {
        const char *type;
        int slot;
        float value;
        bool refused;
    } cases[] = {
        {"sersic", 3, NAN, true},      {"sky", 1, INFINITY, true},   {"sersic", 4, 0, true},
        {"sersic", 4, 0.3f, false},    {"sersic", 5, 0.05f, true},   {"sersic", 5, 0.06f, false},
        {"devauc", 5, 0, false},       {"sersic", 10, -1.95f, true}, {"expdisk", 10, -1.9f, false},
        {"expdisk", 4, -2, true},      {"gaussian", 4, 0, true},     {"gaussian", 4, -3, false},
        {"moffat", 5, 1, true},        {"moffat", 5, 0.5f, true},    {"moffat", 5, 1.01f, false},
        {"moffat", 4, 0, true},        {"king", 4, 0, true},         {"king", 4, -2, false},
        {"king", 6, -1, true},         {"king", 5, -1, false},       {"nuker", 7, 2, true},
        {"nuker", 7, 1.99f, false},    {"nuker", 4, 0, true},        {"nuker", 5, 0, false},
        {"nuker", 8, 0, true},         {"psf", 8, 0, false},         {"psf", 3, 17, false},
        {"gaussian", 10, 1000, false}, {"gaussian", 10, 1001, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(slot_problem(c.type, c.slot, c.value, false) != nullptr, c.refused)
            << c.type << " " << c.slot << " " << c.value;
    // A King alpha of 0 asks for the default before completion only.
    EXPECT_EQ(slot_problem("king", 6, 0, false), nullptr);
    EXPECT_NE(slot_problem("king", 6, 0, true), nullptr);
}

class ParFileRefusal : public ::testing::Test {
protected:
    void SetUp() override { reset_reader(); }
    void TearDown() override { free_objects(&head); }

    std::string read(const std::string &text) { return read_parameter_text(text, &input, &head); }
    fitpars head;
};

TEST_F(ParFileRefusal, ALineWithAnUnusableValueKeepsTheSlot)
{
    std::string out = read("0) moffat\n4) 3.0 1\n5) 2.5 1\n5) 0.9 0\n0) nuker\n7) 2.5 1\n"
                           "7) 0.3 1\n1) 5 6 1 1\n1) nan 20 0 0\n1) 7 inf 0 0\n");
    EXPECT_NE(out.find("-- The Moffat power law must be above 1 (its total flux is infinite "
                       "otherwise); 0.9 refused.\n"),
              std::string::npos);
    EXPECT_NE(out.find("-- The Nuker gamma must be below 2"), std::string::npos);
    EXPECT_NE(out.find("-- A parameter must be a finite number; nan refused.\n"),
              std::string::npos);
    EXPECT_EQ(head.a[5], 2.5f);
    EXPECT_EQ(head.ia[5], 1);
    ASSERT_NE(head.next, nullptr);
    EXPECT_EQ(head.next->a[7], 0.3f);
    EXPECT_NE(out.find("-- A parameter must be a finite number; inf refused.\n"),
              std::string::npos);
    // A refused line changes nothing, not even the values and switches
    // beside the refused one.
    EXPECT_EQ(head.next->a[1], 5);
    EXPECT_EQ(head.next->a[2], 6);
    EXPECT_EQ(head.next->ia[1], 1);
    EXPECT_EQ(head.next->ia[2], 1);
}

TEST_F(ParFileRefusal, TheCompletedListIsCheckedAsAWhole)
{
    // A Moffat whose power law was never given and a type changed under its
    // values; the point source and the disk are fine.
    // Magnitudes and surface brightnesses are checked against the
    // zeropoints (26, and 21 per pixel): 1e30 counts are 75 magnitudes up.
    read("0) moffat\n4) 3.0 1\n0) sersic\n4) 5 1\n5) 0.02 1\n0) psf\n3) 17 1\n0) expdisk\n4) 3 1\n"
         "3) -48 1\n0) king\n3) -54.1 1\n4) 3 1\n5) 9 1\n6) 2 1\n"
         "0) nuker\n3) -53.9 1\n4) 3 1\n5) 2 1\n6) 3 1\n7) 0.5 1\n0) sky\n1) 1e20 1\n");
    head.ia[6] = head.ia[7] = -1;
    testing::internal::CaptureStdout();
    int n = check_components(&head, 26, 21);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(n, 3);
    EXPECT_NE(out.find("Component 1 (moffat), parameter 5: The Moffat power law must be above 1"),
              std::string::npos);
    EXPECT_EQ(out.find("Component 3"), std::string::npos);
    EXPECT_EQ(out.find("Component 4"), std::string::npos);
    EXPECT_NE(out.find("-- Component 5 (king), parameter 3: The surface brightness asks for "
                       "more than 1e30 counts per pixel; -54.1 refused.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Component 6"), std::string::npos);
    EXPECT_EQ(out.find("Component 7"), std::string::npos);

    // The magnitude of the disk, 74 magnitudes above the zeropoint, passes;
    // 76 does not.
    head.next->next->next->a[3] = -50;
    testing::internal::CaptureStdout();
    EXPECT_EQ(check_components(&head, 26, 21), 4);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("-- Component 4 (expdisk), parameter 3: The magnitude asks for more than "
                       "1e30 counts; -50 refused.\n"),
              std::string::npos)
        << out;
}

} // namespace
