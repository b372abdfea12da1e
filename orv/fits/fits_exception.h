// The error of the whole FITS layer.
#ifndef ORV_FITS_FITS_EXCEPTION_H
#define ORV_FITS_FITS_EXCEPTION_H

#include <exception>
#include <string>

namespace orv {

class FitsException : public std::exception {
public:
    explicit FitsException(const char *message) : FitsException(std::string(message)) {}
    explicit FitsException(const std::string &message)
        : message(message), text("FitsException: " + message)
    {
    }

    // "FitsException: " followed by the message; valid while the object lives.
    const char *what() const noexcept override { return text.c_str(); }

    // The message without the prefix, for callers that re-raise it.
    const std::string &getMessage() const { return message; }

private:
    std::string message;
    std::string text;
};

} // namespace orv

#endif
