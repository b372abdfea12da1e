// The settings of one run of the sky program.
#ifndef DORNEL_PARAMETER_H
#define DORNEL_PARAMETER_H

#include <string>

struct Parameter {
    bool spline = false;       // spline sky instead of the polynomial sky
    int intervall = 0;         // half-width of the first-median bins (spline)
    int verbose = 0;           // verbosity of the spline sky
    int cx = 0;                // galaxy centre handed to the spline sky,
    int cy = 0;                // copied from galcenter for every file
    int medrad = 0;            // half-width of the second median, in bins
    int galcenter[2] = {0, 0}; // galaxy centre (x, y), 1-based pixels
    int order = 0;             // polynomial order in each coordinate
    int radius = 0;            // radius masked around each outlier
    float nan = 0;             // blank-pixel marker (polynomial mode)
    double kappa = 0;          // clipping factor applied to the error image
    double tresh = 0;          // largest pixel value the polynomial fit uses
    std::string prefix;        // prefix of the sky-subtracted image
    std::string current_file;  // input being processed (spline mode)
    std::string read_config_file;
    std::string write_config_file;
};

#endif
