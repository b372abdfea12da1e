#ifndef UTIL_REGION_H
#define UTIL_REGION_H

#include <string>
#include <vector>

#include "util/uexception.h"

namespace util {

// An N-dimensional box of inclusive integer index ranges; dimensions are
// numbered from 1. A range keeps the order it was set in (start may exceed end).
class Region {
public:
    static inline const std::string error_get_dim =
        "request for region parameter of illegal dimension";
    static inline const std::string error_set_dim =
        "request to set region parameter of illegal dimension";

    explicit Region(unsigned long dimensions = 0);
    Region(const Region &other);
    Region &operator=(const Region &other);
    Region(Region &&) noexcept = default;
    Region &operator=(Region &&) noexcept = default;
    ~Region() = default;

    unsigned long getDimensions() const { return dims_; }

    int getStart(unsigned long i) const;
    int getEnd(unsigned long i) const;
    unsigned long getLength(unsigned long i) const;
    unsigned long getLength() const; // number of elements in the box

    void setStart(unsigned long i, int value);
    void setEnd(unsigned long i, int value);
    void setRange(unsigned long i, int start, int end);
    void setRegion(const Region &other); // same dimension count required

    Region getSlice(unsigned long first, unsigned long last) const;

    std::string toString() const; // "[s1:e1,s2:e2,...]"

private:
    void checkGet(unsigned long i) const;
    void checkSet(unsigned long i) const;

    unsigned long dims_;
    std::vector<int> bounds_; // starts of all dimensions, then their ends
};

} // namespace util

#endif
