#pragma once
// Opening and saving the attachments of the message the viewer shows,
// without a widget: which file to hand to the desktop, and a copy saved
// where the user chose. Decoding starts here, not when the message is
// listed.
//
// An attachment opens from the file the mail check saved in the attachment
// folder when that folder still holds it byte for byte; otherwise from a
// copy written into a private folder of this run (mode 0700), one folder a
// copy, so that two attachments of one name never meet. Names are reduced
// by the check's own rule before they touch the disk.

#include "core/result.h"
#include "mail/mime/message_view.h"

#include <QString>

namespace lumopet {

struct AttachmentFile {
    QString path;
    bool fromAttachmentFolder = false;
};

// index is the attachment's place in the message (from 1), as the check
// numbered it when it had to name a nameless one.
Result<AttachmentFile> AttachmentFileToOpen(const QString& copyPath, const mail::ViewedPart& part, int index,
                                            const QString& attachmentFolder, const QString& privateFolder);

// The name the attachment goes by on disk.
QString AttachmentDiskName(const mail::ViewedPart& part, int index);

// Whether opening the file may run a program: its name's type is one that
// runs (.exe .bat .cmd .com .scr .js .vbs .jar .sh .desktop .lnk and their
// kin), or the file has an execute bit.
bool MayRunAsProgram(const QString& path);

// Writes the attachment to target: into a new file beside it, flushed, then
// renamed over it (the user agreed to replace a file there in the dialog).
// A link, a FIFO or a folder in target's place is refused.
Status SaveAttachmentCopy(const QString& copyPath, const mail::ViewedPart& part, const QString& target);

}  // namespace lumopet
