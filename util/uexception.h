#ifndef UTIL_UEXCEPTION_H
#define UTIL_UEXCEPTION_H

#include <exception>
#include <string>
#include <utility>

namespace util {

// Base of every error of the utility library; the message is ready to show.
class UException : public std::exception {
public:
    explicit UException(const std::string &message) : message_(message) {}
    UException(const UException &) = default;
    UException &operator=(const UException &) = default;
    ~UException() override = default;

    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Failures of fixed-width number formatting and sexagesimal parsing.
class StringException : public UException {
public:
    explicit StringException(const std::string &message) : UException(message) {}
};

// Failures of the date and time classes.
class UTDateException : public UException {
public:
    explicit UTDateException(const std::string &message) : UException(message) {}
    explicit UTDateException(const char *message) : UException(std::string(message)) {}
};

// Runs f and lets only util exceptions escape: anything else (an allocation
// failure, say) cannot be handled by callers that expect util errors only,
// so it ends the process.
template <class F>
auto onlyUtilExceptions(F &&f) -> decltype(f())
{
    try {
        return std::forward<F>(f)();
    } catch (const UException &) {
        throw;
    } catch (...) {
        std::terminate();
    }
}

} // namespace util

#endif
