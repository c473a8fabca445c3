#pragma once
// What the chara windows' own X requests share: xcb hands each reply over
// as malloc'd memory the caller frees, and an atom is asked for by name.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lumopet {

struct FreeXcbReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class Reply>
using XcbReplyPointer = std::unique_ptr<Reply, FreeXcbReply>;

// The atom of name, or XCB_ATOM_NONE when the server does not answer.
inline xcb_atom_t InternXcbAtom(xcb_connection_t* connection, const char* name) {
    const XcbReplyPointer<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace lumopet
