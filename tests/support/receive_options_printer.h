#pragma once
// Readable GoogleTest failure messages for the receive options.

#include "core/settings_files/receive_options.h"

#include <ostream>

namespace lumopet {

inline void PrintTo(const ReceiveOptions& o, std::ostream* out) {
    *out << "{AutoCheckMinutes " << o.AutoCheckMinutes << ", LeaveOnServer " << o.LeaveOnServer
         << ", DeleteAfterDays " << o.DeleteAfterDays << ", DeleteWithHistory " << o.DeleteWithHistory << ", Tray "
         << o.Tray << ", Notify " << o.Notify << ", MaxMessageMB " << o.MaxMessageMB << ", JunkFilter " << o.JunkFilter << "}";
}

}  // namespace lumopet
