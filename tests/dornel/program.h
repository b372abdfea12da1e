// What the end-to-end tests of the dornel program share: the program's path
// and a look for a part of what it printed.
#ifndef TESTS_DORNEL_PROGRAM_H
#define TESTS_DORNEL_PROGRAM_H

#include <string>

namespace dornel_test {

inline const std::string kBin = DORNEL_BIN;

inline bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

} // namespace dornel_test

#endif
