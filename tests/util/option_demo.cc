// A small program with one option of every type: reads an optional
// configuration file, then the command line, prints the option table,
// writes a configuration file when asked and lists its file arguments.
#include <cstring>
#include <iostream>
#include <list>
#include <string>

#include "util/command_line_reader.h"
#include "util/config_file_reader.h"
#include "util/option_parser.h"

int main(int argc, char **argv)
{
    bool spline = false;
    int order = 0, galcenter[2] = {0, 0};
    float nan = 0, weights[3] = {0, 0, 0};
    double kappa = 0, scales[2] = {0, 0};
    std::string prefix, readConfig, writeConfig;
    util::Region box(2);

    util::BoolOption o1("spline", "false", "spline sky", 's', &spline);
    util::IntOption o2("order", "2", "order of the polynomial sky", 'o', &order);
    util::FloatOption o3("nan", "0.", "blank marker", 'n', &nan);
    util::DoubleOption o4("kappa", "0.", "clipping factor", 'k', &kappa);
    util::StringOption o5("prefix", "s", "prefix of output names", 'p', &prefix);
    util::IntArrayOption o6("galcenter", "1070,1077", "galaxy center", 'g', 2, galcenter);
    util::FloatArrayOption o7("weights", "1,1,1", "weights", 'w', 3, weights);
    util::DoubleArrayOption o8("scales", "0.5,2", "scales", 'c', 2, scales);
    util::RegionArrayOption o9("box", "1:10,1:20", "fit box", 'b', 2, &box);
    util::StringOption o10("read_config_file", "", "input config filename", 0, &readConfig);
    util::StringOption o11("write_config_file", "", "output config filename", 0, &writeConfig);

    util::OptionParser parser(nullptr);
    util::Option *const all[] = {&o1, &o2, &o3, &o4, &o5, &o6, &o7, &o8, &o9, &o10, &o11};
    for (util::Option *option : all)
        parser.addOption(option);

    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--read_config_file") == 0) {
            util::ConfigFileReader file(argv[i + 1]);
            parser.changeReader(&file);
            try {
                parser.parseOptions();
            } catch (const util::UException &e) {
                std::cerr << "EXCEPTION: " << e.what() << std::endl;
                return 1;
            }
        }

    util::CommandLineReader words(argc, argv);
    parser.changeReader(&words);
    try {
        parser.parseOptions();
    } catch (const util::UException &e) {
        std::cerr << "Caught exception : " << e.what() << std::endl;
    }
    std::cout << parser << std::endl;
    try {
        if (!writeConfig.empty())
            parser.writeConfig(writeConfig, true, true);
    } catch (const util::UException &e) {
        std::cerr << "EXCEPTION: " << e.what() << std::endl;
        return 1;
    }
    const std::list<std::string> files = words.fileArguments();
    if (files.empty()) {
        parser.printUsage(std::cout);
        return 1;
    }
    for (const std::string &file : files)
        std::cout << "file: " << file << std::endl;
    return 0;
}
