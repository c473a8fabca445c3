#include "viewer/viewer_editor.h"

#include "core/program.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"
#include "viewer/editor_files.h"
#include "viewer/editor_icons.h"
#include "viewer/editor_logic.h"
#include "viewer/editor_module.h"
#include "viewer/editor_text_reader.h"
#include "viewer/print_dialog.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPromise>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QThreadPool>
#include <QToolBar>

#include <array>

namespace lumopet {
namespace {

using Command = void (ViewerEditor::*)();

struct ToolButton {
    const char* key;
    QString tip;
    Command command;
};

// Left to right, as the toolbar has always shown them.
const std::array<ToolButton, 11>& toolButtons() {
    static const std::array<ToolButton, 11> buttons{{
        {"New", QStringLiteral("新規作成"), &ViewerEditor::NewDocument},
        {"Open", QStringLiteral("開く"), &ViewerEditor::OpenTextFile},
        {"Save", QStringLiteral("名前を付けて保存"), &ViewerEditor::SaveAsTextFile},
        {"Print", QStringLiteral("印刷"), &ViewerEditor::Print},
        {"Cut", QStringLiteral("切り取り"), &ViewerEditor::Cut},
        {"Copy", QStringLiteral("ｺﾋﾟｰ"), &ViewerEditor::Copy},
        {"Paste", QStringLiteral("貼り付け"), &ViewerEditor::Paste},
        {"Bold", QStringLiteral("太字"), &ViewerEditor::ToggleBold},
        {"Italic", QStringLiteral("斜体"), &ViewerEditor::ToggleItalic},
        {"Underline", QStringLiteral("下線"), &ViewerEditor::ToggleUnderline},
        {"Search", QStringLiteral("検索"), &ViewerEditor::Search},
    }};
    return buttons;
}

const QString kSearchPrompt = QStringLiteral("検索文字（検索文字を右の欄に入力後、検索ボタン、または編集→検索）");
// The one filter of the open and save dialogs: text and settings files.
const QString kTextFilter = QStringLiteral("txtファイル(*.txt,*.ini) (*.txt *.ini)");

// Where the open and save dialogs start: the folder used last, for the
// whole run, beginning with the folder the program was started in.
QString& lastFolder() {
    static QString folder = QDir::currentPath();
    return folder;
}

void rememberFolderOf(const QString& path) { lastFolder() = QFileInfo(path).absolutePath(); }

// The selected text as plain text, with its line breaks as "\n" (the
// cursor's own selectedText() has U+2029 between paragraphs).
QString selectedPlainText(const QTextCursor& cursor) { return cursor.selection().toPlainText(); }

}  // namespace

struct ViewerEditor::Loading {
    std::shared_ptr<TextFileReader> reader;
    bool wasReadOnly = false;
};

ViewerEditor::ViewerEditor(WindowDirectory& windows, QWidget* window, QPlainTextEdit* rtfEd)
    : QObject(window), windows_(windows), window_(window), rtfEd_(rtfEd), module_(EditorModule::Instance()) {
    // The text box is a plain-text one: its document is laid out only
    // where it is seen, so that a large file is shown at once and costs no
    // layout of pages nobody looks at; and a paste brings in no formats
    // that the style buttons, which act on the whole text, could not
    // switch off, or that a save would drop.
    buildMenus();
    buildToolBar();
    buildSearchBox();
    // Any change counts, the viewer's own filling with a message included.
    connect(rtfEd_, &QPlainTextEdit::textChanged, this, [this] { module_.DocumentDirty = true; });
    // A text put into the editor while a large file arrives (a message
    // shown, New) replaces it: the rest of the file no longer goes in.
    connect(rtfEd_->document(), &QTextDocument::contentsChange, this, [this](int, int, int) {
        if (loading_ && !appending_) endLoading(false);
    });
    connect(&pieceWatcher_, &QFutureWatcher<std::shared_ptr<PieceResult>>::finished, this, &ViewerEditor::takePiece);
}

ViewerEditor::~ViewerEditor() = default;

void ViewerEditor::buildMenus() {
    menuBar_ = new QMenuBar(window_);
    menuBar_->setObjectName(QStringLiteral("menuBar"));
    const auto item = [this](QMenu* menu, const char* name, const QString& caption, Command command) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    const auto line = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QString::fromLatin1(name)); };

    QMenu* mFile = menuBar_->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mnew = item(mFile, "mnew", QStringLiteral("新規作成"), &ViewerEditor::NewDocument);
    mopen = item(mFile, "mopen", QStringLiteral("開く"), &ViewerEditor::OpenTextFile);
    msave = item(mFile, "msave", QStringLiteral("名前を付けて保存"), &ViewerEditor::SaveAsTextFile);
    // Prints as the toolbar's button does: an item that does nothing would
    // leave the user waiting for paper that never comes.
    mprint = item(mFile, "mprint", QStringLiteral("印刷"), &ViewerEditor::Print);
    line(mFile, "mlineTransfer");
    mimport = mFile->addAction(QStringLiteral("メールの取り込み..."));
    mimport->setObjectName(QStringLiteral("mimport"));
    connect(mimport, &QAction::triggered, this, &ViewerEditor::ImportMailRequested);
    mexport = mFile->addAction(QStringLiteral("メールの書き出し..."));
    mexport->setObjectName(QStringLiteral("mexport"));
    connect(mexport, &QAction::triggered, this, &ViewerEditor::ExportMailRequested);
    line(mFile, "mline");
    mend = item(mFile, "mend", QStringLiteral("終了"), &ViewerEditor::Quit);

    QMenu* medit = menuBar_->addMenu(QStringLiteral("編集(&E)"));
    medit->setObjectName(QStringLiteral("medit"));
    mall = item(medit, "mall", QStringLiteral("全て選択"), &ViewerEditor::SelectAll);
    matamajump = item(medit, "matamajump", QStringLiteral("文頭へジャンプ"), &ViewerEditor::JumpToTop);
    mbunmatujump = item(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"), &ViewerEditor::JumpToEnd);
    line(medit, "mline3");
    mkensaku = item(medit, "mkensaku", QStringLiteral("検索"), &ViewerEditor::Search);
    mtugikensaku = item(medit, "mtugikensaku", QStringLiteral("次を検索"), &ViewerEditor::SearchNext);
    line(medit, "mline2");
    mcut = item(medit, "mcut", QStringLiteral("切り取り"), &ViewerEditor::Cut);
    mcopy = item(medit, "mcopy", QStringLiteral("コピー"), &ViewerEditor::Copy);
    mpaste = item(medit, "mpaste", QStringLiteral("貼り付け"), &ViewerEditor::Paste);
}

void ViewerEditor::buildToolBar() {
    toolBar_ = new QToolBar(window_);
    toolBar_->setObjectName(QStringLiteral("tbToolBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    // Small pictures: the toolbar lives in a band 450 twips (30 pixels) high.
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const ToolButton& button : toolButtons()) {
        const QString key = QString::fromLatin1(button.key);
        QAction* action = toolBar_->addAction(EditorIcon(key), button.tip);
        action->setObjectName(key);
        action->setToolTip(button.tip);
        connect(action, &QAction::triggered, this, [this, key] { tbToolBar_ButtonClick(key); });
    }
}

void ViewerEditor::buildSearchBox() {
    Label2 = new QLabel(kSearchPrompt, window_);
    Label2->setObjectName(QStringLiteral("Label2"));
    // Two lines in 8 points: the prompt then fits the toolbar's band
    // beside the buttons.
    Label2->setWordWrap(true);
    Label2->setFont(JapaneseFont(8));
    Text1 = new QLineEdit(window_);
    Text1->setObjectName(QStringLiteral("Text1"));
    Label2->setBuddy(Text1);
}

QAction* ViewerEditor::toolButton(const QString& key) const {
    for (QAction* action : toolBar_->actions())
        if (action->objectName() == key) return action;
    return nullptr;
}

void ViewerEditor::tbToolBar_ButtonClick(const QString& key) {
    if (loading_) return;
    for (const ToolButton& button : toolButtons()) {
        if (key == QLatin1String(button.key)) {
            (this->*button.command)();
            return;
        }
    }
}

Status ViewerEditor::LoadCurrentDocument() {
    if (module_.CurrentDocument.isEmpty()) {
        rtfEd_->clear();
        return success();
    }
    const auto bytes = ReadEditorFile(module_.CurrentDocument);
    if (!bytes) return Failure{bytes.error()};
    rtfEd_->setPlainText(DocumentToEditorText(bytes.value()));
    return success();
}

void ViewerEditor::ClearEditorSettings() {
    // Never stops the close: a failure is only told.
    const Status cleared = ClearEditorSettingsFile(EditorSettingsPath(windows_.program().paths), module_.AutoSaveChoice);
    if (!cleared) ShowWarning(window_, cleared.error());
}

bool ViewerEditor::writeText(const QString& path, QStringView text, const QByteArray& bytes) {
    const Status written = WriteEditorFile(path, bytes);
    if (!written) {
        ShowWarning(window_, written.error());
        return false;
    }
    if (const int lost = CharactersLostInEncoding(text, bytes); lost > 0)
        ShowWarning(window_, QStringLiteral("「%1」に保存しました。ただし、Shift-JIS で表せない文字 %2 字は「?」に置き換えて"
                                            "保存しました。")
                                 .arg(path)
                                 .arg(lost));
    return true;
}

void ViewerEditor::quickSave() {
    // Without a document there is nothing to save to: the editor then holds
    // a message from the history, which is in the history already.
    if (module_.CurrentDocument.isEmpty()) return;
    const QString text = rtfEd_->toPlainText();
    if (writeText(module_.CurrentDocument, text, EditorTextToDocument(text))) module_.DocumentDirty = false;
}

void ViewerEditor::NewDocument() {
    if (NewDocumentAlreadyMade(module_.CurrentDocument)) return;
    switch (SaveBeforeNewRule(module_.DocumentDirty, module_.AutoSaveChoice)) {
    case SaveBeforeNew::Nothing:
        break;
    case SaveBeforeNew::Quietly:
        quickSave();
        break;
    case SaveBeforeNew::Ask:
        if (ShowMessage(window_, {MessageKind::Question, QStringLiteral("編集中のファイルを保存しますか？"),
                                  QStringLiteral("ファイルオープン")}) == MessageAnswer::Yes)
            quickSave();
        break;
    }
    const QString path = NewDocumentPath(module_.CurrentDocument, windows_.program().paths.folder());
    // The file first: when it cannot be made, the editor and the current
    // document stay as they were, and a later New can try again.
    const auto made = MakeNewDocument(path);
    if (!made) {
        ShowWarning(window_, made.error());
        return;
    }
    // Empty for a new file; the text of one that was there already.
    rtfEd_->setPlainText(made.value());
    module_.CurrentDocument = path;
    module_.DocumentDirty = false;
    window_->setWindowTitle(NewDocumentCaption(path));
}

void ViewerEditor::OpenTextFile() {
    const QString path = ChooseFileToOpen(window_, {QStringLiteral("開く"), lastFolder(), kTextFilter});
    if (path.isEmpty()) return;
    rememberFolderOf(path);
    const QFileInfo info(path);
    if (info.isFile() && info.size() > kTextPieceBytes) {
        startLoading(info.absoluteFilePath());
        return;
    }
    const auto bytes = ReadEditorFile(path);
    if (!bytes) {
        ShowWarning(window_, bytes.error());
        return;
    }
    window_->setWindowTitle(QFileInfo(path).absoluteFilePath());
    rtfEd_->setPlainText(TextFileToEditorText(bytes.value()));
}

void ViewerEditor::startLoading(const QString& path) {
    auto opened = TextFileReader::Open(path);
    if (!opened) {
        ShowWarning(window_, opened.error());
        return;
    }
    window_->setWindowTitle(path);
    // The old text goes first (and with it a load still under way).
    rtfEd_->setPlainText(QString());
    loading_ = std::make_unique<Loading>();
    loading_->reader = std::move(opened.value());
    loading_->wasReadOnly = rtfEd_->isReadOnly();
    // No undo steps for the file's own text.
    rtfEd_->document()->setUndoRedoEnabled(false);
    rtfEd_->setReadOnly(true);
    for (QAction* action : menuBar_->actions() + toolBar_->actions()) {
        if (action->menu()) {
            for (QAction* item : action->menu()->actions())
                if (item != mend) item->setEnabled(false);
        } else {
            action->setEnabled(false);
        }
    }
    readNextPiece();
}

void ViewerEditor::readNextPiece() {
    auto promise = std::make_shared<QPromise<std::shared_ptr<PieceResult>>>();
    pieceWatcher_.setFuture(promise->future());
    // The reader and the promise live as long as the work, whatever becomes
    // of the window meanwhile.
    QThreadPool::globalInstance()->start([reader = loading_->reader, promise] {
        promise->start();
        promise->addResult(std::make_shared<PieceResult>(reader->NextPiece()));
        promise->finish();
    });
}

void ViewerEditor::takePiece() {
    if (!loading_) return;
    const QFuture<std::shared_ptr<PieceResult>> future = pieceWatcher_.future();
    if (future.resultCount() == 0) {
        endLoading(false);
        return;
    }
    const std::shared_ptr<PieceResult> piece = future.result();
    if (!piece->ok()) {
        // What came so far stays, for the user to read; the rest is told.
        const QString error = piece->error();
        endLoading(false);
        ShowWarning(window_, error);
        return;
    }
    if (!piece->value()) {
        endLoading(true);
        return;
    }
    // The next piece is read and decoded while this one goes in.
    readNextPiece();
    appendPiece(*piece->value());
}

void ViewerEditor::appendPiece(const QString& text) {
    QTextDocument* document = rtfEd_->document();
    appending_ = true;
    const int firstNew = document->blockCount() - 1;
    QTextCursor end(document);
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    end.insertText(text);
    end.endEditBlock();
    // The scroll bar counts lines: a block of many lines that is not laid
    // out yet (it is laid out when it is seen) counts as its lines, not as
    // one.
    for (QTextBlock block = document->findBlockByNumber(firstNew); block.isValid(); block = block.next())
        block.setLineCount(static_cast<int>(block.text().count(QChar::LineSeparator)) + 1);
    document->markContentsDirty(document->lastBlock().position(), 0);
    appending_ = false;
}

void ViewerEditor::endLoading(bool ok) {
    if (!loading_) return;
    rtfEd_->setReadOnly(loading_->wasReadOnly);
    loading_.reset();
    rtfEd_->document()->setUndoRedoEnabled(true);
    for (QAction* action : menuBar_->actions() + toolBar_->actions()) {
        action->setEnabled(true);
        if (action->menu())
            for (QAction* item : action->menu()->actions()) item->setEnabled(true);
    }
    Q_EMIT loadingFinished(ok);
}

void ViewerEditor::SaveAsTextFile() {
    const QString path = ChooseFileToSave(window_, {QStringLiteral("名前を付けて保存"), lastFolder(), kTextFilter});
    if (path.isEmpty()) return;
    rememberFolderOf(path);
    if (SaveEditorTextAs(path)) window_->setWindowTitle(QFileInfo(path).absoluteFilePath());
}

bool ViewerEditor::SaveEditorTextAs(const QString& path) {
    const QString text = rtfEd_->toPlainText();
    return writeText(path, text, EditorTextToTextFile(text));
}

QPrinter& ViewerEditor::printer() {
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}

void ViewerEditor::Print() {
    const QTextCursor cursor = rtfEd_->textCursor();
    const bool hasSelection = cursor.hasSelection();
    QPrinter& chosen = printer();
    if (!AskToPrint(window_, chosen, PrintRequest{hasSelection})) return;
    // The dialog starts with the selection chosen when there is one; the
    // user may still ask for the whole text there.
    const QString text = hasSelection && chosen.printRange() == QPrinter::Selection ? selectedPlainText(cursor)
                                                                                    : rtfEd_->toPlainText();
    // The editor's face, size, bold and italic; the underline button is
    // for the screen.
    QFont font = rtfEd_->font();
    font.setUnderline(false);
    const Status printed = PrintTextCopies(chosen, text, font);
    if (!printed) ShowWarning(window_, printed.error());
}

// Cut, copy and paste stop the editor's painting while they work, so that
// the intermediate states never flash on the screen.
void ViewerEditor::Cut() {
    rtfEd_->setUpdatesEnabled(false);
    QTextCursor cursor = rtfEd_->textCursor();
    QClipboard* clipboard = QGuiApplication::clipboard();
    // With nothing selected, the clipboard ends up empty.
    clipboard->clear();
    if (cursor.hasSelection()) clipboard->setText(selectedPlainText(cursor));
    cursor.removeSelectedText();
    rtfEd_->setTextCursor(cursor);
    rtfEd_->setUpdatesEnabled(true);
    rtfEd_->setFocus();
}

void ViewerEditor::Copy() {
    rtfEd_->setUpdatesEnabled(false);
    QTextCursor cursor = rtfEd_->textCursor();
    // The caret goes after the copied text; with nothing selected, to the
    // very top.
    const int end = cursor.hasSelection() ? cursor.selectionEnd() : 0;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (cursor.hasSelection()) clipboard->setText(selectedPlainText(cursor));
    cursor.setPosition(end);
    rtfEd_->setTextCursor(cursor);
    rtfEd_->setUpdatesEnabled(true);
    rtfEd_->setFocus();
}

void ViewerEditor::Paste() {
    rtfEd_->setFocus();
    rtfEd_->setUpdatesEnabled(false);
    QTextCursor cursor = rtfEd_->textCursor();
    cursor.insertText(PasteText(QGuiApplication::clipboard()->text()));
    rtfEd_->setTextCursor(cursor);
    rtfEd_->setUpdatesEnabled(true);
    rtfEd_->setFocus();
}

void ViewerEditor::SelectAll() {
    QTextCursor cursor = rtfEd_->textCursor();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    rtfEd_->setTextCursor(cursor);
}

void ViewerEditor::JumpToTop() {
    QTextCursor cursor = rtfEd_->textCursor();
    cursor.movePosition(QTextCursor::Start);
    rtfEd_->setTextCursor(cursor);
    rtfEd_->setFocus();
}

void ViewerEditor::JumpToEnd() {
    QTextCursor cursor = rtfEd_->textCursor();
    cursor.movePosition(QTextCursor::End);
    rtfEd_->setTextCursor(cursor);
    rtfEd_->setFocus();
}

void ViewerEditor::Search() {
    searchPos_ = SearchFromTop(rtfEd_->toPlainText(), Text1->text());
    selectMatch();
}

void ViewerEditor::SearchNext() {
    searchPos_ = SearchNextFrom(rtfEd_->toPlainText(), Text1->text(), searchPos_);
    selectMatch();
}

// Nothing found: no message, and the selection stays where it was.
void ViewerEditor::selectMatch() {
    if (searchPos_ <= 0) return;
    rtfEd_->setFocus();
    QTextCursor cursor = rtfEd_->textCursor();
    cursor.setPosition(searchPos_ - 1);
    cursor.setPosition(searchPos_ - 1 + static_cast<int>(Text1->text().size()), QTextCursor::KeepAnchor);
    rtfEd_->setTextCursor(cursor);
}

// The style buttons act on the editor's font, that is on the whole text,
// whatever is selected.
void ViewerEditor::ToggleBold() {
    QFont font = rtfEd_->font();
    font.setBold(ClickStyleToggle(module_.BoldToggle));
    rtfEd_->setFont(font);
}

void ViewerEditor::ToggleItalic() {
    QFont font = rtfEd_->font();
    font.setItalic(ClickStyleToggle(module_.ItalicToggle));
    rtfEd_->setFont(font);
}

void ViewerEditor::ToggleUnderline() {
    QFont font = rtfEd_->font();
    font.setUnderline(ClickStyleToggle(module_.UnderlineToggle));
    rtfEd_->setFont(font);
}

void ViewerEditor::Quit() {
    // The viewer is only hidden: it stays loaded with its list.
    if (QWidget* main = windows_.MainWindow()) ShowInPlaceOf(main, window_);
    else window_->hide();
}

}  // namespace lumopet
