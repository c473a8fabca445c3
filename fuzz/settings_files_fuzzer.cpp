// libFuzzer target: the settings files, read, saved and read again.

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    return lumopet::fuzz::RunOrAbort(lumopet::fuzz::CheckSettingsFiles, data, size);
}
