#pragma once
// 送信中止 while messages go out. The window thread asks for the stop; the
// send loop looks at it before each message, and the SMTP transfer in
// flight looks at it while it runs: a message still going out is broken
// off before its DATA ends (a server keeps no message whose final "." it
// never got), one sent whole waits for the server's answer. There is one
// send at a time in the program, so one flag serves every window.

#include <atomic>

namespace lumopet::mail {

inline std::atomic<bool>& SendStopFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

// From the window thread, when 送信中止 is clicked during a send.
inline void RequestSendStop() { SendStopFlag().store(true); }
// At the start of every send.
inline void ClearSendStop() { SendStopFlag().store(false); }
inline bool SendStopRequested() { return SendStopFlag().load(); }

}  // namespace lumopet::mail
