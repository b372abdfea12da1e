// The constraint file and what its constraints do to a trial step.
#include "torvex/fit/constraints.h"
#include "torvex/input/assign_pars.h"

#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fit_test;

namespace {

TEST(Constraints, ParameterNames)
{
    const struct {
        const char *word;
        int slot;
    } cases[] = {
        {"x", 1},     {"X", 1},     {"sky", 1}, {"y", 2},   {"mag", 3},   {"magnitude", 3},
        {"Re", 4},    {"rs", 4},    {"Rb", 4},  {"n", 5},   {"alpha", 5}, {"beta", 6},
        {"gamma", 7}, {"q", 8},     {"b/a", 8}, {"PA", 9},  {"c", 10},    {"4", 4},
        {"10", 10},   {"FWHM", -1}, {"Rc", -1}, {"Rt", -1}, {"zeta", -1},
    };
    for (const auto &c : cases) {
        std::string w = c.word;
        EXPECT_EQ(parconv(&w[0]), c.slot) << c.word;
    }
    std::string w = "MixEd";
    conv2lower(&w[0]);
    EXPECT_EQ(w, "mixed");
}

TEST(Constraints, FindposAndBlankstr)
{
    EXPECT_EQ(findpos("1-2", "*/+-"), 2);
    EXPECT_EQ(findpos("12/3+4", "*/+-"), 3);
    EXPECT_EQ(findpos("abc", "*/+-"), 0);
    EXPECT_EQ(findpos("", "*/+-"), 0);
    EXPECT_EQ(blankstr(" \t \n"), 1);
    EXPECT_EQ(blankstr("   # only a comment"), 1);
    EXPECT_EQ(blankstr(""), 1);
    EXPECT_EQ(blankstr("  1 x"), 0);
}

// Two Sersic components and a sky; component 1's x and R_e and component 2's
// x, magnitude and R_e are free.
class ConsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        comps.add("sersic", {10, 20, 18, 4, 2, 0, 0, 0.8f, 30, 0},
                  {1, 1, 0, 1, 0, -1, -1, 0, 0, 0});
        comps.add("sersic", {10.2f, 20, 17, 6, 1, 0, 0, 0.5f, 10, 0},
                  {1, 1, 1, 1, 0, -1, -1, 0, 0, 0});
        comps.add("sky", {1, 0, 0}, {1, 0, 0});
        snprintf(in.constraints, sizeof in.constraints, "%s", dir.file("cons").c_str());
    }
    void TearDown() override { free_cons(&head); }

    // Reads text as the constraint file; returns read_cons's result.
    int read(const std::string &text)
    {
        spit(dir.file("cons"), text);
        CapturePrint cap;
        int r = read_cons(in, &head, &comps.head);
        said = cap.text();
        return r;
    }

    int length() const
    {
        int n = 0;
        for (const cons *c = &head; c && c->comp[1] != 0; c = c->next)
            n++;
        return n;
    }

    // The flat vectors of the list: a (and aorig) from the components, atry
    // from a with the given changes.
    void step(std::initializer_list<std::pair<int, float>> changes)
    {
        int k = 1;
        for (const fitpars *p = &comps.head; p; p = p->next)
            for (int s = 1; s <= 10; s++, k++) {
                a[k] = aorig[k] = atry[k] = p->a[s];
                ia[k] = p->ia[s];
            }
        for (auto &c : changes)
            atry[c.first] = c.second;
        constraints(30, atry, a, ia, &head, aorig);
    }

    ScratchDir dir;
    Components comps;
    inpars in;
    cons head;
    std::string said;
    float a[31] = {}, aorig[31] = {}, atry[31] = {};
    int ia[31] = {};
};

TEST_F(ConsFile, LinesAndTheirEffectOnATrialStep)
{
    // Flat entry 10*(c-1)+s: x of component 1 is 1, R_e of component 2 is 14.
    const struct {
        const char *line;
        std::initializer_list<std::pair<int, float>> trial;
        int entry;
        float expect;
    } cases[] = {
        {"1 x -1 1", {{1, 12}}, 1, 11},
        {"1 x -1 1", {{1, 8.5f}}, 1, 9},
        {"1 x -1 1", {{1, 10.5f}}, 1, 10.5f},
        {"2 re 3 to 10", {{14, 12}}, 14, 10},
        {"2 re 10 to 3", {{14, 1}}, 14, 3},
        {"2 4 3 to 10", {{14, 5}}, 14, 5},
        // x of 1 did not move, x of 2 moved: component 1 is set to x2 + bound.
        {"1-2 x -0.5 0.5", {{11, 11}}, 1, 10.5f},
        {"1 - 2 x -0.5 0.5", {{11, 11}}, 1, 10.5f},
        {"1 -2 x -0.5 0.5", {{11, 11}}, 1, 10.5f},
        {"1- 2 x -0.5 0.5", {{11, 11}}, 1, 10.5f},
        // x of 1 moved more: component 2 is set to x1 - bound.
        {"1-2 x -0.5 0.5", {{1, 12}}, 11, 11.5f},
        // Size ratio 4/5 above 0.5; component 1 moved less: |R2| * 0.5.
        {"1/2 re 0.1 0.5", {{4, 4}, {14, 5}}, 4, 2.5f},
        // Component 1 moved more: R2 = |R1| / bound.
        {"1/2 re 0.1 0.5", {{4, 4.5f}}, 14, 9},
        {"1/2 re 0.1 0.5", {{4, 1}, {14, 5}}, 4, 1},
        {"1+2 mag 0 1", {{13, 30}}, 13, 30},
        {"1*2 mag 0 1", {{13, 30}}, 13, 30},
        {"1 b/a 0.5 to 0.7", {{8, 0.9f}}, 8, 0.7f},
        {"3 sky 0.9 to 1.1 # trailing comment", {{21, 2}}, 21, 1.1f},
        // A fixed slot keeps a single constraint: its trial value is moved.
        {"1 mag 20 to 21", {}, 3, 20},
        // A pair never moves a fixed slot: magnitude of 1 is fixed, so 2 moves.
        {"1-2 mag 0.5 1", {{13, 16}}, 13, 17},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(read(c.line + std::string("\n")), CONS_READ) << c.line << "\n" << said;
        step(c.trial);
        EXPECT_FLOAT_EQ(atry[c.entry], c.expect) << c.line;
    }
}

TEST_F(ConsFile, PairOfFixedSlotsIsLeftAlone)
{
    ASSERT_EQ(read("1-2 pa -5 5\n"), CONS_READ);
    step({});
    EXPECT_FLOAT_EQ(atry[9], 30);
    EXPECT_FLOAT_EQ(atry[19], 10);
}

TEST_F(ConsFile, RefusedLinesAreNamedAndSkipped)
{
    const char *no_such = "the component type has no such parameter";
    const struct {
        const char *line, *why;
    } refused[] = {
        {"4 x -1 1", "no such component"},   // no component 4
        {"0 x -1 1", "no such component"},   // components count from 1
        {"1-4 x -1 1", "no such component"}, // no second component 4
        {"1 fwhm -1 1", "no such parameter"},
        {"1 11 -1 1", "no such parameter"},
        {"3 re 1 2", no_such},   // a sky has no slot 4
        {"1 beta 0 1", no_such}, // a Sersic has no slot 6
        {"1/2 re 0 0.5", "a ratio bound of 0"},
        {"1 x a b", "the bound a is not a number"},
        {"1 re 3 to 4x", "the bound 4x is not a number"},
        {"1 x nan 1", "the bound nan is not a number"},
        {"1 x -inf 1", "the bound -inf is not finite"},
        // Numbers, but beyond what a float holds.
        {"2 mag 10 to 1e40", "the bound 1e40 is beyond the range of a float"},
        {"1 x -1 1e400", "the bound 1e400 is beyond the range of a float"},
        {"1 re 3 to", "a bound is missing"},
        {"x 1 -1 1", "the first word is not a component number"},
        // A difference or ratio of a parameter with itself is fixed: the
        // range is met always or never.
        {"2/2 mag 2 3", "a component paired with itself"},
        {"1-1 x 1 2", "a component paired with itself"},
        {"2 / 2 re 0.5 2", "a component paired with itself"},
        {"1+1 x 0 1", "a component paired with itself"},
        // Names the component's type does not have, though their usual slot
        // exists: never applied to whatever the type keeps there.
        {"3 y 1 to 2", no_such},     // the sky's x gradient
        {"3 mag 10 to 12", no_such}, // the sky's y gradient
        {"1-3 y -0.5 0.5", no_such}, // a galaxy's y against the sky's gradient
        {"1 sky 0 to 1", no_such},   // a Sersic's x
        {"1 rs 1 to 2", no_such},    // a Sersic's R_e
    };
    for (const auto &r : refused) {
        std::string text = std::string("1 x -1 1\n") + r.line + "\n2 re 3 to 10\n";
        EXPECT_EQ(read(text), CONS_LINES_LEFT) << r.line;
        EXPECT_NE(said.find("line 2 refused (" + std::string(r.why) + "): " + r.line),
                  std::string::npos)
            << said;
        EXPECT_EQ(length(), 2) << r.line;
        EXPECT_EQ(head.comp[1], 1);
        EXPECT_EQ(head.next->comp[1], 2);
    }
}

TEST_F(ConsFile, NamesStandForTheSlotOfTheComponentsOwnType)
{
    // Each type against every name: the slot the name stands for in that
    // type, or 0 when the type has no such parameter (the line is refused).
    const char *names[] = {"x",    "y",     "mag", "re",  "rs", "rb", "n",  "alpha",
                           "beta", "gamma", "q",   "b/a", "pa", "c",  "sky"};
    const struct {
        const char *type;
        int slot[15];
    } types[] = {
        {"sersic", {1, 2, 3, 4, 0, 0, 5, 0, 0, 0, 8, 8, 9, 10, 0}},
        {"devauc", {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 8, 8, 9, 10, 0}},
        {"expdisk", {1, 2, 3, 0, 4, 0, 0, 0, 0, 0, 8, 8, 9, 10, 0}},
        {"gaussian", {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 8, 8, 9, 10, 0}},
        {"moffat", {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 8, 8, 9, 10, 0}},
        {"king", {1, 2, 3, 0, 0, 0, 0, 6, 0, 0, 8, 8, 9, 10, 0}},
        {"nuker", {1, 2, 3, 0, 0, 4, 0, 5, 6, 7, 8, 8, 9, 10, 0}},
        {"psf", {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"sky", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const auto &t : types) {
        Components one;
        one.add(t.type);
        for (size_t i = 0; i < sizeof names / sizeof names[0]; i++) {
            const std::string line = std::string("1 ") + names[i] + " 0 to 1";
            spit(dir.file("cons"), line + "\n");
            CapturePrint cap;
            const int r = read_cons(in, &head, &one.head);
            const std::string label = std::string(t.type) + ": " + line;
            if (t.slot[i] == 0) {
                EXPECT_EQ(r, CONS_LINES_LEFT) << label;
                EXPECT_NE(cap.text().find("the component type has no such parameter"),
                          std::string::npos)
                    << label << "\n"
                    << cap.text();
                EXPECT_EQ(length(), 0) << label;
            } else {
                EXPECT_EQ(r, CONS_READ) << label << "\n" << cap.text();
                EXPECT_EQ(head.par, t.slot[i]) << label;
            }
        }
    }
}

TEST_F(ConsFile, SlotsTheTypeKeepsFixedAreNoParameterByNumberEither)
{
    // Completed as the program completes them: the de Vaucouleurs' index is
    // 4 with flag 0, the point source's axis ratio flag 0, a King's alpha
    // of 0 becomes 2 with flag 0 (but stays a parameter of the type).
    const struct {
        std::vector<const char *> types;
        const char *line;
        bool taken;
    } cases[] = {
        {{"devauc"}, "1 5 1 to 2", false},
        {{"devauc"}, "1 5 -1 1", false},
        {{"devauc"}, "1 n 1 to 2", false},
        {{"psf"}, "1 8 0.5 to 1", false},
        {{"psf"}, "1 q 0.5 to 1", false},
        {{"psf"}, "1 4 1 to 2", false},
        {{"sky"}, "1 10 0 to 1", false},
        {{"sersic", "devauc"}, "1-2 5 -1 1", false},
        {{"devauc", "sersic"}, "1/2 5 0.5 2", false},
        {{"sersic", "psf"}, "1/2 8 0.5 2", false},
        // Parameters of the type, by number.
        {{"sersic"}, "1 5 1 to 2", true},
        {{"devauc"}, "1 4 1 to 2", true},
        {{"psf"}, "1 3 10 to 12", true},
        {{"king"}, "1 6 1 to 3", true},
        {{"sky"}, "1 3 -1 to 1", true},
        {{"sersic", "sersic"}, "1-2 5 -1 1", true},
    };
    for (const auto &c : cases) {
        Components list;
        for (const char *t : c.types)
            list.add(t);
        inpars settings;
        image data, sigma, psfimg, badpix;
        convpars cpar;
        assign_pars(settings, &data, &sigma, &psfimg, &badpix, &list.head, &cpar);
        spit(dir.file("cons"), std::string(c.line) + "\n");
        CapturePrint cap;
        const int r = read_cons(in, &head, &list.head);
        if (c.taken) {
            EXPECT_EQ(r, CONS_READ) << c.line << "\n" << cap.text();
            EXPECT_EQ(length(), 1) << c.line;
        } else {
            EXPECT_EQ(r, CONS_LINES_LEFT) << c.line;
            EXPECT_NE(cap.text().find("line 1 refused (the component type has no such "
                                      "parameter): " +
                                      std::string(c.line)),
                      std::string::npos)
                << c.line << "\n"
                << cap.text();
            EXPECT_EQ(length(), 0) << c.line;
        }
    }
}

TEST_F(ConsFile, PairsNeedTheParameterInTheSameSlotOfBoth)
{
    Components two;
    two.add("king");
    two.add("nuker");
    spit(dir.file("cons"), "1-2 alpha -0.5 0.5\n1-2 pa -5 5\n");
    CapturePrint cap;
    EXPECT_EQ(read_cons(in, &head, &two.head), CONS_LINES_LEFT);
    EXPECT_NE(cap.text().find("line 1 refused (the two components hold that parameter in "
                              "different slots)"),
              std::string::npos)
        << cap.text();
    ASSERT_EQ(length(), 1);
    EXPECT_EQ(head.par, 9);
}

TEST_F(ConsFile, ShortLineEndsTheList)
{
    EXPECT_EQ(read("3 x 1\n"), CONS_LINES_LEFT);
    EXPECT_EQ(length(), 0);
    EXPECT_EQ(read("# first\n1 x -1 1\n\n   \n3 x 1\n2 x -1 1\n"), CONS_LINES_LEFT);
    EXPECT_EQ(length(), 1);
    EXPECT_NE(said.find("line 5"), std::string::npos) << said;
}

TEST_F(ConsFile, MissingFileLeavesAnEmptyList)
{
    head.comp[1] = 5; // a stale head is emptied
    snprintf(in.constraints, sizeof in.constraints, "%s", dir.file("absent").c_str());
    CapturePrint cap;
    EXPECT_EQ(read_cons(in, &head, &comps.head), CONS_UNREADABLE);
    EXPECT_EQ(length(), 0);
}

TEST_F(ConsFile, LongLinesAndWordsAreReadWhole)
{
    std::string comment = "# " + std::string(500, 'c') + " 1 x 0 0\n";
    std::string padded = "2" + std::string(200, ' ') + "magnitude_of_the_disk\t16.5   to  " +
                         std::string(100, ' ') + "17.0000000000000000000000000001\n";
    ASSERT_EQ(read(comment + padded), CONS_READ) << said;
    ASSERT_EQ(length(), 1);
    EXPECT_EQ(head.comp[1], 2);
    EXPECT_EQ(head.par, 3);
    EXPECT_EQ(head.op, 't');
    EXPECT_FLOAT_EQ(head.cval[1], 16.5f);
    EXPECT_FLOAT_EQ(head.cval[2], 17);
}

TEST_F(ConsFile, LaterConstraintsActAfterEarlierOnes)
{
    ASSERT_EQ(read("1 x -1 1\n1 x 9.5 to 10.2\n"), CONS_READ);
    step({{1, 12}});
    EXPECT_FLOAT_EQ(atry[1], 10.2f); // 11 from the first, then 10.2
}

TEST_F(ConsFile, AbsolutePositionRangesMoveWithThePositions)
{
    // The file gives positions in image coordinates; the fit holds them in
    // fit-region coordinates.  Only absolute x and y ranges of components
    // that have a position move: not relative ranges, differences, other
    // slots, nor a sky's level and gradient in slots 1 and 2.
    ASSERT_EQ(read("1 x 109.5 to 110.5\n2 y 60 to 70\n1 x -1 1\n1-2 x -0.5 0.5\n"
                   "2 re 3 to 10\n3 sky 0.9 to 1.1\n3 2 -1 to 1\n"),
              CONS_READ)
        << said;
    offset_constraints(&head, &comps.head, -100, -50);
    const struct {
        float lo, hi;
    } expect[] = {{9.5f, 10.5f}, {10, 20}, {-1, 1}, {-0.5f, 0.5f}, {3, 10}, {0.9f, 1.1f}, {-1, 1}};
    const cons *c = &head;
    for (const auto &e : expect) {
        ASSERT_NE(c, nullptr);
        EXPECT_FLOAT_EQ(c->cval[1], e.lo);
        EXPECT_FLOAT_EQ(c->cval[2], e.hi);
        c = c->next;
    }
    step({{1, 12}, {12, 25}});
    EXPECT_FLOAT_EQ(atry[1], 10.5f);
    EXPECT_FLOAT_EQ(atry[12], 20);
    offset_constraints(&head, &comps.head, 100, 50);
    EXPECT_FLOAT_EQ(head.cval[1], 109.5f);
    EXPECT_FLOAT_EQ(head.next->cval[2], 70);
}

} // namespace
