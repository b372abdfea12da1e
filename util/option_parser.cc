#include "util/option_parser.h"

#include <fstream>
#include <set>
#include <vector>

namespace util {

OptionParser::OptionParser(OptionReader *reader) : reader_(reader), count_(0) {}

void OptionParser::addOption(Option *option)
{
    byName_[option->getName()] = option;
    if (option->getCmdLineChar() != 0)
        byChar_[std::string(1, option->getCmdLineChar())] = option;
    byNumber_[++count_] = option;
}

Option *OptionParser::getOption(const std::string &name) const
{
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

void OptionParser::deleteOptions()
{
    // Every option added is under its number, also those replaced by name.
    std::set<Option *> options;
    for (const auto &entry : byNumber_)
        options.insert(entry.second);
    byName_.clear();
    byChar_.clear();
    byNumber_.clear();
    count_ = 0;
    for (Option *option : options)
        delete option;
}

void OptionParser::parseOptions()
{
    onlyUtilExceptions([&] {
        while (reader_ && !reader_->done()) {
            const std::string name = reader_->nextOptionName();
            Option *option = nullptr;
            if (name.size() <= 1) {
                const auto found = byChar_.find(name);
                if (found == byChar_.end())
                    throw UException(
                        reader_->located("Unknown short option '" + name + "' encountered!"));
                option = found->second;
            } else {
                const auto found = byName_.find(name);
                if (found == byName_.end())
                    throw UException(
                        reader_->located("Unknown long option '" + name + "' encountered!"));
                option = found->second;
            }
            // The reader's own errors say where they are already.
            const std::string value = reader_->nextOptionValue(option);
            try {
                option->setValue(value);
            } catch (const UException &e) {
                throw UException(reader_->located(e.what()));
            }
        }
    });
}

void OptionParser::printUsage(std::ostream &out) const
{
    for (const auto &entry : byNumber_) {
        const Option &option = *entry.second;
        std::string head = "    ";
        if (option.getCmdLineChar() != 0)
            head += std::string("-") + option.getCmdLineChar() + ", ";
        head += "--" + option.getName() + " <" + option.getTypeName() + ">";
        if (head.size() < 39)
            head.append(39 - head.size(), ' ');
        out << head << "  [" << option.getDefault() << "]" << std::endl;

        const std::string &usage = option.getUsage();
        const std::string indent(8, ' ');
        std::size_t column = 8;
        out << indent;
        std::size_t pos = 0;
        while (true) {
            pos = usage.find_first_not_of(" \t\n", pos);
            if (pos == std::string::npos)
                break;
            const std::size_t end = usage.find_first_of(" \t\n", pos);
            const std::string word =
                usage.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end;
            if (column + word.size() <= 71) {
                column += word.size() + 1;
            } else {
                out << std::endl << indent;
                column = 8 + word.size() + 1;
            }
            out << word << ' ';
            if (end == std::string::npos)
                break;
        }
        out << std::endl << std::endl;
    }
}

std::string OptionParser::toString(bool withUsage) const
{
    return onlyUtilExceptions([&] {
        std::string text;
        for (const auto &entry : byName_) {
            if (!text.empty())
                text += "; ";
            text += entry.first + "=" + entry.second->toString();
            if (withUsage)
                text += " # " + entry.second->getUsage();
        }
        return text;
    });
}

void OptionParser::writeConfig(const std::string &fileName, bool withUsage,
                               bool registrationOrder) const
{
    onlyUtilExceptions([&] {
        std::vector<const Option *> options;
        if (registrationOrder)
            for (const auto &entry : byNumber_)
                options.push_back(entry.second);
        else
            for (const auto &entry : byName_)
                options.push_back(entry.second);

        // All lines first, so that a value that cannot be written leaves no half file.
        std::string text;
        for (const Option *option : options) {
            text += option->getName() + "\t= " + option->toConfigString();
            if (withUsage) {
                std::string usage = option->getUsage();
                for (char &c : usage)
                    if (c == '\n' || c == '\r')
                        c = ' '; // a comment must stay on its line
                text += "\t# " + usage;
            }
            text += '\n';
        }
        std::ofstream out(fileName, std::ios::out | std::ios::trunc);
        if (!out.is_open())
            throw UException("Cannot open file " + fileName + " for writing");
        out << text;
    });
}

std::ostream &operator<<(std::ostream &out, const OptionParser &parser)
{
    for (const auto &entry : parser.byName_)
        out << *entry.second << std::endl;
    return out;
}

} // namespace util
