#ifndef TESTS_UTIL_OPTION_FIXTURE_H
#define TESTS_UTIL_OPTION_FIXTURE_H

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "error_text.h"
#include "util/option.h"
#include "util/option_parser.h"

// A program's settings with one option of every type bound to them.
struct OptionSet {
    bool verbose = false;
    int order = 0;
    float nan = 0;
    double kappa = 0;
    std::string prefix, config;
    int galcenter[2] = {0, 0};
    float weights[3] = {0, 0, 0};
    double scales[2] = {0, 0};
    util::Region box{2};

    std::vector<std::unique_ptr<util::Option>> options;
    util::OptionParser parser{nullptr};

    OptionSet()
    {
        add(new util::BoolOption("verbose", "false", "talk more", 'v', &verbose));
        add(new util::IntOption("order", "2", "order of the polynomial", 'o', &order));
        add(new util::FloatOption("nan", "0.", "blank marker", 'n', &nan));
        add(new util::DoubleOption("kappa", "0.", "clipping factor", 'k', &kappa));
        add(new util::StringOption("prefix", "s", "prefix of output names", 'p', &prefix));
        add(new util::IntArrayOption("galcenter", "1070,1077", "galaxy center", 'g', 2, galcenter));
        add(new util::FloatArrayOption("weights", "1,1,1", "weights", 0, 3, weights));
        add(new util::DoubleArrayOption("scales", "0.5,2", "scales", 0, 2, scales));
        add(new util::RegionArrayOption("box", "1:10,1:20", "fit box", 'b', 2, &box));
        add(new util::StringOption("config", "", "config file name", 0, &config));
    }

    void add(util::Option *option)
    {
        options.emplace_back(option);
        parser.addOption(option);
    }
};

template <class F>
std::string utilError(F f)
{
    return errorText<util::UException>(f);
}

// A file name of its own for the running test (tests run in parallel).
inline std::string uniqueTempPath()
{
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    return testing::TempDir() + "util_" + test->test_suite_name() + "_" + test->name() + "_" +
           std::to_string(getpid()) + ".cfg";
}

#endif
