#ifndef UTIL_CONFIG_FILE_READER_H
#define UTIL_CONFIG_FILE_READER_H

#include <fstream>
#include <string>

#include "util/option_reader.h"

namespace util {

// Reads options from a file of lines "name = value"; '#' starts a comment
// (except inside a quoted value), and blank and comment lines are skipped. A
// value is one word after '=', or the text between double quotes, where a
// doubled quote stands for one. Any other line (no '=', a name that is not
// one word, text after the value) is refused with a util::UException that
// names the file and the line, and so, through located(), is a setting the
// parser refuses. A file that cannot be opened reads as empty.
class ConfigFileReader : public OptionReader {
public:
    explicit ConfigFileReader(const std::string &fileName);
    ~ConfigFileReader() override;
    ConfigFileReader(const ConfigFileReader &) = delete;
    ConfigFileReader &operator=(const ConfigFileReader &) = delete;

    std::string nextOptionName() override;
    std::string nextOptionValue(const Option *option) override;
    bool done() override { return done_; }
    std::string located(const std::string &message) const override;
    const std::string &fileName() const { return fileName_; }

    // Name and value of one line; false when the line is blank or a comment.
    // Throws util::UException saying what is wrong with any other line.
    static bool parseLine(const std::string &line, std::string &name, std::string &value);

private:
    void readAhead();
    std::string place(long lineNumber, std::string line) const;

    std::string fileName_;
    bool done_;
    std::ifstream in_;
    std::string name_;
    std::string value_;
    long lineNumber_ = 0;
    std::string nextPlace_; // file and line of the option read ahead
    std::string place_;     // file and line of the option last named
};

} // namespace util

#endif
