#pragma once
// A file with LF line ends read out with CR LF, in pieces of any size: how
// a message built into a file goes to the SMTP server.

#include <sys/types.h>

#include <vector>

namespace lumopet::mail {

class CrLfFileReader {
public:
    explicit CrLfFileReader(int fd) : fd_(fd) {}

    // Fills up to room bytes (room > 0) of into; 0 at the end of the file,
    // -1 when it cannot be read.
    ssize_t read(char* into, size_t room);

private:
    int fd_;
    off_t offset_ = 0;
    std::vector<char> taken_;  // what the last read took from the file
    bool pendingLf_ = false;   // its last LF did not fit after its CR
};

}  // namespace lumopet::mail
