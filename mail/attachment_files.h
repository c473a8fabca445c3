#pragma once
// Writing received attachments into the attachment folder, and nowhere else.

#include "mail/decoded_message.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace lumopet::mail {

// Results, as the receive code tests them.
inline constexpr int kAttachmentsSaved = 1;
inline constexpr int kNoAttachments = 0;
inline constexpr int kAttachmentCannotBeOpened = -5;
inline constexpr int kSplitMessageIncomplete = -6;

// A plain, safe file name from what the sender proposed: no folders
// ("../", "/", "\", drive letters), no control or direction-override
// characters, no leading dots, not only blanks; an empty result becomes
// "attachment<index>" (index from 1, kept with a proposed extension when
// there is one).
QString SafeAttachmentFileName(const QString& proposed, int index);

// Writes every attachment of the message into the folder under its safe
// name; an existing file is never overwritten: "name (2).ext", "name
// (3).ext", ... instead. An attachment the folder already holds, byte for
// byte, under its name or one of those numbered names is not written again
// (a message fetched a second time after a failed check brings no copies). Returns kAttachmentsSaved when at least one file was
// written, kNoAttachments when the message has none, kSplitMessageIncomplete
// for an incomplete message/partial, kAttachmentCannotBeOpened when a file
// cannot be created or written (the files already written stay). The paths
// written go into saved when given; on kAttachmentCannotBeOpened, failure
// (when given) says which attachment and why.
struct AttachmentFailure {
    QString name;    // the safe name of the attachment that was not saved
    QString reason;  // the system's word for it ("No space left on device")
};
// The file under which the folder holds the attachment a mail check saved
// as safeName: safeName itself or one of its numbered names, holding
// exactly the bytes of the open file content. Nothing when none does.
std::optional<QString> FindSavedAttachment(const QString& folder, const QString& safeName, int content);

int SaveAttachments(const QString& folder, const DecodedMessage& message, QStringList* saved = nullptr,
                    AttachmentFailure* failure = nullptr);

}  // namespace lumopet::mail
