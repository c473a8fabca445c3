#include "mail/crlf_file_reader.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace lumopet::mail {

ssize_t CrLfFileReader::read(char* into, size_t room) {
    // An LF that found room only for its CR goes first.
    size_t out = 0;
    if (pendingLf_) {
        into[out++] = '\n';
        pendingLf_ = false;
    }
    if (out == room) return static_cast<ssize_t>(out);
    // Half the room from the file (every byte may be an LF), at least a byte.
    taken_.resize(std::max<size_t>(1, (room - out) / 2));
    ssize_t got;
    do {
        got = ::pread(fd_, taken_.data(), taken_.size(), offset_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    offset_ += got;
    for (ssize_t i = 0; i < got; ++i) {
        const char c = taken_[static_cast<size_t>(i)];
        if (c != '\n') {
            into[out++] = c;
            continue;
        }
        into[out++] = '\r';
        if (out < room) into[out++] = '\n';
        else pendingLf_ = true;
    }
    return static_cast<ssize_t>(out);
}

}  // namespace lumopet::mail
