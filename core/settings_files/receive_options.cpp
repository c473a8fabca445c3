#include "core/settings_files/receive_options.h"

namespace lumopet {

// Filled in with the options window.
Result<ReceiveOptions> ReadReceiveOptions(const QString&) { return ReceiveOptions{}; }
Status WriteReceiveOptions(const QString&, const ReceiveOptions&) { return success(); }

}  // namespace lumopet
