// libFuzzer target: a received message, fetched and its attachments saved.

#include "fuzz/fuzz_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    lumopet::fuzz::PrepareReceivedMessageCheck();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    return lumopet::fuzz::RunOrAbort(lumopet::fuzz::CheckReceivedMessage, data, size);
}
