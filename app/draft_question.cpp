#include "app/draft_question.h"

#include "app/program_windows.h"
#include "core/program.h"
#include "store/draft_folder.h"

#include <QMessageBox>
#include <QPushButton>

namespace lumopet {

DraftsToOpen ChooseDraftsToOpen(const DraftListing& listing) {
    DraftsToOpen chosen;
    // The listing is newest first.
    for (const StoredDraft& stored : listing.drafts) {
        auto& slot = stored.draft.window == DraftWindow::Reply ? chosen.reply : chosen.compose;
        if (!slot) slot = stored;
    }
    return chosen;
}

void OfferToOpenDrafts(ProgramWindows& windows) {
    const QString maildir = DraftsMaildirPath(windows.program().paths);
    const auto listing = ReadDrafts(maildir);
    if (!listing) {
        qWarning("%s", qUtf8Printable(listing.error()));
        windows.SetMainStatusLine(listing.error());
        return;
    }
    for (const QString& line : listing.value().skipped) qWarning("%s", qUtf8Printable(line));
    if (!listing.value().skipped.isEmpty()) {
        windows.SetMainStatusLine(listing.value().skipped.size() == 1
                                      ? listing.value().skipped.front()
                                      : QStringLiteral("読めない下書きが %1 個あり、開かずにおきました。").arg(listing.value().skipped.size()));
    }
    const auto& drafts = listing.value().drafts;
    if (drafts.empty()) return;

    QMessageBox box(QMessageBox::Question, QStringLiteral("Lumopet"),
                    QStringLiteral("書きかけのメールが %1 通あります").arg(drafts.size()), QMessageBox::NoButton,
                    windows.MainWindow());
    QPushButton* open = box.addButton(QStringLiteral("開く"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("破棄"), QMessageBox::DestructiveRole);
    box.setDefaultButton(open);
    box.exec();
    // Closed without an answer: the drafts stay, and the next start asks
    // again.
    if (box.clickedButton() == discard) {
        for (const StoredDraft& stored : drafts) {
            if (const Status removed = RemoveDraftFile(maildir, stored.id); !removed) {
                qWarning("%s", qUtf8Printable(removed.error()));
                windows.SetMainStatusLine(removed.error());
            }
        }
        return;
    }
    if (box.clickedButton() != open) return;
    const DraftsToOpen chosen = ChooseDraftsToOpen(listing.value());
    if (chosen.compose) windows.ShowWriteFormWithDraft(chosen.compose->id, chosen.compose->draft);
    if (chosen.reply) windows.ShowBackFormWithDraft(chosen.reply->id, chosen.reply->draft);
}

}  // namespace lumopet
