#pragma once
// What every fuzz target's entry point does: one input through its check, in
// a scratch folder made once per process; a complaint aborts, so that
// libFuzzer reports the input and keeps it.

#include "fuzz/checks.h"
#include "fuzz/scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumopet::fuzz {

template <class Check>
int RunOrAbort(Check check, const unsigned char* data, size_t size) {
    static const ScratchFolder scratch;
    const std::string complaint =
        check(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), scratch.path());
    if (!complaint.empty()) {
        std::fprintf(stderr, "\n*** rule broken: %s\n", complaint.c_str());
        std::abort();
    }
    return 0;
}

}  // namespace lumopet::fuzz
