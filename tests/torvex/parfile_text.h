// A parameter file given as text, read as torvex reads one; the text torvex
// writes to a stream, such as the parameter file of its menu.
#ifndef TESTS_TORVEX_PARFILE_TEXT_H
#define TESTS_TORVEX_PARFILE_TEXT_H

#include "torvex/input/menu.h"
#include "torvex/input/read_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// The reader's globals as the program starts: no settings, no components.
inline void reset_reader()
{
    input = inpars{};
    sample = sampars{};
    totnobj = 0;
}

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

// What write(f) writes to the stream f.
template <typename F>
std::string stream_text(F write)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    write(f);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

// The parameter file that menu writes of in and the components from head.
inline std::string menu_text(const inpars &in, const fitpars &head, float xoff = 0, float yoff = 0,
                             float chisq = 0, int ndof = 0)
{
    return stream_text([&](FILE *f) { menu(&in, &head, f, xoff, yoff, chisq, ndof); });
}

#endif
