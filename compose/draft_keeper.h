#pragma once
// Keeps a draft of what a compose or reply window holds, so that nothing
// typed is lost: written into ★MailData/Maildir.drafts within a few seconds
// of each change, when the window closes, and when the program ends
// (saveAll()). A window that holds nothing leaves no draft.
//
// The window tells the keeper of each change (contentChanged(), connected
// to the window's signal); the keeper reads the window only through the two
// functions it was given, on the window's thread.
//
// One keeper per window, made by the window's owner:
//     auto* keeper = new DraftKeeper(form, DraftsMaildirPath(program.paths),
//                                    [form] { return form->currentDraft(); },
//                                    [form] { return IsBlankDraft(form->currentDraft()); });
//     connect(form, &WriteForm::contentChanged, keeper, &DraftKeeper::contentChanged);
// and after a successful send: keeper->discard().

#include "core/result.h"
#include "mail/draft_message.h"
#include "store/draft_folder.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class QWidget;

namespace lumopet {

class DraftKeeper : public QObject {
    Q_OBJECT
public:
    using ReadDraft = std::function<ComposeDraft()>;
    using IsEmpty = std::function<bool()>;

    // The keeper is a child of window and watches it for its close. Drafts
    // go into the Maildir draftsMaildir (made when missing).
    DraftKeeper(QWidget* window, QString draftsMaildir, ReadDraft readDraft, IsEmpty isEmpty);
    ~DraftKeeper() override;
    DraftKeeper(const DraftKeeper&) = delete;
    DraftKeeper& operator=(const DraftKeeper&) = delete;

    // How long after a change the draft is written, and the longest a
    // change waits while the user keeps typing.
    static constexpr int kQuietMilliseconds = 1500;
    static constexpr int kLongestWaitMilliseconds = 5000;

    // From now on the window writes the draft draftId: a stored draft it was
    // loaded with (its next write replaces that one instead of leaving it
    // beside a new draft), or a new id for a new letter. What was written
    // under the old id is left as it is.
    void continueDraft(const QString& draftId);
    const QString& draftId() const { return draftId_; }

    // Writes the draft now (下書き保存): replaces the stored one, or removes
    // it when the window holds nothing.
    Status saveNow();
    // The same when something changed since the last write (the window
    // closing, the program ending).
    Status saveIfChanged();
    bool hasUnsavedChanges() const { return unsaved_; }
    // The message went out: its draft is removed, and nothing is written
    // again until the next change.
    void discard();

    // Every keeper of the program writes its draft now: the program is about
    // to end. Returns the reasons of the drafts that could not be written.
    static QStringList saveAll();

public Q_SLOTS:
    // Something in the window changed: the draft is written soon.
    void contentChanged();

Q_SIGNALS:
    // A draft could not be written (disk full, folder refused): the reason.
    void saveFailed(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void timerFired();

    QWidget* window_;
    QString maildir_;
    ReadDraft readDraft_;
    IsEmpty isEmpty_;
    QString draftId_;
    QTimer* quietTimer_;
    // When the first change not yet written came (steady clock, ms), for
    // the longest wait.
    qint64 firstUnsavedChange_ = 0;
    bool unsaved_ = false;
    // Sent: nothing is written until the next change.
    bool discarded_ = false;
};

}  // namespace lumopet
