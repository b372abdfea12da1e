#include <gtest/gtest.h>

#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "common/scratch.h"
#include "option_fixture.h"
#include "util/command_line_reader.h"
#include "util/config_file_reader.h"

namespace {

using namespace util;

struct ParseResult {
    std::string settings; // parser.toString(false) after parsing
    std::vector<std::string> files;
    std::string error;
};

ParseResult parseWords(std::vector<const char *> words)
{
    OptionSet set;
    CommandLineReader reader(static_cast<int>(words.size()), words.data());
    set.parser.changeReader(&reader);
    ParseResult result;
    result.error = utilError([&] { set.parser.parseOptions(); });
    result.settings = set.parser.toString(false);
    result.files = reader.fileArgumentsVector();
    return result;
}

const std::string defaults =
    "box=1:10,1:20; config=; galcenter=1070,1077; kappa=0; nan=0; order=2; prefix=s; "
    "scales=0.5,2; verbose=FALSE; weights=1,1,1";

// The default settings with some values changed.
std::string with(const std::vector<std::pair<std::string, std::string>> &changes)
{
    std::string text = defaults;
    for (const auto &change : changes) {
        const std::size_t at = text.find(change.first + "=");
        const std::size_t end = text.find(';', at);
        text.replace(at, (end == std::string::npos ? text.size() : end) - at,
                     change.first + "=" + change.second);
    }
    return text;
}

TEST(CommandLineReader, ArgumentVectorsToSettings)
{
    struct Case {
        std::vector<const char *> words;
        std::vector<std::pair<std::string, std::string>> changes;
        std::vector<std::string> files;
        std::string error;
    };
    const Case cases[] = {
        {{"prog"}, {}, {}, ""},
        {{"prog", "a.fits", "-o", "3"}, {}, {"a.fits", "-o", "3"}, ""},
        {{"prog", "-o", "3", "--kappa", "-1.5", "-v", "a.fits", "-b.fits"},
         {{"order", "3"}, {"kappa", "-1.5"}, {"verbose", "TRUE"}},
         {"a.fits", "-b.fits"},
         ""},
        {{"prog", "--order", "4", "-v", "-v", "x"}, {{"order", "4"}}, {"x"}, ""},
        {{"prog", "-v", "file"}, {{"verbose", "TRUE"}}, {"file"}, ""},
        {{"prog", "-order", "5", "--o", "6", "--o", "7"}, {{"order", "7"}}, {}, ""},
        {{"prog", "-k", ".5", "-n", "-.25"}, {{"kappa", "0.5"}, {"nan", "-0.25"}}, {}, ""},
        {{"prog", "-p", "my prefix", "-b", "5:2,3", "f"},
         {{"prefix", "my prefix"}, {"box", "2:5,0:3"}},
         {"f"},
         ""},
        {{"prog", "-o"}, {}, {}, "No more argument values left!"},
        {{"prog", "-o", "-x", "f"},
         {},
         {"-x", "f"},
         "Token '-x' does not seem like a valid value!"},
        {{"prog", "-o", "-"}, {}, {"-"}, "Token '-' does not seem like a valid value!"},
        {{"prog", "-"}, {}, {"-"}, "Token '-' not an argument specifier!"},
        {{"prog", "--", "f"}, {}, {"--", "f"}, "Token '--' not an argument specifier!"},
        {{"prog", "-o", "3", "--", "f"},
         {{"order", "3"}},
         {"--", "f"},
         "Token '--' not an argument specifier!"},
        {{"prog", "-o\t1"}, {}, {"-o\t1"}, "Token '-o\t1' not an argument specifier!"},
        {{"prog", "-q", "1"}, {}, {"1"}, "Unknown short option 'q' encountered!"},
        {{"prog", "--orderx", "1"}, {}, {"1"}, "Unknown long option 'orderx' encountered!"},
        {{"prog", "-vo", "1"}, {}, {"1"}, "Unknown long option 'vo' encountered!"},
        {{"prog", "--order=3"}, {}, {}, "Unknown long option 'order=3' encountered!"},
        {{"prog", "-o", "two", "f"}, {}, {"f"}, "Value 'two' of option order is not an integer!"},
        {{"prog", "-g", "5,6,7"},
         {{"galcenter", "5,6"}},
         {},
         "Too many elements in IntArrayOption galcenter!"},
        {{"prog", "-p", "Müller", "--naïve", "x"},
         {{"prefix", "Müller"}},
         {"x"},
         "Unknown long option 'naïve' encountered!"},
    };
    for (const Case &c : cases) {
        const ParseResult r = parseWords(c.words);
        const std::string where = c.words.size() > 1 ? c.words[1] : "(none)";
        EXPECT_EQ(c.error, r.error) << where;
        EXPECT_EQ(c.files, r.files) << where;
        EXPECT_EQ(with(c.changes), r.settings) << where;
    }
}

TEST(CommandLineReader, WordsAndProgramName)
{
    const char *words[] = {"/usr/local/bin/dornel", "-v", "a", "b"};
    CommandLineReader reader(4, words);
    EXPECT_EQ("dornel", reader.progName());
    EXPECT_FALSE(reader.done());
    EXPECT_EQ("v", reader.nextOptionName());
    BoolOption flag("verbose", "false", "", 'v', nullptr);
    EXPECT_EQ("toggle", reader.nextOptionValue(&flag));
    EXPECT_TRUE(reader.done());
    EXPECT_EQ((std::list<std::string>{"a", "b"}), reader.fileArguments());
    EXPECT_TRUE(reader.fileArguments().empty());
    EXPECT_EQ("No more arguments left!", utilError([&] { reader.nextOptionName(); }));

    const char *plain[] = {"dornel"};
    CommandLineReader alone(1, plain);
    EXPECT_TRUE(alone.done());
    EXPECT_EQ("dornel", alone.progName());
}

TEST(ConfigFileReader, LinesToNamesAndValues)
{
    struct Case {
        const char *line;
        const char *name; // nullptr: the line is skipped or refused
        const char *value;
        const char *error; // why the line is refused, "" when it is not
    };
    const char *const noEquals = "no '=' between name and value!";
    const char *const trailing =
        "text after the value (a value with blanks stands in double quotes)!";
    const Case cases[] = {
        {"order = 3", "order", "3", ""},
        {"  order=3  # comment", "order", "3", ""},
        {"order\t=\t3\r", "order", "3", ""},
        {"o = 3", "o", "3", ""},
        {"order =", "order", "", ""},
        {"order =   # nothing", "order", "", ""},
        {"order = 3#4", "order", "3", ""},
        {"prefix = x=y", "prefix", "x=y", ""},
        {"prefix = \"a b\"", "prefix", "a b", ""},
        {"prefix = \"a # b\"  # comment", "prefix", "a # b", ""},
        {"prefix = \"a # b", "prefix", "a ", ""},
        {"prefix=\"unterminated", "prefix", "unterminated", ""},
        {"prefix = \"say \"\"hi\"\"\"", "prefix", "say \"hi\"", ""},
        {"prefix = \"\"\"lead\"", "prefix", "\"lead", ""},
        {"prefix = \"\"", "prefix", "", ""},
        {"prefix = Ünïcødé", "prefix", "Ünïcødé", ""},
        {"präfix = 1", "präfix", "1", ""},
        {"# order = 3", nullptr, nullptr, ""},
        {"   \t\r", nullptr, nullptr, ""},
        {"", nullptr, nullptr, ""},
        // A setting that would be dropped or cut short without a word.
        {"order 3", nullptr, nullptr, noEquals},
        {"order # = 3", nullptr, nullptr, noEquals},
        {"order = 3 junk", nullptr, nullptr, trailing},
        {"prefix = a b", nullptr, nullptr, trailing},
        {"prefix = \"a b\" tail", nullptr, nullptr, trailing},
        {"two words = 3", nullptr, nullptr, "more than one word before '='!"},
        {" = 3", nullptr, nullptr, "no name before '='!"},
    };
    for (const Case &c : cases) {
        std::string name = "?", value = "?";
        bool found = false;
        EXPECT_EQ(c.error,
                  utilError([&] { found = ConfigFileReader::parseLine(c.line, name, value); }))
            << c.line;
        EXPECT_EQ(c.name != nullptr, found) << c.line;
        if (c.name && found) {
            EXPECT_EQ(c.name, name) << c.line;
            EXPECT_EQ(c.value, value) << c.line;
        }
    }
}

class ConfigFile : public testing::Test {
protected:
    std::string path = uniqueTempPath();
    void write(const std::string &text) { test_common::spit(path, text); }
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(ConfigFile, SetsOptionsInFileOrder)
{
    write("# settings\n\norder = 3\nverbose = TRUE\nkappa=0.25 # clip\ng = 5\n"
          "  # a comment\norder = 4\nprefix = \"with blank\"\nbox = 7:3,2:9");
    OptionSet set;
    ConfigFileReader reader(path);
    EXPECT_EQ(path, reader.fileName());
    set.parser.changeReader(&reader);
    set.parser.parseOptions();
    EXPECT_TRUE(reader.done());
    EXPECT_EQ(
        "box=3:7,2:9; config=; galcenter=5,1077; kappa=0.25; nan=0; order=4; prefix=with blank; "
        "scales=0.5,2; verbose=TRUE; weights=1,1,1",
        set.parser.toString(false));
}

// A setting the parser refuses names its file and line like a malformed
// line; the settings before it stay, the ones after it are not applied.
TEST_F(ConfigFile, ARefusedSettingStopsParsingNamingFileAndLine)
{
    struct Case {
        const char *line;
        const char *error;
    };
    const Case cases[] = {
        {"speed = 1", "Unknown long option 'speed' encountered!"},
        {"q = 1", "Unknown short option 'q' encountered!"},
        {"kappa = x", "Value 'x' of option kappa is not a number!"},
        {"k = nan\r", "Value 'nan' of option kappa is not a number!"},
        {"nan = 1e39", "Value '1e39' of option nan is out of range!"},
        {"order = 1.5  # comment", "Value '1.5' of option order is not an integer!"},
        {"galcenter = 1,2,3", "Too many elements in IntArrayOption galcenter!"},
    };
    for (const Case &c : cases) {
        std::string shown = c.line;
        if (shown.back() == '\r')
            shown.pop_back();
        // The refused line is read ahead with the one after it.
        write("# settings\norder = 3\n\n" + std::string(c.line) + "\nverbose = TRUE\n");
        OptionSet set;
        ConfigFileReader reader(path);
        set.parser.changeReader(&reader);
        EXPECT_EQ("Configuration file " + path + ", line 4 ('" + shown + "'): " + c.error,
                  utilError([&] { set.parser.parseOptions(); }));
        EXPECT_EQ(3, set.order) << c.line;
        EXPECT_FALSE(set.verbose) << c.line;
    }
}

TEST_F(ConfigFile, AMalformedLineStopsParsingNamingFileAndLine)
{
    write("# settings\norder = 3\r\nkappa 2\r\nverbose = TRUE\n");
    OptionSet set;
    ConfigFileReader reader(path);
    set.parser.changeReader(&reader);
    EXPECT_EQ("Configuration file " + path + ", line 3 ('kappa 2'): no '=' between name and value!",
              utilError([&] { set.parser.parseOptions(); }));
    EXPECT_FALSE(set.verbose);

    // Also when the first setting is the malformed one.
    write("order = 3 4\n");
    EXPECT_EQ("Configuration file " + path +
                  ", line 1 ('order = 3 4'): text after the value (a value with blanks stands in "
                  "double quotes)!",
              utilError([&] { ConfigFileReader first(path); }));

    // A FITS image named by mistake is one line of thousands of bytes, some
    // of them no text: the message quotes the start of it, and a character
    // of several bytes is not cut.
    std::string image = "SIMPLE  =                    T";
    image.resize(80, ' ');
    image += "BITPIX  =                  -32";
    image.resize(2880, ' ');
    image += std::string("\x01\x02\x1b[2J\x7f", 7) + std::string(1000, '\xff');
    const std::string shown = image.substr(0, 80) + "...";
    write(image + "\n");
    EXPECT_EQ("Configuration file " + path + ", line 1 ('" + shown +
                  "'): text after the value (a value with blanks stands in double quotes)!",
              utilError([&] { ConfigFileReader first(path); }));
    write("prefix = \"" + std::string(69, 'a') + "üüüüü\" x\n");
    EXPECT_EQ("Configuration file " + path + ", line 1 ('prefix = \"" + std::string(69, 'a') +
                  "...'): text after the value (a value with blanks stands in double quotes)!",
              utilError([&] { ConfigFileReader first(path); }));
    write("order = 3 \x01\n");
    EXPECT_EQ("Configuration file " + path +
                  ", line 1 ('order = 3 ?'): text after the value (a value with blanks stands in "
                  "double quotes)!",
              utilError([&] { ConfigFileReader first(path); }));
}

TEST_F(ConfigFile, MissingOrEmptyFileSetsNothing)
{
    ConfigFileReader missing(path + ".none");
    EXPECT_TRUE(missing.done());
    EXPECT_EQ("No more arguments left!", utilError([&] { missing.nextOptionName(); }));
    EXPECT_EQ("No more argument values left!",
              utilError([&] { missing.nextOptionValue(nullptr); }));
    write("# only a comment\n\n");
    ConfigFileReader empty(path);
    EXPECT_TRUE(empty.done());
}

} // namespace
