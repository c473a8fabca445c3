#pragma once
// What lives for the whole run besides the windows: where the program's
// files are, and the values every part of it shares.

#include "app/program_paths.h"
#include "app/program_values.h"

namespace lumopet {

struct Program {
    ProgramPaths paths;
    ProgramValues values;
};

}  // namespace lumopet
