#include "util/config_file_reader.h"

#include <cctype>

namespace util {

namespace {
bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
} // namespace

ConfigFileReader::ConfigFileReader(const std::string &fileName) : fileName_(fileName), done_(true)
{
    onlyUtilExceptions([&] {
        in_.open(fileName_);
        done_ = !in_.is_open();
        if (!done_)
            readAhead();
    });
}

ConfigFileReader::~ConfigFileReader() = default;

std::string ConfigFileReader::nextOptionName()
{
    if (done_)
        throw UException("No more arguments left!");
    return onlyUtilExceptions([&] {
        place_ = nextPlace_;
        return name_;
    });
}

std::string ConfigFileReader::nextOptionValue(const Option *)
{
    if (done_)
        throw UException("No more argument values left!");
    return onlyUtilExceptions([&] {
        std::string value = std::move(value_);
        readAhead();
        return value;
    });
}

void ConfigFileReader::readAhead()
{
    std::string line;
    while (std::getline(in_, line)) {
        ++lineNumber_;
        try {
            if (parseLine(line, name_, value_)) {
                nextPlace_ = place(lineNumber_, line);
                return;
            }
        } catch (const UException &e) {
            throw UException(place(lineNumber_, line) + e.what());
        }
    }
    done_ = true;
}

std::string ConfigFileReader::place(long lineNumber, std::string line) const
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // A file that is no configuration file (an image named by mistake) may
    // make a line of thousands of bytes, not all of them text: the message
    // quotes its start, cut before a character of several bytes, and shows
    // control characters as '?'.
    constexpr std::size_t kShown = 80;
    if (line.size() > kShown) {
        std::size_t cut = kShown;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        line = line.substr(0, cut) + "...";
    }
    for (char &c : line)
        if (std::iscntrl(static_cast<unsigned char>(c)) && c != '\t')
            c = '?';
    return "Configuration file " + fileName_ + ", line " + std::to_string(lineNumber) + " ('" +
           line + "'): ";
}

std::string ConfigFileReader::located(const std::string &message) const
{
    return onlyUtilExceptions([&] { return place_ + message; });
}

namespace {
// Nothing but blanks, or a comment, from pos on.
bool restIsEmpty(const std::string &line, std::size_t pos)
{
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    return pos == line.size() || line[pos] == '#';
}
} // namespace

bool ConfigFileReader::parseLine(const std::string &text, std::string &name, std::string &value)
{
    // A file written on another system may end its lines with CR LF.
    const std::string line =
        !text.empty() && text.back() == '\r' ? text.substr(0, text.size() - 1) : text;
    const std::size_t equals = line.find('=');
    const std::size_t hash = line.find('#');
    if (equals == std::string::npos || (hash != std::string::npos && hash < equals)) {
        if (restIsEmpty(line, 0))
            return false; // blank or a comment
        throw UException("no '=' between name and value!");
    }

    std::size_t begin = 0, end = equals;
    while (begin < end && isSpace(line[begin]))
        ++begin;
    while (end > begin && isSpace(line[end - 1]))
        --end;
    if (begin == end)
        throw UException("no name before '='!");
    for (std::size_t i = begin; i < end; ++i)
        if (isSpace(line[i]))
            throw UException("more than one word before '='!");

    std::size_t pos = equals + 1;
    while (pos < line.size() && isSpace(line[pos]))
        ++pos;
    std::string found;
    std::size_t after = line.size(); // where the text after the value starts
    if (pos < line.size() && line[pos] == '"') {
        bool closed = false;
        std::size_t i = pos + 1;
        for (; i < line.size(); ++i) {
            if (line[i] != '"') {
                found += line[i];
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                found += '"';
                ++i;
            } else {
                closed = true;
                break;
            }
        }
        if (closed) {
            after = i + 1;
        } else {
            // Without a closing quote the comment is not protected.
            const std::size_t cut = line.find('#', pos + 1);
            found =
                line.substr(pos + 1, cut == std::string::npos ? std::string::npos : cut - pos - 1);
        }
    } else {
        std::size_t stop = pos;
        while (stop < line.size() && !isSpace(line[stop]) && line[stop] != '#')
            ++stop;
        found = line.substr(pos, stop - pos);
        after = stop;
    }
    // A second word would be dropped without a word: a value with blanks
    // stands in quotes.
    if (!restIsEmpty(line, after))
        throw UException("text after the value (a value with blanks stands in double quotes)!");
    name = line.substr(begin, end - begin);
    value = std::move(found);
    return true;
}

} // namespace util
