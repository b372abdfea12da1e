// Runs the small option program end to end in a temporary folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/program.h"
#include "common/scratch.h"

namespace {

struct Outcome {
    std::string out; // standard output and error as they came
    int status;
};

Outcome run(const test_common::ScratchDir &dir, const std::string &arguments)
{
    const test_common::ProgramRun r =
        test_common::run_in(dir, std::string(OPTION_DEMO) + " " + arguments + " 2>&1");
    return {r.out, r.status};
}

// The table rows of all options but the two file names.
std::string settingsRows(const std::string &out)
{
    std::string rows;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(pos, end - pos);
        if (line.find(" | ") != std::string::npos && line.find("_config_file") == std::string::npos)
            rows += line + "\n";
        pos = end + 1;
    }
    return rows;
}

TEST(OptionProgram, ConfigurationWrittenAndReadBack)
{
    const test_common::ScratchDir dir;
    const std::string config = dir.file("run.cfg");

    const Outcome first =
        run(dir, "-s -o 3 -n 0.1 -k 0.333333333333 -p 'a b # c' -g 5,-6 -w 0.25,1e-7 "
                 "-c 1e300 -b 9:2,4 --write_config_file " +
                     config + " image.fits");
    ASSERT_EQ(0, first.status) << first.out;
    EXPECT_NE(std::string::npos, first.out.find("file: image.fits"));
    EXPECT_NE(std::string::npos,
              first.out.find("prefix           | p |                          s | a b # c\n"));
    EXPECT_NE(std::string::npos,
              first.out.find("kappa            | k |                         0. | 0.333333\n"));

    const Outcome second = run(dir, "--read_config_file " + config + " image.fits");
    ASSERT_EQ(0, second.status) << second.out;
    EXPECT_EQ(settingsRows(first.out), settingsRows(second.out));

    // The flag toggles the value read from the file.
    const Outcome third = run(dir, "--read_config_file " + config + " -s image.fits");
    EXPECT_NE(std::string::npos,
              third.out.find("spline           | s |                      false | FALSE\n"));

    const Outcome usage = run(dir, "");
    EXPECT_EQ(1, usage.status);
    EXPECT_NE(std::string::npos, usage.out.find("    -o, --order <INT>                    [2]\n"));

    const Outcome bad = run(dir, "-o two image.fits");
    EXPECT_NE(std::string::npos,
              bad.out.find("Caught exception : Value 'two' of option order is not an integer!"));
    EXPECT_NE(std::string::npos, bad.out.find("file: image.fits"));

    std::FILE *broken = std::fopen(config.c_str(), "w");
    std::fputs("order = 3\nspeed = 2\n", broken);
    std::fclose(broken);
    const Outcome unknown = run(dir, "--read_config_file " + config + " image.fits");
    EXPECT_EQ(1, unknown.status);
    EXPECT_NE(std::string::npos,
              unknown.out.find("EXCEPTION: Configuration file " + config +
                               ", line 2 ('speed = 2'): Unknown long option 'speed' encountered!"));
}

} // namespace
