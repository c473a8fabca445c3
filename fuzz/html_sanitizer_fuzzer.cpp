// libFuzzer target: the HTML sanitiser.

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    return lumopet::fuzz::RunOrAbort(lumopet::fuzz::CheckHtmlSanitizer, data, size);
}
