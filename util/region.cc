#include "util/region.h"

#include <cstdlib>

namespace util {

Region::Region(unsigned long dimensions) : dims_(dimensions), bounds_(2 * dimensions, 0) {}

Region::Region(const Region &other)
    : dims_(other.dims_), bounds_(onlyUtilExceptions([&] { return other.bounds_; }))
{
}

Region &Region::operator=(const Region &other)
{
    if (this != &other) {
        bounds_ = other.bounds_;
        dims_ = other.dims_;
    }
    return *this;
}

void Region::checkGet(unsigned long i) const
{
    if (i < 1 || i > dims_)
        throw UException(error_get_dim);
}

void Region::checkSet(unsigned long i) const
{
    if (i < 1 || i > dims_)
        throw UException(error_set_dim);
}

int Region::getStart(unsigned long i) const
{
    checkGet(i);
    return bounds_[i - 1];
}

int Region::getEnd(unsigned long i) const
{
    checkGet(i);
    return bounds_[dims_ + i - 1];
}

unsigned long Region::getLength(unsigned long i) const
{
    checkGet(i);
    const long long start = bounds_[i - 1];
    const long long end = bounds_[dims_ + i - 1];
    return static_cast<unsigned long>(std::llabs(end - start) + 1);
}

unsigned long Region::getLength() const
{
    unsigned long count = 1;
    for (unsigned long i = 1; i <= dims_; ++i)
        count *= getLength(i);
    return count;
}

void Region::setStart(unsigned long i, int value)
{
    checkSet(i);
    bounds_[i - 1] = value;
}

void Region::setEnd(unsigned long i, int value)
{
    checkSet(i);
    bounds_[dims_ + i - 1] = value;
}

void Region::setRange(unsigned long i, int start, int end)
{
    checkSet(i);
    bounds_[i - 1] = start;
    bounds_[dims_ + i - 1] = end;
}

void Region::setRegion(const Region &other)
{
    if (other.dims_ != dims_)
        throw UException(error_set_dim);
    bounds_ = other.bounds_; // same size: no allocation
}

Region Region::getSlice(unsigned long first, unsigned long last) const
{
    if (first < 1 || first > last || last > dims_)
        throw UException(error_get_dim);
    return onlyUtilExceptions([&] {
        Region slice(last - first + 1);
        for (unsigned long i = first; i <= last; ++i)
            slice.setRange(i - first + 1, getStart(i), getEnd(i));
        return slice;
    });
}

std::string Region::toString() const
{
    std::string text = "[";
    for (unsigned long i = 1; i <= dims_; ++i) {
        if (i > 1)
            text += ',';
        text += std::to_string(bounds_[i - 1]) + ':' + std::to_string(bounds_[dims_ + i - 1]);
    }
    return text + "]";
}

} // namespace util
