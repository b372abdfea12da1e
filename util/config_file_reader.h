#ifndef UTIL_CONFIG_FILE_READER_H
#define UTIL_CONFIG_FILE_READER_H

#include <fstream>
#include <string>

#include "util/option_reader.h"

namespace util {

// Reads options from a file of lines "name = value"; '#' starts a comment
// (except inside a quoted value), lines without '=' or whose name part is
// not a single word are skipped. A value is the first word after '=', or the
// text between double quotes, where a doubled quote stands for one. A file
// that cannot be opened reads as empty.
class ConfigFileReader : public OptionReader {
public:
    explicit ConfigFileReader(const std::string &fileName);
    ~ConfigFileReader() override;
    ConfigFileReader(const ConfigFileReader &) = delete;
    ConfigFileReader &operator=(const ConfigFileReader &) = delete;

    std::string nextOptionName() override;
    std::string nextOptionValue(const Option *option) override;
    bool done() override { return done_; }
    const std::string &fileName() const { return fileName_; }

    // Name and value of one line; false when the line sets no option.
    static bool parseLine(const std::string &line, std::string &name, std::string &value);

private:
    void readAhead();

    std::string fileName_;
    bool done_;
    std::ifstream in_;
    std::string name_;
    std::string value_;
};

} // namespace util

#endif
