// Files of the light-curve file tests: a scratch folder of each test's own
// (the tests run in parallel), files written and read as they are, and
// printf formatting, the independent side of the text-layout checks.
#ifndef TESTS_LIGHTCURVE_SCRATCH_H
#define TESTS_LIGHTCURVE_SCRATCH_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "printed.h"

class ScratchFolder {
public:
    ScratchFolder() {
        char pattern[] = "/tmp/lightcurve_files.XXXXXX";
        folder = mkdtemp(pattern);
    }
    ~ScratchFolder() { std::filesystem::remove_all(folder); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return folder + "/" + name; }

private:
    std::string folder;
};

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The lines that are not comments.
inline std::vector<std::string> dataRows(const std::string& path) {
    std::vector<std::string> rows;
    for (const std::string& line : linesOf(path))
        if (line[0] != '#') rows.push_back(line);
    return rows;
}

// The first count numbers of a line, read by white space.
inline std::vector<double> numbersOf(const std::string& line, int count) {
    std::istringstream words(line);
    std::vector<double> v(count);
    for (double& x : v) words >> x;
    return v;
}

inline std::string format(const char* f, ...) {
    char text[1024];
    va_list args;
    va_start(args, f);
    std::vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

// What a call prints on standard error.
template <class Call>
std::string printedOnError(Call call) {
    testing::internal::CaptureStderr();
    call();
    return testing::internal::GetCapturedStderr();
}

// A writer called without what it writes.
struct Refusal {
    std::function<void()> write;
    const char* message;
};

// Each writer prints its refusal on standard output and creates no file.
inline void expectRefusals(const std::vector<Refusal>& cases, const std::string& file) {
    for (const Refusal& c : cases) {
        EXPECT_EQ(c.message, printed(c.write));
        EXPECT_FALSE(exists(file)) << c.message;
    }
}

#endif
