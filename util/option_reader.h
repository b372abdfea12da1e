#ifndef UTIL_OPTION_READER_H
#define UTIL_OPTION_READER_H

#include <string>

#include "util/option.h"

namespace util {

// A source of option names and value texts for OptionParser.
class OptionReader {
public:
    virtual ~OptionReader() = default;
    virtual std::string nextOptionName() = 0;
    // The value text for the option that the last name selected.
    virtual std::string nextOptionValue(const Option *option) = 0;
    virtual bool done() = 0;
    // The message of an error in the option whose name was delivered last,
    // with where that option came from when the source can say more than the
    // message does (a file and its line); the message itself otherwise.
    virtual std::string located(const std::string &message) const { return message; }

protected:
    OptionReader() = default;
    OptionReader(const OptionReader &) = default;
    OptionReader &operator=(const OptionReader &) = default;
};

} // namespace util

#endif
