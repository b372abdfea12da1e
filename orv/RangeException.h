// The one error of the array library.
#ifndef ORV_RANGEEXCEPTION_H
#define ORV_RANGEEXCEPTION_H

#include <exception>
#include <string>

namespace orv {

// Thrown by value when storage cannot be set up, when a view reaches outside
// its source, and when an assignment would read or write outside an array.
class RangeException : public std::exception {
 public:
  explicit RangeException(const char* text) : message(text) {}
  explicit RangeException(std::string text) : message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};

}  // namespace orv

#endif
