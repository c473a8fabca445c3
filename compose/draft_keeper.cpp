#include "compose/draft_keeper.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <vector>

namespace lumopet {
namespace {

// Every keeper alive, for saveAll(): the program's ends (the main window
// closed, a character's right click, SIGTERM, the session ending) reach
// them all from one place. Only the window thread touches it.
std::vector<DraftKeeper*>& keepers() {
    static std::vector<DraftKeeper*> all;
    return all;
}

qint64 steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

DraftKeeper::DraftKeeper(QWidget* window, QString draftsMaildir, ReadDraft readDraft, IsEmpty isEmpty)
    : QObject(window),
      window_(window),
      maildir_(std::move(draftsMaildir)),
      readDraft_(std::move(readDraft)),
      isEmpty_(std::move(isEmpty)),
      draftId_(NewDraftId()),
      quietTimer_(new QTimer(this)) {
    quietTimer_->setSingleShot(true);
    connect(quietTimer_, &QTimer::timeout, this, &DraftKeeper::timerFired);
    window_->installEventFilter(this);
    keepers().push_back(this);
}

DraftKeeper::~DraftKeeper() { std::erase(keepers(), this); }

void DraftKeeper::continueDraft(const QString& draftId) {
    if (draftId.isEmpty() || draftId == draftId_) return;
    // The draft this window wrote so far stays as it is, a draft of its own
    // (the reply window keeps a half-written reply when it is filled for
    // another); the one it now continues is replaced by its next write.
    draftId_ = draftId;
}

void DraftKeeper::contentChanged() {
    discarded_ = false;
    const qint64 now = steadyMilliseconds();
    if (!unsaved_) firstUnsavedChange_ = now;
    unsaved_ = true;
    // Written once typing pauses, and at the latest kLongestWait after the
    // first change not yet written, however long the typing goes on.
    const qint64 left = std::max<qint64>(0, firstUnsavedChange_ + kLongestWaitMilliseconds - now);
    quietTimer_->start(static_cast<int>(std::min<qint64>(kQuietMilliseconds, left)));
}

void DraftKeeper::timerFired() { saveNow(); }

Status DraftKeeper::saveNow() {
    quietTimer_->stop();
    if (discarded_) return success();
    const Status written = isEmpty_() ? RemoveDraftFile(maildir_, draftId_) : [this]() -> Status {
        const auto saved = SaveDraft(maildir_, draftId_, readDraft_());
        if (!saved) return Failure{saved.error()};
        return success();
    }();
    if (!written) {
        // Kept as unsaved: the next change, the close or the program's end
        // tries again, and the user hears of it now.
        Q_EMIT saveFailed(written.error());
        return written;
    }
    unsaved_ = false;
    return written;
}

Status DraftKeeper::saveIfChanged() {
    if (!unsaved_) return success();
    return saveNow();
}

void DraftKeeper::discard() {
    quietTimer_->stop();
    unsaved_ = false;
    discarded_ = true;
    if (const Status removed = RemoveDraftFile(maildir_, draftId_); !removed) Q_EMIT saveFailed(removed.error());
}

QStringList DraftKeeper::saveAll() {
    QStringList failures;
    // A copy: a saveFailed handler might close a window and so end a keeper.
    const std::vector<DraftKeeper*> all = keepers();
    for (DraftKeeper* keeper : all) {
        if (std::find(keepers().begin(), keepers().end(), keeper) == keepers().end()) continue;
        if (const Status saved = keeper->saveIfChanged(); !saved) failures.append(saved.error());
    }
    return failures;
}

bool DraftKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) saveIfChanged();
    return QObject::eventFilter(watched, event);
}

}  // namespace lumopet
