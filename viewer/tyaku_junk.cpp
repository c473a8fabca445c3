// The history viewer's side of junk: 迷惑メール, the third history, opened
// from 着信履歴 and back; a shown message moved between the two with the
// user's verdict, which the junk filter learns; and what deleting junk
// tells the UIDL file.

#include "viewer/TyakuForm.h"

#include "core/program.h"
#include "mail/junk_filter.h"
#include "store/history_file.h"
#include "store/history_listing.h"
#include "store/history_move.h"
#include "ui/message_box.h"
#include "viewer/copy_reader.h"
#include "viewer/history_list_model.h"
#include "viewer/history_view.h"
#include "viewer/tyaku_layout.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

#include <algorithm>
#include <mutex>

namespace lumopet {
namespace {

namespace layout = tyaku_layout;

const QString kErrorTitle = QStringLiteral("エラー");
const QString kStillPairing =
    QStringLiteral("このメールの元のメールを探しているところです。少し待ってから、もう一度押して下さい。");
const QString kMovedToJunk = QStringLiteral("迷惑メールに移しました。");
const QString kMovedBack = QStringLiteral("着信履歴に戻しました。");
const QString kLearning = QStringLiteral("迷惑メールフィルタが学習しています…");
const QString kLearnt = QStringLiteral("迷惑メールフィルタが学習しました。");
const QString kNotLearnt = QStringLiteral("迷惑メールフィルタは学習できませんでした。\n%1");
const QString kNoCopyToLearn =
    QStringLiteral("元のメールが保存されていないため、迷惑メールフィルタは学習していません。");

// What bogofilter learns, one verdict at a time: two quick moves of the
// same message must not learn it both ways at once.
std::mutex& trainingTurn() {
    static std::mutex turn;
    return turn;
}

}  // namespace

bool TyakuForm::junkHistoryHasRecords() const {
    // Anything in it at all: a part record left by a kill is still the
    // user's to see.
    return QFileInfo(HistoryPath(program_.paths, History::Junk)).size() > 0;
}

void TyakuForm::showJunkButtons() {
    const bool junkView = viewerMode_ == History::Junk;
    const bool receivedView = viewerMode_ == History::Received;
    // A user who never turned the filter on, and has no junk, sees the
    // window as it always was.
    const bool filterOn = program_.receive.JunkFilter;
    JunkListButton->setText(junkView ? QStringLiteral("着信履歴に戻る") : QStringLiteral("迷惑メール一覧"));
    JunkVerdictButton->setText(junkView ? QStringLiteral("迷惑メールではない") : QStringLiteral("迷惑メール"));
    JunkListButton->setVisible(junkView || (receivedView && (filterOn || junkHistoryHasRecords())));
    JunkVerdictButton->setVisible(junkView || (receivedView && filterOn));
    placeSearchRow();
}

void TyakuForm::placeSearchRow() {
    const QRect box = place(layout::SearchBox.left, layout::SearchBox.top, layout::SearchBox.width,
                            layout::SearchBox.height);
    const QRect count = place(layout::SearchCount.left, layout::SearchCount.top, layout::SearchCount.width,
                              layout::SearchCount.height);
    const int gap = toPixels(120);
    // The buttons from the row's right end, each as wide as its caption.
    int right = count.x() + count.width();
    bool any = false;
    for (QPushButton* junkButton : {JunkListButton, JunkVerdictButton}) {
        if (junkButton->isHidden()) continue;
        const int width = junkButton->sizeHint().width();
        junkButton->setGeometry(right - width, box.y(), width, box.height());
        right -= width + gap;
        any = true;
    }
    if (!any) {
        SearchBox->setGeometry(box);
        SearchCount->setGeometry(count);
        return;
    }
    // The count keeps room for the most it can say; the box takes the rest.
    const int countWidth =
        std::min(count.width(), SearchCount->fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")) + gap);
    SearchCount->setGeometry(right - countWidth, count.y(), countWidth, count.height());
    SearchBox->setGeometry(box.x(), box.y(), std::max(right - countWidth - gap - box.x(), box.width() / 3),
                           box.height());
}

void TyakuForm::JunkList_Click() {
    if (viewerMode_ == History::Sent) return;
    LoadHistory(viewerMode_ == History::Junk ? History::Received : History::Junk);
}

void TyakuForm::JunkVerdict_Click() {
    if (viewerMode_ == History::Sent || noRowChosen()) return;
    const int n = recordOfChosenRow();
    if (n < 1) {
        // The marker outlived its row (the list was built again since).
        clearSelectionMarker();
        noRowChosen();
        return;
    }
    const Result<HistoryRecord> read = recordAsShown(n);
    if (!read) {
        clearSelectionMarker();
        ShowError(this, kErrorTitle, read.error());
        return;
    }
    const HistoryRecord& shown = read.value();
    // The filter learns from the copy. While the copies are still being
    // paired, a record's copy is not known yet; moving it now would lose
    // the lesson for good.
    const std::optional<QString> copy = copyOfRecord(shown, n);
    if (!copy && reader_->sourcesPending()) {
        ShowNotice(this, kStillPairing);
        return;
    }
    const bool toJunk = viewerMode_ == History::Received;
    const bool filtering = searching();
    cancelSearch();
    recordBuffer_.Live = 0;
    clearMessageBoxes();
    // Not a deletion: the record, the same bytes, is still the one the UIDL
    // file knows, now in the other history. Nothing is noted there.
    const HistoryMove move =
        MoveHistoryRecord({historyFile(), rewriteCopyFile()}, n, shown,
                          HistoryPath(program_.paths, toJunk ? History::Junk : History::Received), DeleteHistoryRecord);
    listAfterRemoval(move.status ? n : 0);
    if (filtering) refilterAfterDeletion();
    clearSelectionMarker();
    showJunkButtons();
    if (!move.status) ShowError(this, kErrorTitle, move.status.error());
    if (!move.appended) return;
    const QString moved = toJunk ? kMovedToJunk : kMovedBack;
    if (!copy) {
        showJunkNote(moved + u'\n' + kNoCopyToLearn);
        return;
    }
    trainFilter(*copy, toJunk, moved);
}

void TyakuForm::trainFilter(const QString& copy, bool junk, const QString& moved) {
    ++trainingsRunning_;
    showJunkNote(moved + u'\n' + kLearning);
    const junk::FilterProgram filter = junk::FilterFor(program_.paths);
    const junk::Verdict verdict = junk ? junk::Verdict::Junk : junk::Verdict::NotJunk;
    // bogofilter takes a moment, and a hanging one its whole timeout: off
    // the window's thread. The answer is dropped when the window has gone.
    QPointer<TyakuForm> self(this);
    QThreadPool::globalInstance()->start([self, filter, copy, verdict, moved] {
        Status learnt = success();
        {
            const std::lock_guard turn(trainingTurn());
            learnt = junk::TrainVerdict(filter, {copy}, verdict);
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, learnt, moved] {
                if (!self) return;
                --self->trainingsRunning_;
                self->showJunkNote(moved + u'\n' + (learnt ? kLearnt : kNotLearnt.arg(learnt.error())));
            },
            Qt::QueuedConnection);
    });
}

void TyakuForm::showJunkNote(const QString& note) {
    junkNote_ = note;
    showHelp(note);
}

bool TyakuForm::showingJunkNote() const {
    return !junkNote_.isEmpty() && Text4->isVisible() && Text4->toPlainText() == junkNote_;
}

std::optional<QList<QByteArray>> TyakuForm::fingerprintsToNote() const {
    // Without junk, deleting all of 着信履歴 marks every line of the UIDL
    // file, as it always has. Once there is junk, the file also holds the
    // lines of junk records, whose messages stay on the server as long as
    // their records stay: then only the records that go are noted, by
    // their fingerprints, in 迷惑メール as in 着信履歴.
    if (viewerMode_ == History::Sent || (viewerMode_ == History::Received && !junkHistoryHasRecords()))
        return std::nullopt;
    QList<QByteArray> fingerprints;
    for (const HistoryListEntry& entry : ReadListingThroughCache(historyFile())) fingerprints << entry.Fingerprint;
    return fingerprints;
}

void TyakuForm::showCheckInJunkView() {
    // A check's rows and message are of 着信履歴, which lists them whole
    // when the user goes back to it: here they are only taken as seen.
    const ViewerData& checked = program_.viewer;
    checkedChecks_ = checked.listedChecks;
    checkedRows_ = checked.rows;
    checkedSubject_ = checked.subject;
    checkedFrom_ = checked.from;
    checkedDate_ = checked.date;
    checkedBody_ = checked.body;
    // The check may have set junk aside: the list is the junk history again.
    const qint64 records = QFileInfo(historyFile()).size() / kHistoryRecordSize;
    if (listIsHistory_ && records == static_cast<qint64>(model_->rows().size())) return;
    LoadHistory(History::Junk);
}

}  // namespace lumopet
