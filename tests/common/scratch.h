// Files of the tests: whole files read and written, and a scratch folder
// of each test, removed with everything in it at its end.
#ifndef TESTS_COMMON_SCRATCH_H
#define TESTS_COMMON_SCRATCH_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace test_common {

// The bytes of a file; empty when it cannot be read.
inline std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Writes text as the whole of a file.
inline void spit(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// A private folder below /tmp for one test.
class ScratchDir {
public:
    ScratchDir()
    {
        char tmpl[] = "/tmp/test_scratch.XXXXXX";
        const char *made = mkdtemp(tmpl);
        if (!made)
            ADD_FAILURE() << "cannot make a scratch folder";
        path_ = made ? made : "/tmp";
    }
    ~ScratchDir()
    {
        if (path_ != "/tmp" && std::system(("rm -rf '" + path_ + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << path_;
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Makes dir the current folder for the life of the object.
class InDir {
public:
    explicit InDir(const std::string &dir)
    {
        char *cwd = getcwd(nullptr, 0);
        old_ = cwd ? cwd : "/";
        free(cwd);
        if (chdir(dir.c_str()) != 0)
            ADD_FAILURE() << "cannot enter " << dir;
    }
    ~InDir()
    {
        if (chdir(old_.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << old_;
    }
    InDir(const InDir &) = delete;
    InDir &operator=(const InDir &) = delete;

private:
    std::string old_;
};

} // namespace test_common

#endif
