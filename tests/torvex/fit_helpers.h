// Helpers shared by the tests of the fit: a component list built in place,
// and print functions that keep what torvex prints or send it to standard
// error.
#ifndef TESTS_TORVEX_FIT_HELPERS_H
#define TESTS_TORVEX_FIT_HELPERS_H

#include "torvex/structs.h"

#include "common/scratch.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace fit_test {

inline std::string &printed()
{
    static std::string text;
    return text;
}

// A pfunc that appends to printed().
inline int keep_print(const char *fmt, ...)
{
    va_list ap, ap2;
    va_start(ap, fmt);
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    vsnprintf(buf.data(), buf.size(), fmt, ap2);
    va_end(ap2);
    va_end(ap);
    printed() += buf.data();
    return n;
}

// Routes pfunc into printed() for the life of the object.
class CapturePrint {
public:
    CapturePrint() : saved_(pfunc)
    {
        printed().clear();
        pfunc = keep_print;
    }
    ~CapturePrint() { pfunc = saved_; }
    const std::string &text() const { return printed(); }

private:
    int (*saved_)(const char *, ...);
};

using test_common::ScratchDir;
using test_common::slurp;
using test_common::spit;

// A component list in fixed storage; slots a type does not use get flag -1.
class Components {
public:
    fitpars *add(const char *type, std::initializer_list<float> a = {},
                 std::initializer_list<int> ia = {})
    {
        fitpars *p = used_ == 0 ? &head : new fitpars;
        if (used_ > 0)
            tail_->next = p;
        tail_ = p;
        used_++;
        snprintf(p->objtype, sizeof p->objtype, "%s", type);
        int used_slots = strncmp(type, "sky", 3) == 0 ? 3 : strncmp(type, "psf", 3) == 0 ? 3 : 10;
        for (int s = 1; s <= 10; s++)
            p->ia[s] = s <= used_slots ? 0 : -1;
        if (strncmp(type, "sersic", 6) == 0 || strncmp(type, "devauc", 6) == 0) {
            p->ia[6] = p->ia[7] = -1;
        }
        int s = 1;
        for (float v : a)
            p->a[s++] = v;
        s = 1;
        for (int f : ia)
            p->ia[s++] = f;
        sample.nobjs = used_;
        return p;
    }
    ~Components()
    {
        fitpars *p = head.next;
        while (p) {
            fitpars *n = p->next;
            delete p;
            p = n;
        }
    }
    int count() const { return used_; }

    fitpars head;

private:
    fitpars *tail_ = nullptr;
    int used_ = 0;
};

} // namespace fit_test

// A print function that sends torvex's messages to standard error, where
// death tests look for them.
inline int print_to_stderr(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vfprintf(stderr, fmt, ap);
    va_end(ap);
    return n;
}

// The program's state at the output stage of a fit of the region
// [101:140,51:80] of data into output, started from gal.param with the sky
// centre at (20.5, 15.5); torvex prints to standard error.
inline void output_stage(const std::string &data, const std::string &output)
{
    pfunc = print_to_stderr;
    input = inpars{};
    strcpy(input.initparfile, "gal.param");
    strcpy(input.data, data.c_str());
    strcpy(input.output, output.c_str());
    strcpy(input.imgsect, "[101:140,51:80]");
    xskycent = 20.5f;
    yskycent = 15.5f;
}

#endif
