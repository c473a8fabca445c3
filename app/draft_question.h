#pragma once
// At start, once the main window is up: the drafts a past run left (the
// program ended, or was killed, with a letter half written) are offered
// back: "書きかけのメールが N 通あります", 開く or 破棄.

#include "mail/draft_message.h"

#include <optional>

namespace lumopet {

class ProgramWindows;

// Which drafts 開く puts back: the newest of the compose window and the
// newest of the reply window, each window being one; the others stay in
// the folder for the next start.
struct DraftsToOpen {
    std::optional<StoredDraft> compose;
    std::optional<StoredDraft> reply;
};
DraftsToOpen ChooseDraftsToOpen(const DraftListing& listing);

// Asks, and opens or removes the drafts. Files skipped in the folder are
// named in the main window's status line and in the log.
void OfferToOpenDrafts(ProgramWindows& windows);

}  // namespace lumopet
