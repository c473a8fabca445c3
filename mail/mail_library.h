#pragma once
// The mail layer's start and end. The program starts the layer once, before
// any mail is sent or received, and releases it once, as it ends; the
// names are those the receive and send code have always called.

namespace lumopet {

// Sets up libcurl's and GMime's global state. Returns 0, or -1 when curl
// cannot start (then no mail can be sent or received).
int NMailInitializeWinSock();

// Option 1 is the size in bytes of the text buffers the layer fills (the
// subject, date, sender and header texts). Returns 0, or -1 for an option
// the layer does not have.
int NMailSetOption(int option, int value);

// Releases what NMailInitializeWinSock set up.
int NMailEndWinSock();

// The current value of option 1.
int MailTextBufferSize();

}  // namespace lumopet
