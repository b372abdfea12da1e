// Programs and functions run in child processes, with what they print.
#ifndef TESTS_COMMON_PROGRAM_H
#define TESTS_COMMON_PROGRAM_H

#include "common/scratch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace test_common {

// For a child process that ends where it stands (a death test, a fatal
// error): what it has not freed then is no leak, so the leak check is off.
inline void skip_leak_check()
{
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
}

struct ProgramRun {
    int status = -1; // exit status, or -1 when the program did not exit
    std::string out, err;
};

// Runs the shell command line in the folder dir.  Its standard input is the
// text input (written to the file "stdin" there), or /dev/null without one;
// its standard output and error go to the files "stdout" and "stderr" of the
// folder, which stay for the test to look at.  A command that ends in
// "2>&1" has both in out.
inline ProgramRun run_in(const ScratchDir &dir, const std::string &command,
                         const std::string *input = nullptr)
{
    if (input)
        spit(dir.file("stdin"), *input);
    const std::string cmd = "cd '" + dir.path() + "' && (" + command + ") < " +
                            (input ? "stdin" : "/dev/null") + " > stdout 2> stderr";
    const int st = std::system(cmd.c_str());
    ProgramRun r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(dir.file("stdout"));
    r.err = slurp(dir.file("stderr"));
    return r;
}

// What a shell command line prints on its standard output.
inline std::string output_of(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

struct ChildResult {
    int status = -1; // exit status, or -1 when the child did not exit
    std::string out, err;
    double seconds = 0;
};

// Runs body in a child process with its standard output and error sent to
// files, and returns what it printed, its status and how long it took.  A
// body that returns exits with status 0.  The child frees nothing it does
// not reach the end of, so its leaks are not checked.
inline ChildResult run_child(const std::function<void()> &body)
{
    char out[] = "/tmp/child_out.XXXXXX", err[] = "/tmp/child_err.XXXXXX";
    const int fo = mkstemp(out), fe = mkstemp(err);
    fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        skip_leak_check();
        dup2(fo, 1);
        dup2(fe, 2);
        body();
        _exit(0);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    ChildResult r;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    close(fo);
    close(fe);
    r.out = slurp(out);
    r.err = slurp(err);
    unlink(out);
    unlink(err);
    return r;
}

} // namespace test_common

#endif
