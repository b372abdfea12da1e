// The program's option set end to end: echo, option table, usage text,
// configuration files and exit statuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/fits.h"
#include "program.h"

namespace {

using dornel_test::has;
using dornel_test::kBin;

const char *const kUsage = "    -s, --spline <FLAG>                  [false]\n"
                           "        spline \n\n"
                           "    -g, --galcenter <INTARRAY>           [1070,1077]\n"
                           "        galaxy center (spline) \n\n"
                           "    -o, --order <INT>                    [2]\n"
                           "        order \n\n"
                           "    -r, --radius <INT>                   [0]\n"
                           "        cutting radius \n\n"
                           "    -i, --intervall <INT>                [8]\n"
                           "        intervall (spline) \n\n"
                           "    -m, --medrad <INT>                   [0]\n"
                           "        median radius (spline) \n\n"
                           "    -v, --verbose <INT>                  [0]\n"
                           "        verbose level \n\n"
                           "    -n, --nan <FLOAT>                    [0.]\n"
                           "        not a number \n\n"
                           "    -k, --kappa <DOUBLE>                 [0.]\n"
                           "        kappa (spline) \n\n"
                           "    -t, --tresh <DOUBLE>                 [1000.]\n"
                           "        treshold \n\n"
                           "    -p, --prefix <STRING>                [s]\n"
                           "        prefix prefix \n\n"
                           "    --read_config_file <STRING>          []\n"
                           "        input config filename \n\n"
                           "    --write_config_file <STRING>         []\n"
                           "        output config filename \n\n";

// One row of the option table: name, short letter, default, value.
std::string row(const char *name, char letter, const std::string &def, const std::string &value)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-16s | %c | %26s | ", name, letter, def.c_str());
    return buf + value + "\n";
}

// The table of the built-in settings (names in alphabetical order).
std::string builtinTable()
{
    return row("galcenter", 'g', "1070,1077", "1070,1077") + row("intervall", 'i', "8", "8") +
           row("kappa", 'k', "0.", "0") + row("medrad", 'm', "0", "0") +
           row("nan", 'n', "0.", "0") + row("order", 'o', "2", "2") + row("prefix", 'p', "s", "s") +
           row("radius", 'r', "0", "0") + row("read_config_file", ' ', "", "") +
           row("spline", 's', "false", "FALSE") + row("tresh", 't', "1000.", "1000") +
           row("verbose", 'v', "0", "0") + row("write_config_file", ' ', "", "");
}

class Options : public ::testing::Test {
protected:
    test_common::ProgramRun run(const std::string &args)
    {
        return test_common::run_in(scratch, "'" + kBin + "' " + args);
    }
    test_common::ScratchDir scratch;
};

} // namespace

TEST_F(Options, WithoutArgumentsPrintsTableAndUsageAndEnds255)
{
    const test_common::ProgramRun o = run("");
    EXPECT_EQ(255, o.status);
    EXPECT_EQ("\n" + kBin + " \n\n" + builtinTable() + "\n", o.out);
    EXPECT_EQ(0u, o.err.find(kUsage)) << o.err;
    EXPECT_GT(o.err.size(), std::string(kUsage).size()); // and the banner
}

TEST_F(Options, WithoutFilesPrintsUsageAndEnds1)
{
    const test_common::ProgramRun o = run("-o 3 -k 2.5");
    EXPECT_EQ(1, o.status);
    std::string table = builtinTable();
    table.replace(table.find(row("order", 'o', "2", "2")), row("order", 'o', "2", "2").size(),
                  row("order", 'o', "2", "3"));
    table.replace(table.find(row("kappa", 'k', "0.", "0")), row("kappa", 'k', "0.", "0").size(),
                  row("kappa", 'k', "0.", "2.5"));
    EXPECT_EQ("\n" + kBin + " -o 3 -k 2.5 \n\n" + table + "\n" + kUsage +
                  "Error: Please enter input file!\n",
              o.out);
}

TEST_F(Options, ConfigurationFileGivesTheDefaultsOfTheCommandLine)
{
    test_common::spit(scratch.file("run.cfg"),
                      "# settings\n"
                      "kappa = 2.123456789   # more digits than the table shows\n"
                      "spline = true\n"
                      "galcenter = 5,6\n"
                      "tresh=1234.56789\n"
                      "nan = 0.1\n"
                      "prefix = \"sub_\"\n"
                      "write_config_file = never.cfg\n");
    test_common::ProgramRun o = run("--read_config_file run.cfg");
    EXPECT_EQ(1, o.status);
    EXPECT_TRUE(has(o.out, "reading config file: run.cfg\n\n")) << o.out;
    // The defaults carry every digit of the file; the value column shows six.
    EXPECT_TRUE(has(o.out, row("kappa", 'k', "2.123456789", "2.12346"))) << o.out;
    EXPECT_TRUE(has(o.out, row("spline", 's', "true", "TRUE"))) << o.out;
    EXPECT_TRUE(has(o.out, row("galcenter", 'g', "5, 6", "5,6"))) << o.out;
    EXPECT_TRUE(has(o.out, row("tresh", 't', "1234.56789", "1234.57"))) << o.out;
    EXPECT_TRUE(has(o.out, row("nan", 'n', "0.1", "0.1"))) << o.out;
    EXPECT_TRUE(has(o.out, row("prefix", 'p', "sub_", "sub_"))) << o.out;
    EXPECT_TRUE(has(o.out, row("write_config_file", ' ', "", ""))) << o.out;
    EXPECT_FALSE(test_common::exists(scratch.file("never.cfg")));

    // The run has the values as written: a configuration written from it
    // holds them unchanged.
    o = run("--read_config_file run.cfg --write_config_file again.cfg");
    const std::string again = test_common::slurp(scratch.file("again.cfg"));
    EXPECT_TRUE(has(again, "kappa\t= 2.123456789\t")) << again;
    EXPECT_TRUE(has(again, "tresh\t= 1234.56789\t")) << again;
    EXPECT_TRUE(has(again, "nan\t= 0.1\t")) << again;

    // The flag toggles the value that came from the file; the command line wins.
    o = run("--read_config_file run.cfg -s -k 1 --read_config_file run.cfg");
    EXPECT_TRUE(has(o.out, row("spline", 's', "true", "FALSE"))) << o.out;
    EXPECT_TRUE(has(o.out, row("kappa", 'k', "2.123456789", "1"))) << o.out;
    EXPECT_TRUE(has(o.out, row("read_config_file", ' ', "", "run.cfg"))) << o.out;

    // Without a file the flag turns spline mode on.
    o = run("-s");
    EXPECT_TRUE(has(o.out, row("spline", 's', "false", "TRUE"))) << o.out;
}

TEST_F(Options, WrittenConfigurationReadsBackToTheSameSettings)
{
    const test_common::ProgramRun first = run("-o 3 -r 2 -k 2.5 -n -1 -p pre_ -g 100,200 -i 5 -m 2 "
                                              "-v 1 -t 900 -s --write_config_file out.cfg");
    EXPECT_EQ(1, first.status);
    EXPECT_TRUE(has(first.out, "writing config file: out.cfg\n\n")) << first.out;
    EXPECT_EQ("spline\t= TRUE\t# spline\n"
              "galcenter\t= 100,200\t# galaxy center (spline)\n"
              "order\t= 3\t# order\n"
              "radius\t= 2\t# cutting radius\n"
              "intervall\t= 5\t# intervall (spline)\n"
              "medrad\t= 2\t# median radius (spline)\n"
              "verbose\t= 1\t# verbose level\n"
              "nan\t= -1\t# not a number\n"
              "kappa\t= 2.5\t# kappa (spline)\n"
              "tresh\t= 900\t# treshold\n"
              "prefix\t= pre_\t# prefix prefix\n"
              "read_config_file\t= \t# input config filename\n"
              "write_config_file\t= out.cfg\t# output config filename\n",
              test_common::slurp(scratch.file("out.cfg")));

    const test_common::ProgramRun second = run("--read_config_file out.cfg");
    // Every value of the table is the same; only the file names differ.
    const auto values = [](const std::string &out) {
        std::string rows;
        std::size_t pos = 0;
        while ((pos = out.find(" | ", pos)) != std::string::npos) {
            const std::size_t start = out.rfind('\n', pos) + 1, end = out.find('\n', pos);
            const std::string line = out.substr(start, end - start);
            if (!has(line, "config_file"))
                rows += line.substr(line.rfind(" | ")) + "\n";
            pos = end;
        }
        return rows;
    };
    EXPECT_EQ(values(first.out), values(second.out));
    EXPECT_TRUE(has(second.out, row("write_config_file", ' ', "", ""))) << second.out;
}

TEST_F(Options, ErrorsAndTheirStatuses)
{
    test_common::spit(scratch.file("unknown.cfg"), "order = 3\nspeed = 2\n");
    test_common::spit(scratch.file("three.cfg"), "galcenter = 1,2,3\n");
    struct Case {
        const char *args;
        int status;
        const char *stream; // "out" or "err"
        const char *text;
    };
    const Case cases[] = {
        {"--read_config_file", 1, "err", "EXCEPTION: option --read_config_file needs a file name"},
        {"--read_config_file unknown.cfg img.fits", 1, "err",
         "\nEXCEPTION: Configuration file unknown.cfg, line 2 ('speed = 2'): Unknown long option "
         "'speed' encountered!\n"},
        {"--read_config_file three.cfg img.fits", 1, "err",
         "EXCEPTION: Configuration file three.cfg, line 1 ('galcenter = 1,2,3'): Too many "
         "elements in IntArrayOption galcenter!"},
        {"-o -1 img.fits", 1, "err", "Error: option order must not be negative (it is -1)!\n"},
        {"-i -2 img.fits", 1, "err", "Error: option intervall must not be negative (it is -2)!\n"},
        {"-m -3 img.fits", 1, "err", "Error: option medrad must not be negative (it is -3)!\n"},
        {"--write_config_file nodir/x.cfg img.fits", 2, "err",
         "EXCEPTION: Cannot open file nodir/x.cfg for writing\n"},
        {"img.fits", 2, "err",
         "EXCEPTION: FitsException: cannot open file 'img.fits' for reading\n"},
    };
    for (const Case &c : cases) {
        const test_common::ProgramRun o = run(c.args);
        EXPECT_EQ(c.status, o.status) << c.args << "\n" << o.out << o.err;
        EXPECT_TRUE(has(std::string(c.stream) == "out" ? o.out : o.err, c.text)) << c.args << "\n"
                                                                                 << o.out << o.err;
    }
}

TEST_F(Options, UnreadableConfigurationFileReadsAsEmptyWithAWarning)
{
    const test_common::ProgramRun o = run("--read_config_file missing.cfg");
    EXPECT_EQ(1, o.status);
    EXPECT_TRUE(has(o.err, "Warning: cannot open config file missing.cfg")) << o.err;
    // The built-in values come back as texts.
    EXPECT_TRUE(has(o.out, row("galcenter", 'g', "1070, 1077", "1070,1077"))) << o.out;
    EXPECT_TRUE(has(o.out, row("tresh", 't', "1000", "1000"))) << o.out;
    EXPECT_TRUE(has(o.out, row("kappa", 'k', "0", "0"))) << o.out;
}

// A mistyped option or configuration line ends the run before any image is
// read or written: a script must not take a run with other settings than
// those asked for for a success.
TEST_F(Options, BadOptionsAndMalformedConfigurationLinesEndTheRunBeforeAnyImage)
{
    test_common::write_image(scratch.file("img.fits"), 24, 20,
                             [](long x, long y) { return 200.0 + x - y; });
    test_common::write_image(scratch.file("e.img.fits"), 24, 20, [](long, long) { return 1.0; });
    test_common::spit(scratch.file("noequals.cfg"), "kappa = 3\norder 3\n");
    test_common::spit(scratch.file("trailing.cfg"), "order = 3 junk\n");
    test_common::spit(scratch.file("twowords.cfg"), "the order = 3\n");
    test_common::spit(scratch.file("bogus.cfg"), "# settings\nbogus = 1\n");
    test_common::spit(scratch.file("notnumber.cfg"), "order = 3\n\nkappa = x\n");
    test_common::spit(scratch.file("nan.cfg"), "kappa = nan\n");
    struct Case {
        const char *args;
        const char *message;
        bool usage; // printed for a command-line error
    };
    const Case cases[] = {
        {"--spine img.fits", "Caught exception : Unknown long option 'spine' encountered!\n", true},
        {"-o two img.fits", "Caught exception : Value 'two' of option order is not an integer!\n",
         true},
        {"--order=x img.fits", "Caught exception : Unknown long option 'order=x' encountered!\n",
         true},
        // NaN passes every comparison as false: -k nan would clip nothing.
        {"-k nan img.fits", "Caught exception : Value 'nan' of option kappa is not a number!\n",
         true},
        {"--tresh NAN img.fits",
         "Caught exception : Value 'NAN' of option tresh is not a number!\n", true},
        {"-n NaN img.fits", "Caught exception : Value 'NaN' of option nan is not a number!\n",
         true},
        {"--read_config_file noequals.cfg img.fits",
         "\nEXCEPTION: Configuration file noequals.cfg, line 2 ('order 3'): no '=' between name "
         "and value!\n",
         false},
        {"--read_config_file trailing.cfg img.fits",
         "\nEXCEPTION: Configuration file trailing.cfg, line 1 ('order = 3 junk'): text after "
         "the value (a value with blanks stands in double quotes)!\n",
         false},
        {"--read_config_file twowords.cfg img.fits",
         "\nEXCEPTION: Configuration file twowords.cfg, line 1 ('the order = 3'): more than one "
         "word before '='!\n",
         false},
        {"--read_config_file bogus.cfg img.fits",
         "\nEXCEPTION: Configuration file bogus.cfg, line 2 ('bogus = 1'): Unknown long option "
         "'bogus' encountered!\n",
         false},
        {"--read_config_file notnumber.cfg img.fits",
         "\nEXCEPTION: Configuration file notnumber.cfg, line 3 ('kappa = x'): Value 'x' of option "
         "kappa is not a number!\n",
         false},
        {"--read_config_file nan.cfg img.fits",
         "\nEXCEPTION: Configuration file nan.cfg, line 1 ('kappa = nan'): Value 'nan' of option "
         "kappa is not a number!\n",
         false},
    };
    for (const Case &c : cases) {
        const test_common::ProgramRun o = run(c.args);
        EXPECT_EQ(1, o.status) << c.args << "\n" << o.out << o.err;
        EXPECT_TRUE(has(o.err, c.message)) << c.args << "\n" << o.err;
        EXPECT_EQ(c.usage, has(o.out, kUsage)) << c.args << "\n" << o.out;
        EXPECT_FALSE(has(o.out, "Saving file")) << c.args << "\n" << o.out;
        for (const char *output : {"sky_img.fits", "simg.fits", "e.simg.fits", "cut_img.fits"})
            EXPECT_FALSE(test_common::exists(scratch.file(output))) << c.args << ": " << output;
    }
}

// The configuration file is written only once the run is accepted: a run
// refused for its settings or its file names leaves the file as it was.
TEST_F(Options, ARefusedRunLeavesTheConfigurationFileToWriteAsItWas)
{
    test_common::write_image(scratch.file("img.fits"), 24, 20,
                             [](long x, long y) { return 200.0 + x - y; });
    test_common::write_image(scratch.file("e.img.fits"), 24, 20, [](long, long) { return 1.0; });
    const std::string kept = "order = 3\n";
    struct Case {
        const char *args; // after --write_config_file keep.cfg
        const char *message;
    };
    const Case cases[] = {
        {"-p nodir/ img.fits", "Error: the output file nodir/img.fits cannot be written: there is "
                               "no folder nodir!\n"},
        {"-p '' img.fits", "Error: the output file img.fits would overwrite an input file"},
        {"-o -1 img.fits", "Error: option order must not be negative (it is -1)!\n"},
        {"-m -1", "Error: option medrad must not be negative (it is -1)!\n"},
        {"-o two img.fits", "Caught exception : Value 'two' of option order is not an integer!\n"},
    };
    for (const Case &c : cases) {
        test_common::spit(scratch.file("keep.cfg"), kept);
        const test_common::ProgramRun o =
            run("--write_config_file keep.cfg " + std::string(c.args));
        EXPECT_EQ(1, o.status) << c.args << "\n" << o.out << o.err;
        EXPECT_TRUE(has(o.err, c.message)) << c.args << "\n" << o.err;
        EXPECT_FALSE(has(o.out, "writing config file")) << c.args << "\n" << o.out;
        EXPECT_EQ(kept, test_common::slurp(scratch.file("keep.cfg"))) << c.args;
        EXPECT_FALSE(test_common::exists(scratch.file("sky_img.fits"))) << c.args;
    }

    // Accepted, the same run writes it before the first image.
    const test_common::ProgramRun o = run("--write_config_file keep.cfg -o 1 img.fits");
    EXPECT_EQ(0, o.status) << o.out << o.err;
    EXPECT_LT(o.out.find("writing config file: keep.cfg"), o.out.find("Saving file"));
    EXPECT_TRUE(has(test_common::slurp(scratch.file("keep.cfg")), "order\t= 1\t"));
}
