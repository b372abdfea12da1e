// The parameter file: line syntax, the menu writer, the editor, and the
// program's start-up on real files.
#include "torvex/input/menu.h"
#include "torvex/input/read_input.h"

#include "parfile_text.h"

#include "common/program.h"
#include "common/scratch.h"
#include "common/tmux.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace test_common;

// Fresh program state for every test: the reader works on the globals.
class ParFile : public ::testing::Test {
protected:
    void SetUp() override { reset_reader(); }
    void TearDown() override
    {
        free_objects(&head);
        free_objects(&head2);
        if (!freopen("/dev/null", "r", stdin))
            ADD_FAILURE() << "cannot restore stdin";
    }

    // Reads text as a parameter file into input and head; returns stdout.
    std::string read_text(const std::string &text)
    {
        return read_parameter_text(text, &input, &head);
    }

    // Runs read_input on a parameter file with the given standard input.
    std::string run_editor(const std::string &param, const std::string &keys)
    {
        spit(dir.file("run.param"), param);
        spit(dir.file("keys"), keys);
        snprintf(input.initparfile, sizeof input.initparfile, "%s", dir.file("run.param").c_str());
        if (!freopen(dir.file("keys").c_str(), "r", stdin))
            ADD_FAILURE() << "cannot redirect stdin";
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_input(&input, &head), 0);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    fitpars *obj(int n)
    {
        fitpars *p = &head;
        for (int i = 1; i < n && p; i++)
            p = p->next;
        return p;
    }

    int count_list() const
    {
        int n = 0;
        for (const fitpars *p = &head; p && std::string(p->objtype) != "none"; p = p->next)
            n++;
        return n;
    }

    ScratchDir dir;
    fitpars head, head2;
};

std::string str(float v)
{
    char b[64];
    snprintf(b, sizeof b, "%g", v);
    return b;
}

TEST_F(ParFile, SettingLinesSetTheirFields)
{
    using field = std::function<std::string(const inpars &)>;
    const field data = [](const inpars &i) { return std::string(i.data); };
    const field dev = [](const inpars &i) { return std::string(i.device); };
    const field samp = [](const inpars &i) { return std::to_string(i.sampfac); };
    struct Case {
        const char *line;
        field get;
        const char *want;
    } cases[] = {
        {"A) gal.fits   # the data", data, "gal.fits"},
        {"a) low.fits", data, "low.fits"},
        {"Alpha word.fits", data, "word.fits"},
        {"A:", data, ""},
        {"  \tA) indented.fits", data, "indented.fits"},
        {"B) out.fits", [](const inpars &i) { return std::string(i.output); }, "out.fits"},
        {"C) sig.fits", [](const inpars &i) { return std::string(i.sigma); }, "sig.fits"},
        {"D) p.fits k.txt", [](const inpars &i) { return std::string(i.psf) + "|" + i.kernel; },
         "p.fits|k.txt"},
        {"D) p.fits", [](const inpars &i) { return std::string(i.psf) + "|" + i.kernel; },
         "p.fits|"},
        {"E) 4", samp, "4"},
        {"E) 0", samp, "1"},
        {"E) -2", samp, "1"},
        // A whole number is read whole, in any notation; a fraction or a
        // number beyond int is refused rather than cut to its leading digits.
        {"E) 3.0", samp, "3"},
        {"E) 2.5", samp, "1"},
        {"E) 4e10", samp, "1"},
        {"E) 1e-400", samp, "1"},
        {"H) 1 40 1 3e1", [](const inpars &i) { return std::string(i.imgsect); }, "[1:40,1:30]"},
        {"I) 30 3.5",
         [](const inpars &i) {
             return std::to_string(i.convbox[1]) + " " + std::to_string(i.convbox[2]);
         },
         "0 0"},
        {"P) 0.5", [](const inpars &i) { return std::to_string(i.create); }, "0"},
        {"F) bad.txt", [](const inpars &i) { return std::string(i.badpix); }, "bad.txt"},
        {"G) c.txt", [](const inpars &i) { return std::string(i.constraints); }, "c.txt"},
        {"H) 10 200 20 300", [](const inpars &i) { return std::string(i.imgsect); },
         "[10:200,20:300]"},
        {"I) 50 60",
         [](const inpars &i) {
             return std::to_string(i.convbox[1]) + " " + std::to_string(i.convbox[2]);
         },
         "50 60"},
        {"J) 25.5", [](const inpars &i) { return str(i.magzpt); }, "25.5"},
        {"K) 0.05 0.06", [](const inpars &i) { return str(i.d[1]) + " " + str(i.d[2]); },
         "0.05 0.06"},
        {"L) 3", [](const inpars &i) { return std::to_string(i.coerr); }, "3"},
        {"O) reg", dev, "reg"},
        {"O) xyz", dev, "both"},
        {"O) bothways", dev, "bothways"},
        {"O) cursesandmore", dev, "cursesand"},
        {"P) 1", [](const inpars &i) { return std::to_string(i.create); }, "1"},
        {"S) 1", [](const inpars &i) { return std::to_string(i.interact); }, "1"},
        {"# A) comment.fits", data, ""},
        {"Q) whatever.fits", data, ""},
    };
    for (const Case &c : cases) {
        input = inpars{};
        int cur = 0;
        testing::internal::CaptureStdout();
        file_reading file;
        checkpar(c.line, &input, &head, &cur, &file);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.get(input), c.want) << c.line;
    }
}

TEST_F(ParFile, SettingsWhoseValueIsNoNumberAreRefused)
{
    // Each refused line is named and leaves the value before it.
    std::string out = read_text("J) 25.5\nJ) abc\nJ) inf\nK) 0.1 0.2\nK) x 0.3\nK) 0.4 nan\n"
                                "H) 1 60 1 50\nH) a b c d\nE) 4\nE) four\nE) 99999999999\n"
                                "I) 10 20\nI) ten\nI) -5 -5\nI) 0 40\nI) 40 -1\nP) 1\nP) yes\n"
                                "S) 0\nS) no\nE) 2.5\nE) 4e10\n"
                                "J) 24 # a number and a comment\nK) 0.5 pixels\n");
    EXPECT_EQ(input.magzpt, 24.0f);
    EXPECT_EQ(input.d[1], 0.5f);
    EXPECT_EQ(input.d[2], 0.2f);
    EXPECT_STREQ(input.imgsect, "[1:60,1:50]");
    EXPECT_EQ(input.sampfac, 4);
    EXPECT_EQ(input.convbox[1], 10);
    EXPECT_EQ(input.convbox[2], 20);
    EXPECT_EQ(input.create, 1);
    EXPECT_EQ(input.interact, 0);
    for (const char *said :
         {"-- J) The value must be a number; abc refused.",
          "-- J) The value must be a finite "
          "number; inf refused.",
          "-- K) The value must be a number; x refused.",
          "-- K) The value must be a finite number; nan refused.",
          "-- H) The value must be a whole number; a refused.",
          "-- E) The value must be a whole number; four refused.",
          "-- E) The value must be a whole number within the range of an int; 99999999999 "
          "refused.",
          "-- I) The value must be a whole number; ten refused.",
          // A box of no pixels would convolve nothing.
          "-- I) The convolution box must be 1 pixel or more in x and y; -5 refused.",
          "-- I) The convolution box must be 1 pixel or more in x and y; 0 refused.",
          "-- I) The convolution box must be 1 pixel or more in x and y; -1 refused.",
          "-- E) The value must be a whole number; 2.5 refused.",
          "-- E) The value must be a whole number within the range of an int; 4e10 refused.",
          "-- P) The value must be a whole number; yes refused.",
          "-- S) The value must be a whole number; no refused."})
        EXPECT_NE(out.find(said), std::string::npos) << said << "\n" << out;
    // Words after the values are a comment, not a refused value.
    EXPECT_EQ(out.find("pixels refused"), std::string::npos) << out;
    EXPECT_EQ(out.find("# refused"), std::string::npos) << out;
}

TEST_F(ParFile, SwitchesOutsideTheirSetAreRefused)
{
    // Each value out of its set is named and the switch keeps what the line
    // before it set.
    using field = std::function<std::string(const inpars &)>;
    const field create = [](const inpars &i) { return std::to_string(i.create); };
    const field interact = [](const inpars &i) { return std::to_string(i.interact); };
    const field dev = [](const inpars &i) { return std::string(i.device); };
    const char *p_said = "-- P) The value must be 0 (fit) or 1 (create the model only); ";
    const char *s_said = "-- S) The value must be 0 (no editor) or 1 (start the editor); ";
    const char *o_said = "-- O) The display must be regular, curses or both; ";
    const struct {
        const char *text;
        field get;
        const char *want;
        std::string said;
    } cases[] = {
        {"P) 1\nP) 2\n", create, "1", p_said + std::string("2 refused.")},
        {"P) 0\nP) -1\n", create, "0", p_said + std::string("-1 refused.")},
        {"P) 1\nP) 1e3\n", create, "1", p_said + std::string("1000 refused.")},
        {"S) 1\nS) 2\n", interact, "1", s_said + std::string("2 refused.")},
        {"S) 0\nS) -1\n", interact, "0", s_said + std::string("-1 refused.")},
        {"O) curses\nO) bogus\n", dev, "curses", o_said + std::string("bogus refused.")},
        {"O) regular\nO) xyz\n", dev, "regular", o_said + std::string("xyz refused.")},
    };
    for (const auto &c : cases) {
        reset_reader();
        const std::string out = read_text(c.text);
        EXPECT_EQ(c.get(input), c.want) << c.text;
        EXPECT_NE(out.find(c.said), std::string::npos) << c.text << "\n" << out;
    }
}

TEST_F(ParFile, ComponentLinesSetTheCurrentComponent)
{
    struct Case {
        const char *type, *line;
        int slot;
        float a;
        int ia;
    } cases[] = {
        {"sersic", "10) 0.5 1", 10, 0.5f, 1},
        {"sersic", "8) 1.0 1", 8, 0.999999f, 1},
        {"sersic", "8) 1.01 1", 8, 1.01f, 1},
        {"sersic", "8) 0 1", 8, 1.0f, 0},    // refused: q must be above 0
        {"sersic", "8) -0.3 1", 8, 1.0f, 0}, // refused
        {"sersic", "3) 18.5 1", 3, 18.5f, 1},
        {"sersic", "9) 45 0", 9, 45.0f, 0},
        {"sersic", "2) 7 1", 2, 0.0f, 0}, // key 2 means nothing for a profile
        {"sersic", "5) 2.5", 5, 2.5f, 0}, // a missing flag keeps its value
        {"sersic", "5) 2.5 1e0", 5, 2.5f, 1},
        {"sersic", "5) 2.5 1.5", 5, 0.0f, 0},    // refused, with its value
        {"sersic", "8) 0.5 0.5", 8, 1.0f, 0},    // refused
        {"sersic", "10) 0.5 2e10", 10, 0.0f, 0}, // refused
        // A fit switch is 0 or 1; the -1 of a slot the type does not fit,
        // which restart files carry, is kept.
        {"sersic", "4) 7.0 2", 4, 0.0f, 0},  // refused
        {"sersic", "4) 7.0 -1", 4, 0.0f, 0}, // refused
        {"sersic", "8) 0.5 -1", 8, 1.0f, 0}, // refused
        {"sersic", "6) 0 -1", 6, 0.0f, -1},
        {"psf", "8) 1 -1", 8, 0.999999f, -1},
        {"sky", "1) 3.5 7", 1, 0.0f, 0}, // refused
        {"sky", "1) 3.5 1", 1, 3.5f, 1},
        {"sky", "2) 0.01 0", 2, 0.01f, 0},
    };
    for (const Case &c : cases) {
        free_objects(&head);
        head = fitpars{};
        sample = sampars{};
        totnobj = 0;
        read_text(std::string("0) ") + c.type + "\n" + c.line + "\n");
        EXPECT_EQ(head.a[c.slot], c.a) << c.line;
        EXPECT_EQ(head.ia[c.slot], c.ia) << c.line;
    }

    read_text("0) sersic\n1) 10 20 1 0\nZ) 1\n");
    fitpars *p = obj(2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->a[1], 10.0f);
    EXPECT_EQ(p->a[2], 20.0f);
    EXPECT_EQ(p->ia[1], 1);
    EXPECT_EQ(p->ia[2], 0);
    EXPECT_EQ(p->outtype, 1);

    // The output option is 0 or 1 as well; another value changes nothing.
    const std::string out = read_text("Z) 2\nZ) -1\n");
    EXPECT_EQ(p->outtype, 1);
    for (const char *bad : {"2", "-1"})
        EXPECT_NE(out.find(std::string("-- Z) The output option must be 0 (subtract) or 1 (do "
                                       "not subtract); ") +
                           bad + " refused."),
                  std::string::npos)
            << out;
}

TEST_F(ParFile, WholeNumbersOfComponentAndCommandLinesAreReadWhole)
{
    // Each refused line changes nothing: not the component, not the
    // current one, not the list.
    std::string out = read_text("0) sersic\n0) sky\nM 1\n1) 10 20 1 0.5\nZ) 1.5\nM 2.5\n"
                                "3) 18 1\nX 2.5\n1) 10 20 1 -1\n10) 0.5 3\n");
    ASSERT_EQ(count_list(), 2);
    EXPECT_EQ(obj(1)->a[1], 0.0f);
    EXPECT_EQ(obj(1)->ia[1], 0);
    EXPECT_EQ(obj(1)->outtype, 0);
    EXPECT_EQ(obj(1)->a[3], 18.0f);
    EXPECT_EQ(obj(1)->a[10], 0.0f);
    EXPECT_EQ(obj(2)->a[3], 0.0f);
    for (const char *said : {"-- 1) The value must be a whole number; 0.5 refused.",
                             "-- Z) The value must be a whole number; 1.5 refused.",
                             "-- M) The value must be a whole number; 2.5 refused.",
                             "-- X) The value must be a whole number; 2.5 refused.",
                             "-- 1) The fit switch must be 0 (fixed) or 1 (free); -1 refused.",
                             "-- 10) The fit switch must be 0 (fixed) or 1 (free); 3 refused."})
        EXPECT_NE(out.find(said), std::string::npos) << said << "\n" << out;
}

TEST_F(ParFile, ComponentsFillTheHeadThenFollowIt)
{
    read_text("0) sersic2\nN expdisk\n");
    EXPECT_STREQ(head.objtype, "sersic2");
    ASSERT_NE(head.next, nullptr);
    EXPECT_STREQ(head.next->objtype, "expdisk");
    EXPECT_EQ(head.next->a[8], 1.0f);
    EXPECT_EQ(sample.nobjs, 2);
    EXPECT_EQ(totnobj, 2);
}

TEST_F(ParFile, MenuIsExactAndReadsBack)
{
    std::string param = slurp(TEST_DATA "/all_types.param");
    read_text(param);
    ASSERT_EQ(sample.nobjs, 9);

    // The exact lines, with position offsets and the chi^2 header.
    EXPECT_EQ(menu_text(input, head, 100, 200, 1234.5f, 1000),
              slurp(TEST_DATA "/menu_all_types.txt"));

    // What menu writes reads back to the same records.
    inpars first = input;
    std::string written = menu_text(input, head);
    reset_reader();
    std::swap(head, head2);
    head = fitpars{};
    read_text(written);
    EXPECT_EQ(menu_text(input, head), written);
    EXPECT_STREQ(input.kernel, first.kernel);
    EXPECT_EQ(input.sampfac, first.sampfac);
    const fitpars *p = &head, *q = &head2;
    for (; p && q; p = p->next, q = q->next) {
        EXPECT_STREQ(p->objtype, q->objtype);
        for (int k = 1; k <= 10; k++) {
            EXPECT_EQ(p->ia[k], q->ia[k]) << p->objtype << " slot " << k;
            if (k <= 3 || !objtype_is(p->objtype, "sky")) {
                EXPECT_NEAR(p->a[k], q->a[k], 5e-5) << p->objtype << " slot " << k;
            }
        }
        EXPECT_EQ(p->outtype, q->outtype);
    }
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(q, nullptr);
}

TEST_F(ParFile, EmptyKernelReadsBackAsTheCommentMark)
{
    read_text("D) psf.fits\n");
    std::string written = menu_text(input, head);
    input = inpars{};
    read_text(written);
    EXPECT_STREQ(input.psf, "psf.fits");
    EXPECT_STREQ(input.kernel, "#");
}

TEST_F(ParFile, MalformedFileLinesAreReportedAndSkipped)
{
    // An unknown type is refused without a prompt, and the lines of its
    // block do not fall on the component before it.
    std::string out = read_text("0) sersic\n3) 18 1\n0) spiral\n3) 99 1\n1) 5 5 1 1\n");
    EXPECT_EQ(count_list(), 1);
    EXPECT_EQ(head.a[3], 18.0f);
    EXPECT_EQ(head.a[1], 0.0f);
    EXPECT_NE(out.find("Unknown object type \"spiral\""), std::string::npos) << out;
    EXPECT_EQ(out.find("Enter new object name"), std::string::npos);

    // Parameter lines before any component change nothing.
    free_objects(&head);
    head = fitpars{};
    sample = sampars{};
    totnobj = 0;
    out = read_text("3) 5 1\nZ) 1\n");
    EXPECT_EQ(head.a[3], 0.0f);
    EXPECT_EQ(head.outtype, 0);
    EXPECT_NE(out.find("No object number 0"), std::string::npos) << out;

    // Over-long values: cut where a shorter value means the same, refused
    // where it would name another file.
    std::string longname(FILENAME_LEN + 1, 'x');
    std::string longline = "B) " + std::string(PARLINE_LEN + 100, 'y');
    out = read_text("A) keep.fits\nA) " + longname + "\n" + longline + "\n0) gaussian12345\n");
    EXPECT_STREQ(input.data, "keep.fits");
    EXPECT_STREQ(input.output, "");
    EXPECT_STREQ(obj(1)->objtype, "gaussian");
    EXPECT_NE(out.find("longer than 1024"), std::string::npos);
    EXPECT_NE(out.find("Line longer than 4095"), std::string::npos);
    std::string exact(FILENAME_LEN, 'z');
    read_text("C) " + exact + "\n");
    EXPECT_EQ(std::string(input.sigma), exact);
}

TEST_F(ParFile, SelectAndDeleteInAFileAreRangeChecked)
{
    std::string out = read_text("0) sersic\n0) expdisk\nM 1\n3) 20 1\n0) sky\n1) 2.5 1\n"
                                "M 4\n3) 7 1\nX 0\nX 9\n");
    ASSERT_EQ(count_list(), 3);
    EXPECT_EQ(obj(1)->a[3], 20.0f);
    EXPECT_EQ(obj(2)->a[1], 0.0f);
    EXPECT_STREQ(obj(3)->objtype, "sky");
    EXPECT_EQ(obj(3)->a[1], 2.5f); // the added sky became current after M 1
    EXPECT_EQ(obj(3)->a[3], 7.0f); // M 4 was refused
    EXPECT_NE(out.find("no object number 4"), std::string::npos) << out;
    EXPECT_NE(out.find("no object number 9"), std::string::npos) << out;

    read_text("X 1\n");
    ASSERT_EQ(count_list(), 2);
    EXPECT_STREQ(obj(1)->objtype, "expdisk");
    EXPECT_STREQ(obj(2)->objtype, "sky");
    EXPECT_EQ(obj(2)->a[1], 2.5f);
    EXPECT_EQ(sample.nobjs, 2);
    read_text("X 2\nX 1\n");
    EXPECT_EQ(sample.nobjs, 0);
    EXPECT_STREQ(head.objtype, "none");
    // A component added after the list ran empty starts afresh.
    read_text("0) psf\n");
    EXPECT_STREQ(head.objtype, "psf");
    EXPECT_EQ(head.a[1], 0.0f);
    EXPECT_EQ(head.a[3], 0.0f);
}

const char *const three_objects = "S) 1\n"
                                  "0) sersic\n3) 18 1\n"
                                  "0) expdisk\n4) 12 1\n"
                                  "0) sky\n1) 1.5 1\n";

TEST_F(ParFile, EditorSelectsChangesDeletesAndQuits)
{
    std::string out = run_editor(three_objects, "M 2\n4) 25 1\nX 1\nq\n3) 99 1\n");
    ASSERT_EQ(count_list(), 2);
    EXPECT_STREQ(obj(1)->objtype, "expdisk");
    EXPECT_EQ(obj(1)->a[4], 25.0f);
    EXPECT_EQ(obj(2)->a[3], 0.0f); // nothing is read after q
    EXPECT_NE(out.find("Currently modifying object number:  3 \n"
                       "Enter item, initial value(s), fit switch(es) ==> "),
              std::string::npos);
    EXPECT_NE(out.find("Currently modifying object number:  2 \n"), std::string::npos);
}

TEST_F(ParFile, EditorAddsComponentsWithoutMakingThemCurrent)
{
    // The new moffat is edited only after M 4; until then the sky is.
    std::string out = run_editor(three_objects, "N\nspiral\nmoffat\n3) 1.25 1\nN gaussian\n"
                                                "M 4\n3) 19 1\nq\n");
    ASSERT_EQ(count_list(), 5);
    EXPECT_STREQ(obj(4)->objtype, "moffat");
    EXPECT_STREQ(obj(5)->objtype, "gaussian");
    EXPECT_EQ(obj(3)->a[3], 1.25f);
    EXPECT_EQ(obj(4)->a[3], 19.0f);
    EXPECT_EQ(obj(5)->a[3], 0.0f);
    size_t first = out.find("\nEnter new object name: ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find("\nEnter new object name: ", first + 1), std::string::npos);
    EXPECT_EQ(out.find("Currently modifying object number:  5"), std::string::npos) << out;
}

TEST_F(ParFile, EditorStartsAtARealComponentAfterAnUnknownLastType)
{
    // The last block of the file has a type that does not exist: the
    // editor edits the component before it.
    std::string out = run_editor("S) 1\n0) sersic\n3) 18 1\n0) spiral\n3) 99 1\n", "4) 5 1\nq\n");
    ASSERT_EQ(count_list(), 1);
    EXPECT_EQ(head.a[3], 18.0f);
    EXPECT_EQ(head.a[4], 5.0f);
    EXPECT_NE(out.find("Currently modifying object number:  1 \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("No object number"), std::string::npos) << out;
}

TEST_F(ParFile, EditorRangeChecksItsCommands)
{
    std::string out = run_editor(three_objects, "M 7\nM 0\nX 0\nX 4\n1) 2.5 0\nq\n");
    ASSERT_EQ(count_list(), 3);
    EXPECT_EQ(obj(3)->a[1], 2.5f); // still editing the sky
    EXPECT_EQ(obj(3)->ia[1], 0);
    EXPECT_NE(out.find("no object number 7"), std::string::npos);
    EXPECT_NE(out.find("no object number 4"), std::string::npos);
}

TEST_F(ParFile, EditorEndsAtEndOfInput)
{
    // No q: the editor stops when standard input ends.
    run_editor(three_objects, "M 1\n4) 6 1");
    EXPECT_EQ(obj(1)->a[4], 6.0f);

    // End of input at the type prompt adds nothing.
    free_objects(&head);
    head = fitpars{};
    sample = sampars{};
    totnobj = 0;
    std::string out = run_editor(three_objects, "N\n");
    EXPECT_EQ(count_list(), 3);
    EXPECT_NE(out.find("Enter new object name: "), std::string::npos);
}

TEST_F(ParFile, EditorRedisplaysReadsFurtherFilesAndHelps)
{
    spit(dir.file("more.param"), "0) psf\n1) 40 41 1 1\n3) 20 1\n");
    std::string keys = "r\nT\n" + dir.file("more.param") + "\n3) 21 1\nT\n" +
                       dir.file("missing.param") + "\nY\nq\n";
    std::string out = run_editor(three_objects, keys);
    ASSERT_EQ(count_list(), 4);
    EXPECT_STREQ(obj(4)->objtype, "psf");
    EXPECT_EQ(obj(4)->a[3], 21.0f); // current after T is the last one read
    const std::string sep = "# IMAGE and TORVEX CONTROL PARAMETERS\n";
    size_t first = out.find(sep);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find(sep, first + 1), std::string::npos); // r shows it again
    EXPECT_NE(out.find("\nError reading template parameter file....\n"
                       "Enter in the parameters manually. \n"),
              std::string::npos);
    EXPECT_NE(out.find("\nYour options are: \n"
                       "  [ ] Enter parameter number/letter followed by value(s)\n"
                       "  [M number] Modify object number parameters \n"
                       "  [N] Add new object \n"
                       "  [R] Redisplay the parameter menu \n"
                       "  [T] Read in initial parameter template file \n"
                       "  [X number] Delete object number \n"
                       "  [Q] Quit menu and go on to fitting \n\n"),
              std::string::npos);
}

TEST_F(ParFile, MenuShownOnceWithoutTheEditor)
{
    std::string out = run_editor("0) sersic\n", "M 1\n3) 5 1\nq\n");
    EXPECT_EQ(head.a[3], 0.0f); // interact is 0: standard input is not read
    EXPECT_EQ(out.find("Enter item"), std::string::npos);
    EXPECT_EQ(out, "\n" + menu_text(input, head));
}

// ---- the program on real files -------------------------------------------

// torvex with the arguments and the keys typed on standard input.
ProgramRun run_torvex(const ScratchDir &dir, const std::string &args, const std::string &keys)
{
    return run_in(dir, "'" TORVEX_BIN "' " + args, &keys);
}

const std::string banner = "\nTORVEX Version 1.0\n\n";

TEST(Torvex, PrintsBannerAndMenuOfAParameterFile)
{
    ScratchDir dir;
    spit(dir.file("all.param"), slurp(TEST_DATA "/all_types.param"));
    ProgramRun r = run_torvex(dir, "all.param", "");
    EXPECT_EQ(r.err, "");
    // One newline per component read, then the menu; the run itself
    // follows (tested with the create-only runs).
    std::string start =
        banner + std::string(9, '\n') + slurp(TEST_DATA "/menu_all_types_plain.txt");
    EXPECT_EQ(r.out.substr(0, start.size()), start);
}

TEST(Torvex, ExampleFilePrintsItsOwnText)
{
    ScratchDir dir;
    std::string example = slurp(EXAMPLE_PARAM);
    spit(dir.file("example.param"), example);
    ProgramRun r = run_torvex(dir, "example.param", "");
    std::string body = example.substr(example.find("===="));
    std::string start = banner + "\n\n\n" + "\n\n" + body;
    EXPECT_EQ(r.out.substr(0, start.size()), start);
}

TEST(Torvex, RefusesFilesItCannotUse)
{
    ScratchDir dir;
    ProgramRun r = run_torvex(dir, "missing.param", "");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("cannot open the parameter file \"missing.param\""), std::string::npos);
    EXPECT_EQ(r.out.find("IMAGE and TORVEX"), std::string::npos);

    r = run_torvex(dir, std::string(FILENAME_LEN + 1, 'p'), "");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("longer than 1024"), std::string::npos);
}

TEST(Torvex, PromptsForAFileAndEditsWithoutOne)
{
    ScratchDir dir;
    spit(dir.file("one.param"), "B) out.fits\n0) sersic\n4) 3 1\n5) 2 1\nO) regular\n");
    // An empty answer, then end of input: menu, one prompt, clean end of
    // the editor.  Without a component there is nothing to render (status
    // 1); without a fit region (H) the runs with one end with status 2.  The
    // plain display is chosen in each: the default one needs an X display.
    ProgramRun r = run_torvex(dir, "", "\nO) regular\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("-- The parameter file gives no component"), std::string::npos);
    EXPECT_NE(r.out.find("Enter template file name: "), std::string::npos);
    EXPECT_NE(r.out.find("S) 1 "), std::string::npos);
    EXPECT_NE(r.out.find("Currently modifying object number:  0 \n"), std::string::npos);

    // A named file, then an edit and a redisplay.
    r = run_torvex(dir, "", "one.param\n3) 17.25 1\nr\nq\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find(" 3) 17.2500    1       #  total magnitude \n"), std::string::npos);

    // A name typed at the prompt that does not open leaves the editor on.
    r = run_torvex(dir, "", "nothere.param\nN sky\nB) out.fits\nO) regular\nq\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("\nError reading template parameter file....\n"), std::string::npos);
}

// On a terminal the prompts must show before torvex waits for an answer.
TEST(Torvex, EditorPromptsOnATerminal)
{
    ScratchDir dir;
    // A complete run: the model of the edited component over the region.
    spit(dir.file("one.param"), "B) out.fits\nH) 1 20 1 20\nO) regular\n0) sersic\n"
                                "1) 10 10 1 1\n4) 3 1\n5) 2 1\n8) 0.8 1\n");
    std::string done = dir.file("done");
    spit(dir.file("run.sh"),
         "cd '" + dir.path() + "' && '" TORVEX_BIN "'; echo status=$? > '" + done + "'\n");
    Tmux t(dir);
    t.start("w", dir.file("run.sh"));
    ASSERT_TRUE(t.wait_for("w", "Enter template file name:")) << t.screen("w");
    t.keys("w", "one.param", true);
    ASSERT_TRUE(t.wait_for("w", "Enter item, initial value(s), fit switch(es) ==>"))
        << t.screen("w");
    t.keys("w", "M 1", true);
    t.keys("w", "3) 16.5 1", true);
    t.keys("w", "r", true);
    ASSERT_TRUE(t.wait_for("w", " 3) 16.5000    1")) << t.screen("w");
    t.keys("w", "q", true);
    wait_until([&] { return !slurp(done).empty(); });
    EXPECT_EQ(slurp(done), "status=0\n");
}

} // namespace
