// libFuzzer target: the history and address records.

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    return lumopet::fuzz::RunOrAbort(lumopet::fuzz::CheckRecords, data, size);
}
