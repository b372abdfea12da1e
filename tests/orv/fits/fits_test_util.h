// Helpers shared by the FITS tests: card images, hand-made files, a private
// temporary folder and the fitsverify check.
#ifndef TESTS_ORV_FITS_FITS_TEST_UTIL_H
#define TESTS_ORV_FITS_FITS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/fits.h"
#include "common/scratch.h"

#include "orv/MArray.h"
#include "orv/fits/fits_exception.h"
#include "util/region.h"

namespace fitstest {

using test_common::card;

inline std::string headerText(const std::vector<std::string> &cards, bool end = true)
{
    return test_common::header_text(cards, end);
}

// The region of the given (first, last) ranges, dimension 1 first.
inline util::Region box(std::initializer_list<std::pair<int, int>> ranges)
{
    util::Region r(ranges.size());
    unsigned long d = 1;
    for (const auto &p : ranges)
        r.setRange(d++, p.first, p.second);
    return r;
}

// The elements of a in index order, dimension 1 fastest.
inline std::vector<float> elements(const orv::MArray<float, 2> &a)
{
    std::vector<float> out;
    for (int j = a.firstIndex(2); j <= a.lastIndex(2); ++j)
        for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
            out.push_back(a(i, j));
    return out;
}

inline void writeBytes(const std::string &path, const std::string &bytes)
{
    test_common::spit(path, bytes);
}

inline std::string readBytes(const std::string &path)
{
    return test_common::slurp(path);
}

// "FitsException: " + message of what f throws, or "no exception".
inline std::string fitsError(const std::function<void()> &f)
{
    try {
        f();
    } catch (const orv::FitsException &e) {
        return e.what();
    }
    return "no exception";
}

inline std::string fe(const std::string &message)
{
    return "FitsException: " + message;
}

// Runs fitsverify on a file; true when it reports no error.
inline bool fitsverifyClean(const std::string &path, std::string *report = nullptr)
{
    const test_common::Verdict v = test_common::fitsverify(path);
    if (report)
        *report = v.report;
    return v.clean;
}

// A private folder below /tmp, removed with everything in it at the end.
class TempDir : public ::testing::Test {
protected:
    std::string path(const std::string &name) const { return scratch_.file(name); }

private:
    test_common::ScratchDir scratch_;
};

} // namespace fitstest

#endif
