#pragma once
// "着信履歴" / "送信履歴" / "迷惑メール": the history viewer. It lists a
// history, shows a message, deletes one message or all of them, answers a
// received message and puts its sender into the address book; a received
// message and a junk one move between their two histories, and the junk
// filter learns the user's verdict. Its text box is also
// the small editor of ViewerEditor, whose menus and toolbar it carries.
//
// Row i of the list is record i of the history shown: the list is always
// built from the whole file, and every deletion rebuilds it. (After a mail
// check the list holds the messages just fetched until the next load, and a
// click still reads record i of the history.) The search box above the list
// narrows it to the records that hold a text; then the rows are those
// records, in file order, and every button acts on the record of the row
// the user sees, by its number, never by the row's place.

#include "core/result.h"
#include "core/settings_files/viewer_options.h"
#include "core/viewer_data.h"
#include "store/history_record.h"
#include "viewer/history_search.h"
#include "viewer/message_reading.h"

#include <QByteArray>
#include <QList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTextDocument;
class QTimer;
class QTreeView;

namespace lumopet {

class AttachmentStrip;
class CopyReader;
class HistoryListModel;
class HtmlMessageView;
class MessageNotesBar;
class RemoteImageFetcher;
class ViewerEditor;
class WindowDirectory;
struct Program;

class TyakuForm : public QWidget {
    Q_OBJECT
public:
    explicit TyakuForm(WindowDirectory& windows, QWidget* parent = nullptr);
    ~TyakuForm() override;

    // The load steps: the list's columns, the editor's place, the editor's
    // document; what a mail check left is shown as well.
    void Form_Load();
    // Loading a history: the caption, the list filled, the last record shown.
    void LoadHistory(History history);
    void Form_Resize();

    // Every record of the history of ViewerMode into the list; the fields
    // and the editor show the last one and the clipboard holds its text.
    void FillViewerList();
    // The editor shows the text, and the clipboard holds it.
    void ShowMessageText(const QString& text);

    void MailListView_Click();
    void Command1_Click();  // delete one
    void Command3_Click();  // register the sender
    void Command4_Click();  // reply
    void Command5_Click();  // delete all
    // 迷惑メール一覧 in 着信履歴, 着信履歴に戻る in 迷惑メール.
    void JunkList_Click();
    // 迷惑メール in 着信履歴, 迷惑メールではない in 迷惑メール: the chosen
    // record goes to the other history, and the junk filter learns the
    // verdict from its Maildir copy (off the window's thread).
    void JunkVerdict_Click();
    // The junk filter is still learning a verdict.
    bool TrainingPending() const { return trainingsRunning_ > 0; }

    // The rows and the message a mail check left in the program's viewer
    // data, shown where they differ from what this window last took from
    // there. The check runs while the window is disabled; it is called
    // when the window is enabled again, and at load.
    void ShowCheckedMail();

    // The records (from 1) of the rows the list shows, in list order: the
    // whole history, or what the search left of it. While the list shows a
    // mail check's rows, which are messages and not records, it is every
    // record of the history of ViewerMode, as the next load will list it.
    std::vector<int> ShownRecords() const;
    // The record (from 1) of the row chosen in the list; 0 when no row is,
    // or when the list shows a mail check's rows.
    int ChosenRecord() const;

    // How the search box searches: SearchHistory, unless a test puts in a
    // search it can hold back. It runs off the window's thread.
    using SearchFunction =
        std::function<HistorySearchResult(const QString& file, const QString& query, const std::atomic<bool>& cancel)>;
    void setSearchFunction(SearchFunction search) { search_ = std::move(search); }
    // A search waits out the typing pause or runs; its answer is to come.
    bool SearchPending() const;

    // --- the message read from its Maildir copy -----------------------------
    // The received message on display, read whole from its copy; nothing
    // while the record alone is shown (no copy, or not read yet).
    const ShownMessage* shownMessage() const { return shown_ ? &*shown_ : nullptr; }
    // A copy is being read, or the history's copies are being paired.
    bool ReadingPending() const;
    // How an attachment or a link is handed to the desktop: a test puts in
    // one that writes down the path (or address) and its type.
    using OpenFunction = std::function<bool(const QUrl& url, const QString& mimeType)>;
    void setOpenFunction(OpenFunction open) { open_ = std::move(open); }
    // Entry i of the attachment strip.
    void OpenAttachment(int entry);
    void SaveAttachment(int entry);
    void LoadRemoteImages();
    void ShowHeaders();
    void ShowSource();
    // 文字コード指定: empty is 自動.
    void SetCharset(const QByteArray& charset);
    // 表示 → テキスト / HTML, kept in lumopet.ini.
    void SetShowHtml(bool html);

    HtmlMessageView* htmlView = nullptr;
    AttachmentStrip* attachmentStrip = nullptr;
    MessageNotesBar* notesBar = nullptr;
    QAction* mtext = nullptr;
    QAction* mhtml = nullptr;
    QAction* mheaders = nullptr;
    QAction* msource = nullptr;
    QActionGroup* charsetGroup = nullptr;

    History ViewerMode() const { return viewerMode_; }
    ViewerEditor& editor() const { return *editor_; }
    // The area below the menu bar, where the controls lie.
    QWidget* clientArea() const { return client_; }
    HistoryListModel& listModel() const { return *model_; }

    QFrame* Picture1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    // In the search row's right end, where they are shown: in 迷惑メール
    // always; in 着信履歴 when the junk filter is on (the list button also
    // when the junk history holds anything); never in 送信履歴.
    QPushButton* JunkListButton = nullptr;
    QPushButton* JunkVerdictButton = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QTreeView* MailListView = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QPlainTextEdit* rtfEd = nullptr;
    QLineEdit* Text5 = nullptr;
    QPlainTextEdit* Text4 = nullptr;
    // The search box in its row above the list, and "N / 全件数" beside it
    // while the list is filtered.
    QLineEdit* SearchBox = nullptr;
    QLabel* SearchCount = nullptr;

    // The record (from 1) a deletion acts on: the chosen row's, which is
    // the row itself unless the list is filtered. An int, not the 16 bits
    // of old: a history may hold more than 32,766 records.
    int SelectedRow = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QRect place(double left, double top, double width, double height) const;
    int toPixels(double twips) const;
    double toTwips(int pixels) const;
    void layoutBand();
    // One load step under the load-error rule: a failing step is offered
    // again until it works or the user goes on without it.
    void runLoadStep(const std::function<Status()>& step);

    QString historyFile() const;
    QString rewriteCopyFile() const;
    // The record of the row chosen in the list, by the row-to-record rule
    // (a mail check's row i stands for record i); 0 when no row is chosen.
    int recordOfChosenRow() const;
    // Record n as the user saw it: the record buffer when it holds n, else
    // read from the file. A deletion or a move checks it is still record n
    // of the file before it touches a byte.
    Result<HistoryRecord> recordAsShown(int n) const;
    // A record read from the history of ViewerMode into its record buffer,
    // shown in the fields and the editor, and its row highlighted.
    void showRecord(const HistoryRecord& record, int n);
    // Highlights the row of record n of a list that is the history, without
    // scrolling the list away from where the user left it.
    void highlightRow(int n);
    // The list after a removal that took record n out (0: failed).
    void listAfterRemoval(int n);
    void clearMessageBoxes();
    // メールの取り込み... and メールの書き出し... of the File menu.
    void importMail();
    void exportMail();
    void clearSelectionMarker();
    bool noRowChosen();
    // Shows record n, the chosen row's, as a click on it does.
    void showChosenRecord(int n);
    // After a key moved the highlight: the row now chosen is shown.
    void followCurrentRow();
    // The subject of record n as the user sees it.
    QString recordSubject(int n) const;
    void showHelp(const QString& text);
    // The help a control shows while the mouse is over it; empty for one
    // that has none.
    QString helpOf(const QObject* control) const;

    // The junk buttons shown as the history and the options have them, and
    // the search row laid out around them.
    void showJunkButtons();
    void placeSearchRow();
    bool junkHistoryHasRecords() const;
    // The fingerprints of every record of the history shown, for the UIDL
    // file; nothing where deleting all is noted as all.
    std::optional<QList<QByteArray>> fingerprintsToNote() const;
    // In 迷惑メール, what a mail check left: the junk history listed again
    // when it grew.
    void showCheckInJunkView();
    void trainFilter(const QString& copy, bool junk, const QString& moved);
    // What a move said (moved, learnt or not) in the help box, where it
    // stays until the mouse goes over the text or another button.
    void showJunkNote(const QString& note);
    bool showingJunkNote() const;

    // The search box. A change waits for a pause in the typing, then
    // searches off the window's thread; a newer change cancels the search
    // in flight, and only the newest answer reaches the list.
    void searchTextChanged();
    void startSearch();
    void applySearch(const QString& query, std::vector<int> records);
    // The pause and the search in flight stop; their answer never comes.
    void cancelSearch();
    // The box emptied: every row again.
    void showWholeList();
    void clearSearch();
    // The box's text, or a change still on its way, filters the list.
    bool searching() const;
    // The list made to show what the box holds, searched here and now: the
    // file has just changed, and until the list is right a click would name
    // a record that is not the one the user sees.
    void filterNow();
    // After a deletion while searching: the search again, and the fields on
    // the last row shown.
    void refilterAfterDeletion();
    void afterFilterChange();
    void deleteShown();

    // The message area: the text box's place, less the notes and the
    // attachment strip above it when the message has them.
    void placeEditor(const QRect& area);
    void placeMessageArea();
    void buildViewMenu();
    // After a record is shown: its copy is read when it has one.
    void readCopyOf(const HistoryRecord& record, int n);
    void readShownCopy(bool loadRemoteImages);
    void takeReading(int n, const ShownMessage& shown);
    // Back to the record alone: no HTML, no strip, no notes.
    void clearShownMessage();
    void openLink(const QUrl& url);
    // The copy of record n of the history shown, by the pairing.
    std::optional<QString> copyOfRecord(const HistoryRecord& record, int n) const;
    // The rows of the records whose copies are known show the copies' whole
    // texts.
    void showRowsFromCopies();

    WindowDirectory& windows_;
    Program& program_;
    ViewerEditor* editor_ = nullptr;
    QWidget* client_ = nullptr;
    HistoryListModel* model_ = nullptr;
    History viewerMode_ = History::Received;
    // The rows are the records of the history of ViewerMode, row for
    // record (not what a mail check left).
    bool listIsHistory_ = false;

    // The editor's left as the load step put it; a resize keeps it.
    float editorLeft_;
    // The record buffer of ViewerMode: the record read last, and its number.
    HistoryRecord recordBuffer_;
    int recordBufferNumber_ = 0;
    // The record the fields show; 0 when they show none (or a mail check's
    // message).
    int shownRecord_ = 0;

    QTimer* searchTimer_ = nullptr;
    SearchFunction search_;
    // The cancel flag of the search in flight, shared with its thread.
    std::shared_ptr<std::atomic<bool>> searchCancel_;
    // Counts the searches started and cancelled: an answer is taken only
    // from the newest.
    int searchGeneration_ = 0;
    bool searchRunning_ = false;
    // The text whose answer the list shows (empty: the list is whole).
    QString appliedQuery_;
    // What this window last took from the mail check's data.
    std::vector<ViewerRow> checkedRows_;

    // Beside the model's rows while the list is the history: each record's
    // fingerprint, which names its copy.
    std::vector<QByteArray> fingerprints_;
    CopyReader* reader_ = nullptr;
    RemoteImageFetcher* remoteImages_ = nullptr;
    ViewerOptions options_;
    QRect editorArea_;
    // The copy of the record on display, and what reading it gave.
    QString shownCopy_;
    std::optional<ShownMessage> shown_;
    bool htmlShown_ = false;
    // The HTML view's own empty document, shown between messages.
    QTextDocument* blankDocument_ = nullptr;
    // Counts the texts put into the text box after an HTML message: only
    // the newest goes in.
    int textGeneration_ = 0;
    QByteArray charset_;
    OpenFunction open_;
    int checkedChecks_ = 0;
    int trainingsRunning_ = 0;
    QString junkNote_;
    QString checkedSubject_, checkedFrom_, checkedDate_, checkedBody_;
};

}  // namespace lumopet
