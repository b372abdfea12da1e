#ifndef UTIL_OPTION_PARSER_H
#define UTIL_OPTION_PARSER_H

#include <map>
#include <ostream>
#include <string>

#include "util/option.h"
#include "util/option_reader.h"

namespace util {

// The registry of a program's options: applies what a reader delivers to
// them and prints the usage listing, the option table and configuration
// files. It owns neither its options nor its reader; the program keeps
// them alive while the parser uses them.
class OptionParser {
public:
    explicit OptionParser(OptionReader *reader);
    OptionParser(const OptionParser &) = default; // shares reader and options
    OptionParser &operator=(const OptionParser &) = default;
    virtual ~OptionParser() = default;

    void changeReader(OptionReader *reader) { reader_ = reader; }

    // Registers the option under its long name, its character (when not 0)
    // and the next registration number; a later option of the same name or
    // character replaces the earlier one for lookups.
    void addOption(Option *option);
    Option *getOption(const std::string &name) const;

    // Deletes every registered option once and forgets them all.
    void deleteOptions();

    // Applies every name and value the reader delivers; the first error ends
    // parsing, settings made before it stay. An unknown name or a value its
    // option refuses is reported with where the reader found it.
    void parseOptions();

    // Usage listing in registration order.
    void printUsage(std::ostream &out) const;

    // "name=value[ # usage]; ..." in name order.
    std::string toString(bool withUsage) const;

    // One "name\t= value[\t# usage]" line per option, in registration order or
    // in name order; the file reads back through ConfigFileReader.
    void writeConfig(const std::string &fileName, bool withUsage, bool registrationOrder) const;

    friend std::ostream &operator<<(std::ostream &out, const OptionParser &parser);

private:
    OptionReader *reader_;
    std::map<std::string, Option *> byName_;
    std::map<std::string, Option *> byChar_;
    std::map<int, Option *> byNumber_;
    int count_;
};

// The option table: one row per option in name order.
std::ostream &operator<<(std::ostream &out, const OptionParser &parser);

} // namespace util

#endif
