// The option set of the sky program and its two passes: an optional
// configuration file whose values become the defaults of the command line.
#ifndef DORNEL_OPTIONS_H
#define DORNEL_OPTIONS_H

#include <string>

#include "dornel/parameter.h"
#include "util/option_parser.h"

// Number of options, and the default texts of all of them in declaration
// order; start from builtinDefaults().
constexpr int kOptionCount = 13;
struct OptionDefaults {
    std::string text[kOptionCount];
};
OptionDefaults builtinDefaults();

// Creates the thirteen options on the heap, bound to the fields of p, with
// the given default texts, and registers them in table order. The options
// live until the process ends. A util::UException from a declaration ends
// the declarations there and reaches the caller.
void declare_options(util::OptionParser &parser, Parameter &p, const OptionDefaults &defaults);

// The default texts for the command-line pass that carry the values of a
// configuration record; the two file names are never carried over.
OptionDefaults defaults_from(const Parameter &p);

#endif
