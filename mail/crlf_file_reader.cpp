#include "mail/crlf_file_reader.h"

#include "core/safe_file.h"

#include <algorithm>

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
    const qint64 got = ReadAt(fd_, taken_.data(), static_cast<qint64>(taken_.size()), offset_);
    if (got < 0) return -1;
    offset_ += got;
    for (qint64 i = 0; i < got; ++i) {
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
