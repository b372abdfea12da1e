#ifndef UTIL_COMMAND_LINE_READER_H
#define UTIL_COMMAND_LINE_READER_H

#include <list>
#include <string>
#include <vector>

#include "util/option_reader.h"

namespace util {

// Reads options from the program's arguments: options first ("--name" or
// "-name"; a one-character name is the short form), each followed by its
// value word unless it is a flag; the first word after an option that does
// not begin with '-' starts the file arguments. The words are not copied and
// must outlive the reader.
class CommandLineReader : public OptionReader {
public:
    CommandLineReader(int argc, const char *const *argv);

    std::string nextOptionName() override;
    std::string nextOptionValue(const Option *option) override;
    bool done() override;

    // The words not read yet; afterwards the reader is at the end.
    std::list<std::string> fileArguments();
    std::vector<std::string> fileArgumentsVector();
    // Word 0 without its directory.
    std::string progName() const;

private:
    int argc_;
    const char *const *argv_;
    int index_;
    bool done_;
};

} // namespace util

#endif
