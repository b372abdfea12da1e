#ifndef TESTS_UTIL_ERROR_TEXT_H
#define TESTS_UTIL_ERROR_TEXT_H

#include <string>

#include "util/uexception.h"

// The message of the exception of type E that f throws, or "" when none.
template <class E = util::UException, class F>
std::string errorText(F f)
{
    try {
        f();
    } catch (const E &e) {
        return e.what();
    }
    return "";
}

#endif
