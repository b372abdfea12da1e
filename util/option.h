#ifndef UTIL_OPTION_H
#define UTIL_OPTION_H

#include <ostream>
#include <string>
#include <vector>

#include "util/region.h"
#include "util/uexception.h"

namespace util {

// One named, typed setting of a program. An option converts value texts into
// its value and, when the program has bound one of its variables to it,
// stores the value there too. It never owns the bound variable.
class Option {
public:
    Option(const char *name, const char *defaultText, const char *usage, char cmdLineChar);
    Option(const std::string &name, const std::string &defaultText, const std::string &usage,
           char cmdLineChar);
    virtual ~Option() = default;

    virtual void setValue(const std::string &text) = 0;
    virtual int getInt() const { return 0; }
    virtual float getFloat() const { return 0; }
    virtual std::string getString() const { return std::string(); }
    virtual bool getBool() const { return false; }
    virtual std::string getTypeName() const { return "UNKNOWN"; }
    virtual bool needsValue() const { return true; }
    // The value as shown in the option table.
    virtual std::string toString() const = 0;
    // The value as written to a configuration file: reads back unchanged.
    virtual std::string toConfigString() const { return toString(); }

    const std::string &getName() const { return name_; }
    const std::string &getDefault() const { return default_; }
    const std::string &getUsage() const { return usage_; }
    char getCmdLineChar() const { return cmdLineChar_; }

protected:
    Option(const Option &) = default;
    Option &operator=(const Option &) = default;

private:
    std::string name_;
    std::string default_;
    std::string usage_;
    char cmdLineChar_;
};

// One row of the option table, without line end:
// name (16 columns) | character | default (26 columns, right-aligned) | value
std::ostream &operator<<(std::ostream &out, const Option &option);

// One number. The value shown is the bound variable's (the option's own
// value while none is bound); a double option shows its own value.
template <class T>
class NumberOption : public Option {
public:
    NumberOption(const char *name, const char *defaultText, const char *usage, char cmdLineChar,
                 T *bound);
    NumberOption(const std::string &name, const std::string &defaultText, const std::string &usage,
                 char cmdLineChar, T *bound);

    void setValue(const std::string &text) override;
    std::string getTypeName() const override;
    std::string toString() const override;
    std::string toConfigString() const override;

protected:
    T shown() const { return bound_ ? *bound_ : value_; }

private:
    T value_ = 0;
    T *bound_;
};

template <>
inline double NumberOption<double>::shown() const
{
    return value_;
}

class IntOption : public NumberOption<int> {
public:
    using NumberOption<int>::NumberOption;
    int getInt() const override { return shown(); }
};

class FloatOption : public NumberOption<float> {
public:
    using NumberOption<float>::NumberOption;
    float getFloat() const override { return shown(); }
};

class DoubleOption : public NumberOption<double> {
public:
    using NumberOption<double>::NumberOption;
    // The option's own value in full precision (a change made directly to
    // the bound variable is not seen).
    double getDouble() const { return shown(); }
};

// A flag: on the command line each occurrence toggles it; as text, "FALSE",
// "false", "NO", "no", "F", "f", "N", "n" and "0" are false, "toggle"
// inverts, anything else is true.
class BoolOption : public Option {
public:
    BoolOption(const char *name, const char *defaultText, const char *usage, char cmdLineChar,
               bool *bound);
    BoolOption(const std::string &name, const std::string &defaultText, const std::string &usage,
               char cmdLineChar, bool *bound);
    void setValue(const std::string &text) override;
    bool getBool() const override { return bound_ ? *bound_ : value_; }
    std::string getTypeName() const override { return "FLAG"; }
    bool needsValue() const override { return false; }
    std::string toString() const override;

private:
    bool value_ = false;
    bool *bound_;
};

class StringOption : public Option {
public:
    StringOption(const char *name, const char *defaultText, const char *usage, char cmdLineChar,
                 std::string *bound);
    StringOption(const std::string &name, const std::string &defaultText, const std::string &usage,
                 char cmdLineChar, std::string *bound);
    void setValue(const std::string &text) override;
    std::string getString() const override { return bound_ ? *bound_ : value_; }
    std::string getTypeName() const override { return "STRING"; }
    std::string toString() const override { return getString(); }
    // Quoted (with inner quotes doubled) when blanks, '#' or a leading quote
    // would otherwise change the value on reading.
    std::string toConfigString() const override;

private:
    std::string value_;
    std::string *bound_;
};

// Comma lists of N numbers. Elements not named by a text keep their values.
template <class T>
class NumberArrayOption : public Option {
public:
    NumberArrayOption(const char *name, const char *defaultText, const char *usage,
                      const char &cmdLineChar, const int &count, T *bound);
    NumberArrayOption(const std::string &name, const std::string &defaultText,
                      const std::string &usage, const char &cmdLineChar, const int &count,
                      T *bound);
    NumberArrayOption(const NumberArrayOption &) = default;
    NumberArrayOption &operator=(const NumberArrayOption &) = default;

    void setValue(const std::string &text) override;
    std::string getTypeName() const override;
    std::string toString() const override;
    std::string toConfigString() const override;

protected:
    T *array() { return bound_ ? bound_ : own_.data(); }

private:
    std::string join(bool exact) const;

    std::vector<T> own_;
    T *bound_;
};

class IntArrayOption : public NumberArrayOption<int> {
public:
    using NumberArrayOption<int>::NumberArrayOption;
    int *getIntArray() { return array(); }
};

class FloatArrayOption : public NumberArrayOption<float> {
public:
    using NumberArrayOption<float>::NumberArrayOption;
    float *getFloatArray() { return array(); }
};

class DoubleArrayOption : public NumberArrayOption<double> {
public:
    using NumberArrayOption<double>::NumberArrayOption;
    double *getDoubleArray() { return array(); }
};

// N index ranges "s:e,s:e,..."; each range is stored with start <= end.
class RegionArrayOption : public Option {
public:
    RegionArrayOption(const char *name, const char *defaultText, const char *usage,
                      const char &cmdLineChar, const int &count, Region *bound);
    RegionArrayOption(const std::string &name, const std::string &defaultText,
                      const std::string &usage, const char &cmdLineChar, const int &count,
                      Region *bound);

    void setValue(const std::string &text) override;
    Region getRegionArray() const { return bound_ ? *bound_ : own_; }
    std::string getTypeName() const override { return "REGIONARRAY"; }
    std::string toString() const override;
    std::string toRegionString() const { return "[" + toString() + "]"; }

private:
    int count_;
    Region *bound_;
    Region own_;
};

extern template class NumberOption<int>;
extern template class NumberOption<float>;
extern template class NumberOption<double>;
extern template class NumberArrayOption<int>;
extern template class NumberArrayOption<float>;
extern template class NumberArrayOption<double>;

} // namespace util

#endif
