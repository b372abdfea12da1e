// A parameter file given as text, read as torvex reads one.
#ifndef TESTS_TORVEX_PARFILE_TEXT_H
#define TESTS_TORVEX_PARFILE_TEXT_H

#include "torvex/input/read_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Reads text as a parameter file into input and head; returns what the
// reader printed on standard output.
inline std::string read_parameter_text(const std::string &text, inpars *input, fitpars *head)
{
    FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    testing::internal::CaptureStdout();
    read_template(f, input, head);
    fclose(f);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

#endif
