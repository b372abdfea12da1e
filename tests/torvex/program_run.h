// Runs the torvex program on a parameter file in a scratch folder (the file
// is written there as run.param), with no standard input; what it prints
// stays in the files stdout and stderr of the folder.  The test defines
// TORVEX_BIN, the program's path.
#ifndef TESTS_TORVEX_PROGRAM_RUN_H
#define TESTS_TORVEX_PROGRAM_RUN_H

#include "common/program.h"
#include "common/scratch.h"

#include <string>

using test_common::ProgramRun;

inline ProgramRun run_torvex(const test_common::ScratchDir &dir, const std::string &param)
{
    test_common::spit(dir.file("run.param"), param);
    return test_common::run_in(dir, "'" TORVEX_BIN "' run.param");
}

#endif
