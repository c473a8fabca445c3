#pragma once
// What lives for the whole run besides the windows: where the program's
// files are, and the values every part of it shares.

#include "core/program_paths.h"
#include "core/program_values.h"
#include "core/viewer_data.h"

#include <utility>

namespace lumopet {

struct Program {
    explicit Program(ProgramPaths programPaths) : paths(std::move(programPaths)) {}

    ProgramPaths paths;
    ProgramValues values;
    ViewerData viewer;
};

}  // namespace lumopet
