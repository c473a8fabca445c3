#pragma once
// "着信履歴" / "送信履歴": the history viewer. It lists either history,
// shows a message, deletes one message or all of them, answers a received
// message and puts its sender into the address book. Its text box is also
// the small editor of ViewerEditor, whose menus and toolbar it carries.
//
// Row i of the list is record i of the history shown: the list is always
// built from the whole file, and every deletion rebuilds it. (After a mail
// check the list holds the messages just fetched until the next load, and a
// click still reads record i of the history.)

#include "core/result.h"
#include "core/viewer_data.h"
#include "store/history_record.h"

#include <QWidget>

#include <functional>
#include <vector>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTreeView;

namespace lumopet {

class HistoryListModel;
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

    // The rows and the message a mail check left in the program's viewer
    // data, shown where they differ from what this window last took from
    // there. The check runs while the window is disabled; it is called
    // when the window is enabled again, and at load.
    void ShowCheckedMail();

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
    QLabel* Label1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QTreeView* MailListView = nullptr;
    QLineEdit* Text7 = nullptr;
    QLineEdit* Text8 = nullptr;
    QLineEdit* Text9 = nullptr;
    QPlainTextEdit* rtfEd = nullptr;
    QLineEdit* Text5 = nullptr;
    QPlainTextEdit* Text4 = nullptr;

    // The row (from 1) a deletion acts on. An int, not the 16 bits of old:
    // a history may hold more than 32,766 records.
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
    // The row chosen in the list, from 1; 0 when none is.
    int chosenRow() const;
    // A record read from the history of ViewerMode into its record buffer,
    // shown in the fields and the editor, and its row highlighted.
    void showRecord(const HistoryRecord& record, int n);
    // Highlights row n (from 1) of a list that is the history, without
    // scrolling the list away from where the user left it.
    void highlightRow(int n);
    // The list after a removal that took record n out (0: failed).
    void listAfterRemoval(int n);
    void clearMessageBoxes();
    void clearSelectionMarker();
    bool noRowChosen();
    void showHelp(const QString& text);

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
    // What this window last took from the mail check's data.
    std::vector<ViewerRow> checkedRows_;
    int checkedChecks_ = 0;
    QString checkedSubject_, checkedFrom_, checkedDate_, checkedBody_;
};

}  // namespace lumopet
