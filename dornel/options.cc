#include "dornel/options.h"

#include "dornel/conversions.h"
#include "util/option.h"
#include "util/stringfac.h"

namespace {
enum {
    kSpline,
    kGalcenter,
    kOrder,
    kRadius,
    kIntervall,
    kMedrad,
    kVerbose,
    kNan,
    kKappa,
    kTresh,
    kPrefix,
    kReadConfig,
    kWriteConfig
};
} // namespace

OptionDefaults builtinDefaults()
{
    OptionDefaults d;
    d.text[kSpline] = "false";
    d.text[kGalcenter] = "1070,1077";
    d.text[kOrder] = "2";
    d.text[kRadius] = "0";
    d.text[kIntervall] = "8";
    d.text[kMedrad] = "0";
    d.text[kVerbose] = "0";
    d.text[kNan] = "0.";
    d.text[kKappa] = "0.";
    d.text[kTresh] = "1000.";
    d.text[kPrefix] = "s";
    d.text[kReadConfig] = "";
    d.text[kWriteConfig] = "";
    return d;
}

void declare_options(util::OptionParser &parser, Parameter &p, const OptionDefaults &defaults)
{
    const std::string *t = defaults.text;
    parser.addOption(new util::BoolOption("spline", t[kSpline].c_str(), "spline", 's', &p.spline));
    parser.addOption(new util::IntArrayOption("galcenter", t[kGalcenter].c_str(),
                                              "galaxy center (spline)", 'g', 2, p.galcenter));
    parser.addOption(new util::IntOption("order", t[kOrder].c_str(), "order", 'o', &p.order));
    parser.addOption(
        new util::IntOption("radius", t[kRadius].c_str(), "cutting radius", 'r', &p.radius));
    parser.addOption(new util::IntOption("intervall", t[kIntervall].c_str(), "intervall (spline)",
                                         'i', &p.intervall));
    parser.addOption(new util::IntOption("medrad", t[kMedrad].c_str(), "median radius (spline)",
                                         'm', &p.medrad));
    parser.addOption(
        new util::IntOption("verbose", t[kVerbose].c_str(), "verbose level", 'v', &p.verbose));
    parser.addOption(new util::FloatOption("nan", t[kNan].c_str(), "not a number", 'n', &p.nan));
    parser.addOption(
        new util::DoubleOption("kappa", t[kKappa].c_str(), "kappa (spline)", 'k', &p.kappa));
    parser.addOption(new util::DoubleOption("tresh", t[kTresh].c_str(), "treshold", 't', &p.tresh));
    parser.addOption(
        new util::StringOption("prefix", t[kPrefix].c_str(), "prefix prefix", 'p', &p.prefix));
    parser.addOption(new util::StringOption("read_config_file", t[kReadConfig].c_str(),
                                            "input config filename", 0, &p.read_config_file));
    parser.addOption(new util::StringOption("write_config_file", t[kWriteConfig].c_str(),
                                            "output config filename", 0, &p.write_config_file));
}

OptionDefaults defaults_from(const Parameter &p)
{
    OptionDefaults d;
    d.text[kSpline] = bool2str(p.spline);
    d.text[kGalcenter] = int2str(p.galcenter[0]) + ", " + int2str(p.galcenter[1]);
    d.text[kOrder] = int2str(p.order);
    d.text[kRadius] = int2str(p.radius);
    d.text[kIntervall] = int2str(p.intervall);
    d.text[kMedrad] = int2str(p.medrad);
    d.text[kVerbose] = int2str(p.verbose);
    // The values must reach the command-line pass unchanged: six digits
    // (double2str) where they say all, more where they do not.
    d.text[kNan] = util::exactText(p.nan);
    d.text[kKappa] = util::exactText(p.kappa);
    d.text[kTresh] = util::exactText(p.tresh);
    d.text[kPrefix] = p.prefix;
    d.text[kReadConfig] = "";
    d.text[kWriteConfig] = "";
    return d;
}
