// Runs the torvex program on a parameter file in a scratch folder (the
// file is written there as run.param), with no standard input.  The test
// defines TORVEX_BIN, the program's path.
#ifndef TESTS_TORVEX_PROGRAM_RUN_H
#define TESTS_TORVEX_PROGRAM_RUN_H

#include "fits_util.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

struct ProgramRun {
    int status;
    std::string out, err;
};

inline ProgramRun run_torvex(const fits_util::ScratchDir &dir, const std::string &param)
{
    fits_util::spit(dir.file("run.param"), param);
    std::string cmd = "cd '" + dir.path() + "' && '" TORVEX_BIN
                      "' run.param < /dev/null > stdout 2> stderr";
    int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, fits_util::slurp(dir.file("stdout")),
            fits_util::slurp(dir.file("stderr"))};
}

#endif
