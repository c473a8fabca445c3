#pragma once
// The editor side of the history viewer: its two menus and its toolbar,
// and what they do to the one text box that also shows the messages.
// Opening a file replaces the message on display, and showing a message
// replaces the document.

#include "core/result.h"

#include <QObject>
#include <QString>

#include <QFutureWatcher>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPrinter;
class QPlainTextEdit;
class QTextCursor;
class QToolBar;
class QWidget;

namespace lumopet {

class WindowDirectory;
struct EditorModule;

class ViewerEditor : public QObject {
    Q_OBJECT
public:
    // window: the viewer; rtfEd: its text box. The menus, the toolbar and
    // the search box are made here, for the viewer to place.
    ViewerEditor(WindowDirectory& windows, QWidget* window, QPlainTextEdit* rtfEd);
    ~ViewerEditor() override;

    QMenuBar* menuBar() const { return menuBar_; }
    QToolBar* toolBar() const { return toolBar_; }

    // The search prompt and, to its right, the search box: children of the
    // window, which places them.
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;

    // The menu items.
    QAction* mnew = nullptr;
    QAction* mopen = nullptr;
    QAction* msave = nullptr;
    QAction* mprint = nullptr;
    QAction* mend = nullptr;
    // Mail from other programs into the received history, and the listed
    // records out as mail files: the viewer answers them, for it knows
    // which history and which records are shown.
    QAction* mimport = nullptr;
    QAction* mexport = nullptr;
    QAction* mall = nullptr;
    QAction* matamajump = nullptr;
    QAction* mbunmatujump = nullptr;
    QAction* mkensaku = nullptr;
    QAction* mtugikensaku = nullptr;
    QAction* mcut = nullptr;
    QAction* mcopy = nullptr;
    QAction* mpaste = nullptr;

    // The toolbar button of the key ("New", "Open", "Save", "Print", "Cut",
    // "Copy", "Paste", "Bold", "Italic", "Underline", "Search"); null for
    // any other key.
    QAction* toolButton(const QString& key) const;

    // Part of the viewer's load step: the document New made, into the
    // editor as plain text; an empty editor while there is none. The
    // viewer clears DocumentDirty after it.
    Status LoadCurrentDocument();

    // Run when the viewer is closed with its close box.
    void ClearEditorSettings();

    // A click on a toolbar button, by its key; any other key does nothing.
    void tbToolBar_ButtonClick(const QString& key);

    // The commands of the menus and the toolbar.
    void NewDocument();
    void OpenTextFile();
    void SaveAsTextFile();
    // Writes the editor text to the file; false (after telling the user)
    // when it could not be written.
    bool SaveEditorTextAs(const QString& path);
    void Print();
    void Cut();
    void Copy();
    void Paste();
    void SelectAll();
    void JumpToTop();
    void JumpToEnd();
    void Search();
    void SearchNext();
    void ToggleBold();
    void ToggleItalic();
    void ToggleUnderline();
    void Quit();

    // 1-based position of the last match found; 0 when the last search
    // found nothing. One per viewer window.
    int SearchPos() const { return searchPos_; }

    // A file larger than one piece is still arriving in the editor; the
    // commands wait, and the text box cannot be typed into, until it is
    // whole.
    bool IsLoading() const { return static_cast<bool>(loading_); }

Q_SIGNALS:
    // The text of a large file is whole in the editor, or its reading
    // ended (ok false: after telling the user, or because the editor was
    // given another text meanwhile).
    void loadingFinished(bool ok);
    // The File menu's メールの取り込み... and メールの書き出し...
    void ImportMailRequested();
    void ExportMailRequested();

private:
    void buildMenus();
    void buildToolBar();
    void buildSearchBox();
    void quickSave();
    bool writeText(const QString& path, QStringView text, const QByteArray& bytes);
    void selectMatch();
    QPrinter& printer();
    void startLoading(const QString& path);
    void readNextPiece();
    void takePiece();
    void appendPiece(const QString& text);
    void endLoading(bool ok);

    WindowDirectory& windows_;
    QWidget* window_;
    QPlainTextEdit* rtfEd_;
    EditorModule& module_;
    QMenuBar* menuBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    int searchPos_ = 0;
    // Kept while the window lives, so that the dialog shows the printer
    // and settings chosen last.
    std::unique_ptr<QPrinter> printer_;

    // A large file on its way into the editor: its reader works on the
    // thread pool one piece ahead, and each piece goes into the document
    // in a turn of the event loop of its own.
    struct Loading;
    std::unique_ptr<Loading> loading_;
    using PieceResult = Result<std::optional<QString>>;
    QFutureWatcher<std::shared_ptr<PieceResult>> pieceWatcher_;
    // While a piece goes in: the document's changes are the editor's own.
    bool appending_ = false;
};

}  // namespace lumopet
