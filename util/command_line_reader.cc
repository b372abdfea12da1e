#include "util/command_line_reader.h"

#include <cctype>

namespace util {

namespace {
bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
} // namespace

CommandLineReader::CommandLineReader(int argc, const char *const *argv)
    : argc_(argv ? argc : 0), argv_(argv), index_(1), done_(argc_ < 2 || argv_[1][0] != '-')
{
}

bool CommandLineReader::done()
{
    return index_ >= argc_ || done_;
}

std::string CommandLineReader::nextOptionName()
{
    return onlyUtilExceptions([&] {
        if (index_ >= argc_)
            throw UException("No more arguments left!");
        const std::string word = argv_[index_];
        const UException notOption("Token '" + word + "' not an argument specifier!");
        if (word.size() < 2 || word[0] != '-')
            throw notOption;
        std::string name;
        if (word[1] == '-') {
            if (word.size() == 2)
                throw notOption;
            name = word.substr(2);
        } else {
            if (word.size() > 2 && isSpace(word[2]))
                throw notOption;
            name = word.substr(1);
        }
        ++index_;
        return name;
    });
}

std::string CommandLineReader::nextOptionValue(const Option *option)
{
    return onlyUtilExceptions([&] {
        const bool needsValue = option->needsValue();
        std::string value = "toggle"; // a flag consumes no word
        if (needsValue) {
            if (index_ >= argc_)
                throw UException("No more argument values left!");
            value = argv_[index_];
            // Negative numbers are values; other words with a dash are not.
            if (value.size() >= 1 && value[0] == '-' &&
                !(value.size() >= 2 && (value[1] == '.' || isDigit(value[1]))))
                throw UException("Token '" + value + "' does not seem like a valid value!");
            ++index_;
        }
        if (index_ >= argc_ || argv_[index_][0] != '-')
            done_ = true;
        return value;
    });
}

std::list<std::string> CommandLineReader::fileArguments()
{
    std::list<std::string> words;
    for (; index_ < argc_; ++index_)
        words.emplace_back(argv_[index_]);
    return words;
}

std::vector<std::string> CommandLineReader::fileArgumentsVector()
{
    const std::list<std::string> words = fileArguments();
    return {words.begin(), words.end()};
}

std::string CommandLineReader::progName() const
{
    if (argc_ < 1)
        return std::string();
    const std::string word = argv_[0];
    const std::size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

} // namespace util
