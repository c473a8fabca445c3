#pragma once
// A draft of the compose or the reply window, kept as the message that
// would be sent: a complete RFC 5322 message (UTF-8 text/plain), which any
// mail program can open. What only this program knows (which window, the
// character, fortune, bulk mode, the answered copy, the signature, the
// attached files) travels in X-Lumopet-* header fields.
//
// The attached files are named by path, one field each, not copied into the
// draft: a draft is written again every few seconds while the user types,
// and a large attachment would be copied each time.

#include "core/result.h"
#include "store/draft_folder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

namespace lumopet {

// Which window a draft belongs to.
enum class DraftWindow { Compose, Reply };

struct ComposeDraft {
    DraftWindow window = DraftWindow::Compose;
    QString to;       // 宛先, as typed (the compose window's may hold line breaks)
    QString cc;       // as typed, several addresses
    QString bcc;
    QString subject;
    QString body;     // as typed
    QStringList attachments;  // one path each
    int mood = 0;     // 0 (no character) to 5
    bool fortune = false;
    bool bulk = false;
    // A reply: what it answers (see SendRequest).
    QString inReplyTo;
    QString references;
    QByteArray replyCharset;
    // The answered message's Maildir copy; empty when none.
    QString answeredPath;
    // The signature chosen for this message; 0 for none.
    int signature = 0;

    bool operator==(const ComposeDraft&) const = default;
};

// Nothing typed: no recipient, subject, body or attachment. The choices
// (character, fortune, ...) alone make no draft.
bool IsBlankDraft(const ComposeDraft& draft);

// The draft as a message, lines ending in CR LF.
QByteArray DraftToMessage(const ComposeDraft& draft);

// The draft a message holds; a message that is not one of our drafts, or is
// damaged (a field missing or out of range, a body that is not UTF-8), is
// refused with the reason.
Result<ComposeDraft> DraftFromMessage(QByteArrayView message);

struct StoredDraft {
    QString id;
    QDateTime saved;
    ComposeDraft draft;
};

struct DraftListing {
    // Newest first.
    std::vector<StoredDraft> drafts;
    // One line for each file skipped, damaged ones too.
    QStringList skipped;
};

// The drafts kept in the Maildir (see store/draft_folder.h).
Result<DraftListing> ReadDrafts(const QString& maildir);
// Writes draft as the draft id, replacing the one kept under that id.
Result<QString> SaveDraft(const QString& maildir, const QString& id, const ComposeDraft& draft);

}  // namespace lumopet
