// The one error of the array library.
#ifndef ORV_RANGEEXCEPTION_H
#define ORV_RANGEEXCEPTION_H

#include <exception>
#include <string>
#include <utility>

namespace orv {

// Thrown by value when storage cannot be set up, when a view reaches outside
// its source, and when an assignment would read or write outside an array.
class RangeException : public std::exception {
public:
    explicit RangeException(const char *text) : message(text) {}
    explicit RangeException(std::string text) : message(std::move(text)) {}
    const char *what() const noexcept override { return message.c_str(); }

    std::string message;
};

namespace detail {

// Errors are raised out of line so that the hot paths stay small enough to
// be inlined.
[[noreturn]] __attribute__((noinline, cold)) inline void raise(const std::string &text)
{
    throw RangeException(text);
}
[[noreturn]] __attribute__((noinline, cold)) inline void raise(const char *text)
{
    throw RangeException(text);
}

[[noreturn]] __attribute__((noinline, cold)) inline void
raiseRange(int dim, long long first, long long last, long long base, long long end)
{
    raise("Range " + std::to_string(first) + ".." + std::to_string(last) +
          " reaches outside the index range " + std::to_string(base) + ".." + std::to_string(end) +
          " of dimension " + std::to_string(dim));
}

[[noreturn]] __attribute__((noinline, cold)) inline void raiseIndex(long long index, long long base,
                                                                    long long end, int dim)
{
    raise("Index " + std::to_string(index) + " outside the index range " + std::to_string(base) +
          ".." + std::to_string(end) + " of dimension " + std::to_string(dim));
}

inline std::string lengthsText(const int *length, int n)
{
    std::string s;
    for (int d = 0; d < n; ++d)
        s += (d ? " x " : "") + std::to_string(length[d]);
    return s;
}

// "<before> L1 x L2 <between> M1 x M2"
[[noreturn]] __attribute__((noinline, cold)) inline void
raiseLengths(const char *before, const int *a, const char *between, const int *b, int n)
{
    raise(before + lengthsText(a, n) + between + lengthsText(b, n));
}

} // namespace detail

} // namespace orv

#endif
