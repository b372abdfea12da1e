#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "common/scratch.h"
#include "option_fixture.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/option_parser.h"

namespace {

using namespace util;

std::string blanks(int n)
{
    return std::string(static_cast<std::size_t>(n), ' ');
}

class OptionParserTest : public testing::Test {
protected:
    std::string path = uniqueTempPath();
    void TearDown() override { std::remove(path.c_str()); }
};

struct SmallProgram {
    int order = 0;
    std::string config;
    bool quiet = false;
    IntOption orderOption{"order", "2", "order of the polynomial sky fit in each coordinate", 'o',
                          &order};
    StringOption configOption{"read_config_file", "", "input config filename", 0, &config};
    DoubleArrayOption scaleOption{
        "a_very_long_option_name",
        "1,2",
        "The scale factors of the two axes, given as a comma separately, list "
        "of two numbers; see\tthe\nmanual.",
        'l',
        2,
        nullptr};
    BoolOption quietOption{"quiet", "false", "", 'q', &quiet};
    OptionParser parser{nullptr};
    SmallProgram()
    {
        parser.addOption(&orderOption);
        parser.addOption(&configOption);
        parser.addOption(&scaleOption);
        parser.addOption(&quietOption);
    }
};

TEST(OptionParser, UsageListing)
{
    SmallProgram program;
    const std::string expected =
        "    -o, --order <INT>" + blanks(18) + "  [2]\n" + blanks(8) +
        "order of the polynomial sky fit in each coordinate \n\n" +
        "    --read_config_file <STRING>" + blanks(8) + "  []\n" + blanks(8) +
        "input config filename \n\n" + "    -l, --a_very_long_option_name <DOUBLEARRAY>  [1,2]\n" +
        blanks(8) +
        "The scale factors of the two axes, given as a comma separately, \n" + // 71 columns
        blanks(8) + "list of two numbers; see the manual. \n\n" + "    -q, --quiet <FLAG>" +
        blanks(17) + "  [false]\n" + blanks(8) + "\n\n";
    std::ostringstream first, second;
    program.parser.printUsage(first);
    program.parser.printUsage(second);
    EXPECT_EQ(expected, first.str());
    EXPECT_EQ(expected, second.str());
    EXPECT_EQ(
        "The scale factors of the two axes, given as a comma separately, list of two numbers; "
        "see\tthe\nmanual.",
        program.scaleOption.getUsage());
}

TEST(OptionParser, OptionTableAndSummary)
{
    SmallProgram program;
    program.order = 4;
    std::ostringstream table;
    table << program.parser;
    EXPECT_EQ("a_very_long_option_name | l | " + blanks(23) + "1,2 | 1,2\n" + "order" + blanks(11) +
                  " | o | " + blanks(25) + "2 | 4\n" + "quiet" + blanks(11) + " | q | " +
                  blanks(21) + "false | FALSE\n" + "read_config_file |   | " + blanks(26) + " | \n",
              table.str());
    EXPECT_EQ("a_very_long_option_name=1,2; order=4; quiet=FALSE; read_config_file=",
              program.parser.toString(false));
    EXPECT_EQ("a_very_long_option_name=1,2 # " + program.scaleOption.getUsage() +
                  "; order=4 # order of the polynomial sky fit in each coordinate; quiet=FALSE # ; "
                  "read_config_file= # input config filename",
              program.parser.toString(true));

    OptionParser empty(nullptr);
    std::ostringstream nothing;
    nothing << empty;
    empty.printUsage(nothing);
    EXPECT_EQ("", nothing.str());
    EXPECT_EQ(nullptr, empty.getOption("order"));
    EXPECT_EQ(&program.orderOption, program.parser.getOption("order"));
}

TEST_F(OptionParserTest, WrittenConfigurationLayout)
{
    OptionSet set;
    set.parser.writeConfig(path, true, true);
    EXPECT_EQ("verbose\t= FALSE\t# talk more\n"
              "order\t= 2\t# order of the polynomial\n"
              "nan\t= 0\t# blank marker\n"
              "kappa\t= 0\t# clipping factor\n"
              "prefix\t= s\t# prefix of output names\n"
              "galcenter\t= 1070,1077\t# galaxy center\n"
              "weights\t= 1,1,1\t# weights\n"
              "scales\t= 0.5,2\t# scales\n"
              "box\t= 1:10,1:20\t# fit box\n"
              "config\t= \t# config file name\n",
              test_common::slurp(path));
    set.parser.writeConfig(path, false, false);
    EXPECT_EQ(
        "box\t= 1:10,1:20\nconfig\t= \ngalcenter\t= 1070,1077\nkappa\t= 0\nnan\t= 0\norder\t= 2\n"
        "prefix\t= s\nscales\t= 0.5,2\nverbose\t= FALSE\nweights\t= 1,1,1\n",
        test_common::slurp(path));
    EXPECT_EQ("Cannot open file /nonexistent-dir/x.cfg for writing",
              utilError([&] { set.parser.writeConfig("/nonexistent-dir/x.cfg", true, true); }));
}

TEST_F(OptionParserTest, EveryTypeReadsBackUnchanged)
{
    const std::vector<std::vector<std::pair<const char *, const char *>>> settings = {
        {{"verbose", "toggle"},
         {"order", "-17"},
         {"nan", "0.1"},
         {"kappa", "0.33333333333333331"},
         {"prefix", "a b # \"c\"\t d"},
         {"config", "\"leading quote"},
         {"galcenter", "-5,7"},
         {"weights", "0.1,1e-30,3.4e38"},
         {"scales", "1e300,-2.5e-300"},
         {"box", "3:1,-2:2"}},
        {{"prefix", ""},
         {"config", "x\"y"},
         {"kappa", "-0"},
         {"nan", "-inf"},
         {"weights", "inf,-0,1e-45"}},
        {{"prefix", "\""}, {"config", "#"}, {"kappa", "1e-320"}},
    };
    for (const auto &values : settings) {
        OptionSet written;
        for (const auto &v : values)
            written.parser.getOption(v.first)->setValue(v.second);
        for (bool usage : {true, false}) {
            for (bool order : {true, false}) {
                written.parser.writeConfig(path, usage, order);
                OptionSet read;
                ConfigFileReader reader(path);
                read.parser.changeReader(&reader);
                read.parser.parseOptions();
                EXPECT_EQ(written.parser.toString(false), read.parser.toString(false))
                    << test_common::slurp(path);
                EXPECT_EQ(written.prefix, read.prefix);
                EXPECT_EQ(written.config, read.config);
                EXPECT_EQ(written.verbose, read.verbose);
                EXPECT_EQ(std::signbit(written.kappa), std::signbit(read.kappa));
                EXPECT_EQ(written.kappa, read.kappa);
                EXPECT_EQ(written.nan, read.nan);
                for (int i = 0; i < 3; ++i) {
                    EXPECT_EQ(written.weights[i], read.weights[i]);
                    EXPECT_EQ(std::signbit(written.weights[i]), std::signbit(read.weights[i]));
                }
                EXPECT_EQ(written.scales[0], read.scales[0]);
                EXPECT_EQ(written.scales[1], read.scales[1]);
                EXPECT_EQ(written.box.toString(), read.box.toString());
            }
        }
    }
}

TEST_F(OptionParserTest, ValuesThatCannotBeWrittenLeaveNoFile)
{
    OptionSet set;
    set.parser.getOption("prefix")->setValue("two\nlines");
    EXPECT_EQ(
        "Value of option prefix holds a line end and cannot be written to a configuration file!",
        utilError([&] { set.parser.writeConfig(path, true, true); }));
    EXPECT_FALSE(std::ifstream(path).is_open());
}

TEST_F(OptionParserTest, UsageTextsStayOnTheirCommentLine)
{
    int value = 0;
    IntOption option("order", "2", "first line\norder = 9", 'o', &value);
    OptionParser parser(nullptr);
    parser.addOption(&option);
    parser.writeConfig(path, true, true);
    EXPECT_EQ("order\t= 2\t# first line order = 9\n", test_common::slurp(path));
}

TEST(OptionParser, LaterRegistrationsReplaceLookups)
{
    int first = 0, second = 0;
    IntOption a("order", "1", "first", 'o', &first);
    IntOption b("order", "2", "second", 'r', &second);
    OptionParser parser(nullptr);
    parser.addOption(&a);
    parser.addOption(&b);
    const char *words[] = {"prog", "--order", "5", "-o", "6", "-r", "7"};
    CommandLineReader reader(7, words);
    parser.changeReader(&reader);
    parser.parseOptions();
    EXPECT_EQ(6, first); // still reachable through its character
    EXPECT_EQ(7, second);
    std::ostringstream table, usage;
    table << parser;
    parser.printUsage(usage);
    EXPECT_EQ("order" + blanks(11) + " | r | " + blanks(25) + "2 | 7\n", table.str());
    EXPECT_NE(std::string::npos, usage.str().find("-o, --order"));
    EXPECT_NE(std::string::npos, usage.str().find("-r, --order"));
}

TEST(OptionParser, DeleteOptionsFreesEachOnceAndForgetsThem)
{
    OptionParser parser(nullptr);
    int bound[2] = {0, 0};
    parser.addOption(new IntArrayOption("galcenter", "1,2", "", 'g', 2, bound));
    parser.addOption(
        new IntArrayOption("galcenter", "3,4", "", 'g', 2, bound)); // replaces the lookup
    Option *flag = new BoolOption("verbose", "false", "", 'v', nullptr);
    parser.addOption(flag);
    parser.addOption(flag); // registered twice
    OptionParser copy(parser);
    EXPECT_EQ(flag, copy.getOption("verbose"));
    parser.deleteOptions();
    EXPECT_EQ(nullptr, parser.getOption("verbose"));
    std::ostringstream out;
    out << parser;
    parser.printUsage(out);
    EXPECT_EQ("", out.str());
}

} // namespace
