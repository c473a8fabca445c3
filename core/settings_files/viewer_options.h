#pragma once
// "★MailData\lumopet.ini", section [Viewer]: how the history viewer shows
// a message, beside the receive options in the same file.
//
//   ShowHtml   0 or 1: a message sent as both text and HTML is shown as its
//              HTML (表示 → HTML); 0, the default, shows its text as the
//              program always did. A message with HTML alone is always
//              shown formatted.

#include "core/result.h"

#include <QByteArrayView>
#include <QString>

namespace lumopet {

struct ViewerOptions {
    bool ShowHtml = false;

    bool operator==(const ViewerOptions&) const = default;
};

// A missing file, section or key is the default; a file that is there and
// cannot be read is a failure.
Result<ViewerOptions> ReadViewerOptions(const QString& path);
ViewerOptions ParseViewerOptions(QByteArrayView file);
// Writes the section's keys in place; every other line stays as it is.
Status WriteViewerOptions(const QString& path, const ViewerOptions& options);

}  // namespace lumopet
