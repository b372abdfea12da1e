// An image whose sky cannot be modelled; the run reports it and stops.
#ifndef DORNEL_SKY_ERROR_H
#define DORNEL_SKY_ERROR_H

#include <stdexcept>
#include <string>

class SkyError : public std::runtime_error {
public:
    explicit SkyError(const std::string &message) : std::runtime_error(message) {}
};

#endif
