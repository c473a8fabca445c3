// The editor of the history viewer, offscreen, over a stand-in window:
// search, the clipboard commands, the style buttons, New, open and save
// through the dialogs' stand-ins, printing to a PDF file, and quitting.

#include "core/cp932.h"
#include "core/program.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "viewer/editor_files.h"
#include "viewer/editor_icons.h"
#include "viewer/editor_module.h"
#include "viewer/print_dialog.h"
#include "viewer/viewer_editor.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace lumopet {
namespace {

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

class ViewerEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Module-wide state lives for the run: each test starts the run anew.
        EditorModule::Instance() = EditorModule{};
        ASSERT_TRUE(program.paths.createFolders());
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
        QGuiApplication::clipboard()->clear();
        openViewer();
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetOpenFileChooser({});
        SetSaveFileChooser({});
        SetPrintAnswerer({});
    }

    // A viewer window as the history viewer makes one: a text box and the
    // editor over it.
    void openViewer() {
        window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("着信履歴"));
        rtfEd = new QPlainTextEdit(window.get());
        editor = new ViewerEditor(windows, window.get(), rtfEd);
    }

    void setText(const QString& text, int selectionStart = 0, int selectionEnd = 0) {
        rtfEd->setPlainText(text);
        QTextCursor cursor = rtfEd->textCursor();
        cursor.setPosition(selectionStart);
        cursor.setPosition(selectionEnd, QTextCursor::KeepAnchor);
        rtfEd->setTextCursor(cursor);
    }
    int selectionStart() const { return rtfEd->textCursor().selectionStart(); }
    int selectionLength() const { return rtfEd->textCursor().selectionEnd() - rtfEd->textCursor().selectionStart(); }
    int caret() const { return rtfEd->textCursor().position(); }

    void trigger(const char* action) {
        auto* found = window->findChild<QAction*>(QString::fromLatin1(action));
        ASSERT_NE(found, nullptr) << action;
        found->trigger();
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path(QStringLiteral("program")))};
    FakeWindows windows{program};
    std::unique_ptr<QWidget> window;
    QPlainTextEdit* rtfEd = nullptr;
    ViewerEditor* editor = nullptr;
    QList<MessageRequest> boxes;
};

// ---- Search -------------------------------------------------------------

enum class Step { Search, Next };

struct Expected {
    Step step;
    int start;  // selection afterwards
    int length;
    int searchPos;
};

struct SearchCase {
    const char* name;
    QString text;
    QString what;
    int selectionStart, selectionEnd;  // before the first step
    std::vector<Expected> steps;
};

class EditorSearch : public ViewerEditorTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(EditorSearch, SelectsEachMatchAndWrapsAround) {
    const SearchCase& c = GetParam();
    setText(c.text, c.selectionStart, c.selectionEnd);
    editor->Text1->setText(c.what);
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Expected& e = c.steps[i];
        trigger(e.step == Step::Search ? "mkensaku" : "mtugikensaku");
        EXPECT_EQ(selectionStart(), e.start) << "step " << i;
        EXPECT_EQ(selectionLength(), e.length) << "step " << i;
        EXPECT_EQ(editor->SearchPos(), e.searchPos) << "step " << i;
    }
    EXPECT_TRUE(boxes.isEmpty()) << "a search never shows a message";
    EXPECT_EQ(rtfEd->toPlainText(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorSearch,
    ::testing::Values(
        SearchCase{"LetterBInAbcabc", QStringLiteral("abcabc"), QStringLiteral("b"), 0, 0,
                   {{Step::Search, 1, 1, 2}, {Step::Next, 4, 1, 5}, {Step::Next, 4, 1, 0}, {Step::Next, 1, 1, 2}}},
        SearchCase{"CaseSensitive", QStringLiteral("abc"), QStringLiteral("ABC"), 0, 1, {{Step::Search, 0, 1, 0}}},
        SearchCase{"AbsentTextKeepsTheCaret", QStringLiteral("abc"), QStringLiteral("zz"), 2, 2,
                   {{Step::Search, 2, 0, 0}, {Step::Next, 2, 0, 0}}},
        // After the last match the next search starts at the search text's
        // length: a match at the very top is passed over on that round.
        SearchCase{"WrapPassesOverTheTopMatch", QStringLiteral("bcxbc"), QStringLiteral("bc"), 0, 0,
                   {{Step::Search, 0, 2, 1}, {Step::Next, 3, 2, 4}, {Step::Next, 3, 2, 0}, {Step::Next, 3, 2, 4}}},
        SearchCase{"PositionsCountLineBreaks", QStringLiteral("one\ntwo\nthree"), QStringLiteral("two"), 0, 0,
                   {{Step::Search, 4, 3, 5}}},
        SearchCase{"PositionsCountUtf16Units", QStringLiteral("あいう😀あい"), QStringLiteral("あい"), 0, 0,
                   {{Step::Search, 0, 2, 1}, {Step::Next, 5, 2, 6}}},
        SearchCase{"EmptySearchTextFindsNothing", QStringLiteral("abc"), QString(), 1, 2,
                   {{Step::Search, 1, 1, 0}, {Step::Next, 1, 1, 0}}}),
    CaseName);

// ---- Cut, copy, paste -----------------------------------------------------

struct ClipboardCase {
    const char* name;
    const char* action;  // a menu item or a toolbar button
    QString text;
    int selectionStart, selectionEnd;
    QString clipboardBefore;
    QString textAfter;
    int caretAfter;
    QString clipboardAfter;
};

class EditorClipboard : public ViewerEditorTest, public ::testing::WithParamInterface<ClipboardCase> {};

TEST_P(EditorClipboard, MovesTextAndCaretAsTheCommandSays) {
    const ClipboardCase& c = GetParam();
    setText(c.text, c.selectionStart, c.selectionEnd);
    QGuiApplication::clipboard()->setText(c.clipboardBefore);
    trigger(c.action);
    EXPECT_EQ(rtfEd->toPlainText(), c.textAfter);
    EXPECT_EQ(caret(), c.caretAfter);
    EXPECT_EQ(selectionLength(), 0);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.clipboardAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorClipboard,
    ::testing::Values(
        ClipboardCase{"CopyWithoutSelectionEmptiesTheClipboard", "mcopy", QStringLiteral("abc"), 2, 2,
                      QStringLiteral("old"), QStringLiteral("abc"), 0, QString()},
        ClipboardCase{"CopyLeavesTheCaretAfterTheText", "Copy", QStringLiteral("abcdef"), 3, 1, QStringLiteral("old"),
                      QStringLiteral("abcdef"), 3, QStringLiteral("bc")},
        ClipboardCase{"CopyAcrossLines", "mcopy", QStringLiteral("ab\ncd"), 1, 4, QString(), QStringLiteral("ab\ncd"),
                      4, QStringLiteral("b\nc")},
        ClipboardCase{"CutRemovesTheSelection", "mcut", QStringLiteral("abcdef"), 1, 3, QStringLiteral("old"),
                      QStringLiteral("adef"), 1, QStringLiteral("bc")},
        ClipboardCase{"CutWithoutSelectionEmptiesTheClipboard", "Cut", QStringLiteral("abc"), 1, 1,
                      QStringLiteral("old"), QStringLiteral("abc"), 1, QString()},
        ClipboardCase{"PasteDropsTheBlanksAround", "mpaste", QStringLiteral("xy"), 1, 1, QStringLiteral("  abc  "),
                      QStringLiteral("xabcy"), 4, QStringLiteral("  abc  ")},
        ClipboardCase{"PasteReplacesTheSelection", "Paste", QStringLiteral("x123y"), 1, 4, QStringLiteral("abc"),
                      QStringLiteral("xabcy"), 4, QStringLiteral("abc")},
        ClipboardCase{"PasteKeepsAFullWidthBlank", "mpaste", QString(), 0, 0, QStringLiteral("\u3000abc "),
                      QStringLiteral("\u3000abc"), 4, QStringLiteral("\u3000abc ")}),
    CaseName);

TEST_F(ViewerEditorTest, SelectAllAndTheJumps) {
    setText(QStringLiteral("ab\ncd"), 2, 2);
    trigger("mall");
    EXPECT_EQ(selectionStart(), 0);
    EXPECT_EQ(selectionLength(), 5);
    trigger("mbunmatujump");
    EXPECT_EQ(caret(), 5);
    EXPECT_EQ(selectionLength(), 0);
    trigger("matamajump");
    EXPECT_EQ(caret(), 0);
}

// ---- Bold, italic, underline ---------------------------------------------

struct StyleCase {
    const char* name;
    const char* key;
    bool (QFont::*style)() const;
};

class EditorStyle : public ViewerEditorTest, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(EditorStyle, ClicksAlternateOnTheWholeText) {
    const StyleCase& c = GetParam();
    // A selection does not narrow it: the style is the whole text's.
    setText(QStringLiteral("abc\ndef"), 1, 2);
    std::vector<bool> states;
    for (int click = 0; click < 3; ++click) {
        trigger(c.key);
        EXPECT_EQ((rtfEd->document()->defaultFont().*c.style)(), (rtfEd->font().*c.style)());
        states.push_back((rtfEd->font().*c.style)());
    }
    EXPECT_EQ(states, (std::vector<bool>{true, false, true}));

    // The counters outlive the window: in a viewer made anew, the next click
    // of the same button is the fourth, and switches the style off.
    openViewer();
    trigger(c.key);
    EXPECT_FALSE((rtfEd->font().*c.style)());
}

INSTANTIATE_TEST_SUITE_P(Cases, EditorStyle,
                         ::testing::Values(StyleCase{"Bold", "Bold", &QFont::bold},
                                           StyleCase{"Italic", "Italic", &QFont::italic},
                                           StyleCase{"Underline", "Underline", &QFont::underline}),
                         CaseName);

// ---- New ------------------------------------------------------------------

struct NewCase {
    const char* name;
    std::optional<QByteArray> existing;  // 新規作成.TXT before the first New
    QString editorText;                  // afterwards
};

class EditorNew : public ViewerEditorTest, public ::testing::WithParamInterface<NewCase> {};

TEST_P(EditorNew, MakesTheDocumentOnceInTheProgramFolder) {
    const NewCase& c = GetParam();
    const QString path = program.paths.folder() + QStringLiteral("/新規作成.TXT");
    if (c.existing) folder.write(QStringLiteral("program/新規作成.TXT"), *c.existing);
    // Started from another folder: New must not put its file there.
    const QString startedIn = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    setText(QStringLiteral("a message from the history"));
    ASSERT_TRUE(EditorModule::Instance().DocumentDirty);

    trigger("mnew");
    QDir::setCurrent(startedIn);
    EXPECT_EQ(rtfEd->toPlainText(), c.editorText);
    EXPECT_EQ(folder.read(QStringLiteral("program/新規作成.TXT")), c.existing.value_or(QByteArray()));
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral("新規作成.TXT"))));
    EXPECT_EQ(EditorModule::Instance().CurrentDocument, path);
    EXPECT_FALSE(EditorModule::Instance().DocumentDirty);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("新規作成.TXT      ") + path);
    EXPECT_TRUE(boxes.isEmpty());

    // A second New does nothing, whatever was typed since.
    setText(QStringLiteral("typed"));
    editor->tbToolBar_ButtonClick(QStringLiteral("New"));
    EXPECT_EQ(rtfEd->toPlainText(), QStringLiteral("typed"));
    EXPECT_EQ(folder.read(QStringLiteral("program/新規作成.TXT")), c.existing.value_or(QByteArray()));
    EXPECT_TRUE(EditorModule::Instance().DocumentDirty);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorNew,
    ::testing::Values(NewCase{"CreatesAnEmptyDocument", std::nullopt, QString()},
                      NewCase{"ShowsTextAlreadyThereInsteadOfEmptyingIt", QByteArray("\x83\x81\x83\x82\r\nline2"),
                              QStringLiteral("メモ\nline2")},
                      NewCase{"KeepsAnEmptyFileAsItIs", QByteArray(), QString()}),
    CaseName);

TEST_F(ViewerEditorTest, NewThatCannotMakeItsFileTellsAndChangesNothing) {
    ASSERT_TRUE(QDir(program.paths.folder()).removeRecursively());
    setText(QStringLiteral("message"));
    trigger("mnew");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("新規作成.TXT")));
    EXPECT_EQ(rtfEd->toPlainText(), QStringLiteral("message"));
    EXPECT_TRUE(EditorModule::Instance().CurrentDocument.isEmpty()) << "a later New tries again";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("着信履歴"));
}

TEST_F(ViewerEditorTest, ViewerLoadShowsTheDocumentNewMade) {
    trigger("mnew");
    setText(QStringLiteral("typed"));
    folder.write(QStringLiteral("program/新規作成.TXT"), "a\r\nb");
    openViewer();
    ASSERT_TRUE(editor->LoadCurrentDocument().ok());
    EXPECT_EQ(rtfEd->toPlainText(), QStringLiteral("a\nb"));
    ASSERT_TRUE(QFile::remove(folder.path(QStringLiteral("program/新規作成.TXT"))));
    EXPECT_FALSE(editor->LoadCurrentDocument().ok());
}

// ---- Open and save as -----------------------------------------------------

struct OpenCase {
    const char* name;
    const char* action;   // the menu item or the toolbar button
    QString chosen;       // relative to the test's folder; empty: cancelled
    QString editorText;   // afterwards; the caption is then the path
    bool told;
};

class EditorOpen : public ViewerEditorTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(EditorOpen, ShowsTheFileOrChangesNothing) {
    const OpenCase& c = GetParam();
    folder.write(QStringLiteral("ab.txt"), "a\r\nb");
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("folder.txt")));
    setText(QStringLiteral("message"));
    OpenFileRequest asked;
    SetOpenFileChooser([&](const OpenFileRequest& request) {
        asked = request;
        return c.chosen.isEmpty() ? QString() : folder.path(c.chosen);
    });
    trigger(c.action);
    EXPECT_TRUE(asked.filter.contains(QStringLiteral("(*.txt *.ini)")));
    EXPECT_EQ(rtfEd->toPlainText(), c.editorText);
    const bool opened = c.editorText != QStringLiteral("message");
    EXPECT_EQ(window->windowTitle(), opened ? folder.path(c.chosen) : QStringLiteral("着信履歴"));
    EXPECT_TRUE(EditorModule::Instance().CurrentDocument.isEmpty()) << "open does not change the document New made";
    ASSERT_EQ(boxes.size(), c.told ? 1 : 0);
    if (c.told) {
        EXPECT_TRUE(boxes[0].text.contains(folder.path(c.chosen)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorOpen,
    ::testing::Values(
        OpenCase{"TwoLinesGetALineBreakEach", "Open", QStringLiteral("ab.txt"), QStringLiteral("a\nb\n"), false},
        OpenCase{"Cancelled", "mopen", QString(), QStringLiteral("message"), false},
        OpenCase{"Missing", "mopen", QStringLiteral("gone.txt"), QStringLiteral("message"), true},
        OpenCase{"NotARegularFile", "Open", QStringLiteral("folder.txt"), QStringLiteral("message"), true}),
    CaseName);

struct SaveAsCase {
    const char* name;
    QString text;
    QString target;          // relative to the test's folder
    QByteArray before;       // the file there before; empty: none
    QByteArray after;        // empty: no file written
    QString toldAbout;       // a word of the message; empty: no message
};

class EditorSaveAs : public ViewerEditorTest, public ::testing::WithParamInterface<SaveAsCase> {};

TEST_P(EditorSaveAs, WritesShiftJisWithCrLfOrTellsWhy) {
    const SaveAsCase& c = GetParam();
    if (!c.before.isEmpty()) folder.write(c.target, c.before);
    setText(c.text);
    EditorModule::Instance().DocumentDirty = true;
    SetSaveFileChooser([&](const SaveFileRequest&) { return folder.path(c.target); });
    trigger("msave");
    EXPECT_EQ(folder.read(c.target), c.after.isEmpty() ? (c.before.isEmpty() ? "<missing>" : c.before) : c.after);
    EXPECT_EQ(window->windowTitle(), c.after.isEmpty() ? QStringLiteral("着信履歴") : folder.path(c.target));
    EXPECT_TRUE(EditorModule::Instance().DocumentDirty) << "save as leaves the document's state alone";
    ASSERT_EQ(boxes.size(), c.toldAbout.isEmpty() ? 0 : 1);
    if (!c.toldAbout.isEmpty()) {
        EXPECT_TRUE(boxes[0].text.contains(c.toldAbout)) << boxes[0].text.toStdString();
    }
    EXPECT_EQ(QDir(QFileInfo(folder.path(c.target)).absolutePath()).entryList({QStringLiteral("*.lumopet-new")}),
              QStringList()) << "no half-written copy is left";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorSaveAs,
    ::testing::Values(
        SaveAsCase{"OneLetter", QStringLiteral("x"), QStringLiteral("x.txt"), {}, "x\r\n", {}},
        SaveAsCase{"ReplacesALongerFileWhole", QStringLiteral("あ\nb"), QStringLiteral("old.txt"),
                   "a much longer old text\r\n", "\x82\xa0\r\nb\r\n", {}},
        SaveAsCase{"LostCharactersAreTold", QStringLiteral("a😀"), QStringLiteral("e.txt"), {}, "a?\r\n",
                   QStringLiteral("1 字")},
        SaveAsCase{"MissingFolderIsTold", QStringLiteral("x"), QStringLiteral("none/x.txt"), {}, {},
                   QStringLiteral("none/x.txt")},
        SaveAsCase{"AFolderIsNotReplaced", QStringLiteral("x"), QStringLiteral("program"), {}, {},
                   QStringLiteral("program")}),
    CaseName);

// ---- A large file ---------------------------------------------------------

// A log of about 20 MB in CP932, its first and last lines told apart.
QByteArray largeLog(QString& first, QString& last) {
    QByteArray log;
    log.reserve(21 * 1000 * 1000);
    int n = 0;
    while (log.size() < 20 * 1000 * 1000)
        log += cp932::encode(QStringLiteral("2026-12-09 12:00:00 [INFO] 受信 %1 件目 <%1@example.jp> 完了①").arg(++n)) + "\r\n";
    first = QStringLiteral("2026-12-09 12:00:00 [INFO] 受信 1 件目 <1@example.jp> 完了①");
    last = QStringLiteral("2026-12-09 12:00:00 [INFO] 受信 %1 件目 <%1@example.jp> 完了①").arg(n);
    return log;
}

// Until the editor says the file is whole (or the bound passes).
bool waitForLoading(ViewerEditor* editor, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (editor->IsLoading() && clock.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !editor->IsLoading();
}

TEST_F(ViewerEditorTest, ALargeFileArrivesWholeInAPlainTextDocument) {
    QString first, last;
    folder.write(QStringLiteral("big.log"), largeLog(first, last));
    SetOpenFileChooser([&](const OpenFileRequest&) { return folder.path(QStringLiteral("big.log")); });
    window->show();
    QElapsedTimer clock;
    clock.start();
    trigger("mopen");
    // While it arrives, the window keeps answering and nothing reads half a text.
    EXPECT_TRUE(editor->IsLoading());
    EXPECT_TRUE(rtfEd->isReadOnly());
    EXPECT_FALSE(window->findChild<QAction*>(QStringLiteral("msave"))->isEnabled());
    EXPECT_TRUE(window->findChild<QAction*>(QStringLiteral("mend"))->isEnabled());
    ASSERT_TRUE(waitForLoading(editor, 60000)) << "a generous bound: the goal is 2 s on an idle machine";
    EXPECT_LT(clock.elapsed(), 60000);

    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(window->windowTitle(), folder.path(QStringLiteral("big.log")));
    EXPECT_NE(qobject_cast<QPlainTextDocumentLayout*>(rtfEd->document()->documentLayout()), nullptr);
    const QString text = rtfEd->toPlainText();
    EXPECT_TRUE(text.startsWith(first + u'\n'));
    EXPECT_TRUE(text.endsWith(u'\n' + last + u'\n'));
    EXPECT_EQ(text.count(u'\n'), last.section(u' ', 4, 4).toInt()) << "every line, each once";
    EXPECT_FALSE(rtfEd->isReadOnly());
    EXPECT_TRUE(window->findChild<QAction*>(QStringLiteral("msave"))->isEnabled());
    EXPECT_FALSE(rtfEd->document()->isUndoAvailable()) << "no undo steps for the file's own text";
    // The scroll bar knows the lines before they are laid out.
    EXPECT_GT(rtfEd->verticalScrollBar()->maximum(), text.count(u'\n') / 2);

    // Search and save see the same text as a small file gives.
    editor->Text1->setText(last);
    trigger("mkensaku");
    EXPECT_EQ(selectionStart(), text.size() - last.size() - 1);
    SetSaveFileChooser([&](const SaveFileRequest&) { return folder.path(QStringLiteral("saved.log")); });
    trigger("msave");
    EXPECT_EQ(folder.read(QStringLiteral("saved.log")), folder.read(QStringLiteral("big.log")) + "\r\n");
}

TEST_F(ViewerEditorTest, AMessageShownWhileALargeFileArrivesReplacesIt) {
    QString first, last;
    folder.write(QStringLiteral("big.log"), largeLog(first, last));
    SetOpenFileChooser([&](const OpenFileRequest&) { return folder.path(QStringLiteral("big.log")); });
    trigger("mopen");
    ASSERT_TRUE(editor->IsLoading());
    QCoreApplication::processEvents();
    rtfEd->setPlainText(QStringLiteral("a message"));
    EXPECT_FALSE(editor->IsLoading());
    // Pieces already on their way are not added.
    QTest::qWait(300);
    EXPECT_EQ(rtfEd->toPlainText(), QStringLiteral("a message"));
    EXPECT_TRUE(window->findChild<QAction*>(QStringLiteral("msave"))->isEnabled());

    // The window closed while a file arrives: the piece on its way finds
    // no editor, and nothing else happens.
    trigger("mopen");
    ASSERT_TRUE(editor->IsLoading());
    window.reset();
    QTest::qWait(300);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ViewerEditorTest, ClosingKeepsTheSettingsFileInItsWindowsLayout) {
    const QByteArray before = cp932::encode(
        QStringLiteral("[USER]\r\nNAME=山田　太郎\r\n[HIST]\r\n0=EMPTY\r\n[FLAG]\r\nAUTOSAVE=x\r\n"));
    folder.write(QStringLiteral("program/★MailData/pirabeno.ini"), before);
    editor->ClearEditorSettings();
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(folder.read(QStringLiteral("program/★MailData/pirabeno.ini")),
              cp932::encode(QStringLiteral("[USER]\r\nNAME=山田　太郎\r\n[FLAG]\r\nAUTOSAVE=\r\n")));
}

// ---- Print ----------------------------------------------------------------

struct PrintCase {
    const char* name;
    QString text;
    int selectionStart, selectionEnd;
    bool userChoosesAll;  // in the dialog, instead of the selection offered
    QString printed;      // the PDF's text, lines joined with "\n"
    bool severalPages;
};

class EditorPrint : public ViewerEditorTest, public ::testing::WithParamInterface<PrintCase> {
protected:
    // The PDF's text, one "\f" after each page.
    static QString pdfText(const QString& pdf) {
        QProcess process;
        process.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf,
                                                    QStringLiteral("-")});
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }
};

TEST_P(EditorPrint, PrintsTheEditorsTextOneCopyAJob) {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    const PrintCase& c = GetParam();
    setText(c.text, c.selectionStart, c.selectionEnd);
    const QString pdf = folder.path(QStringLiteral("out.pdf"));
    PrintRequest asked;
    SetPrintAnswerer([&](QPrinter& printer, const PrintRequest& request) {
        asked = request;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        if (c.userChoosesAll) printer.setPrintRange(QPrinter::AllPages);
        return true;
    });
    trigger("Print");
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(asked.selectionOffered, c.selectionStart != c.selectionEnd);
    const QString text = pdfText(pdf);
    // One "\f" a page.
    if (c.severalPages) {
        EXPECT_GT(text.count(u'\f'), 1);
    } else {
        EXPECT_EQ(text.count(u'\f'), 1);
    }
    QStringList lines = text.split(QRegularExpression(QStringLiteral("[\n\f]+")), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.join(u'\n'), c.printed);
}

QString numberedLines(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i) lines << QStringLiteral("line %1").arg(i);
    return lines.join(u'\n');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditorPrint,
    ::testing::Values(
        PrintCase{"WholeText", QStringLiteral("one line\nsecond line"), 0, 0, false,
                  QStringLiteral("one line\nsecond line"), false},
        PrintCase{"Selection", QStringLiteral("alpha beta gamma"), 6, 10, false, QStringLiteral("beta"), false},
        PrintCase{"AllWhenTheUserSaysSo", QStringLiteral("alpha beta gamma"), 6, 10, true,
                  QStringLiteral("alpha beta gamma"), false},
        PrintCase{"Japanese", QStringLiteral("日本語の本文①"), 0, 0, false, QStringLiteral("日本語の本文①"), false},
        // Long text runs onto more pages, with no page numbers added.
        PrintCase{"LongTextHasNoPageNumbers", numberedLines(120), 0, 0, false, numberedLines(120), true}),
    CaseName);

// A printer that notes its copy count whenever a job starts to paint.
class CopyCountingPrinter : public QPrinter {
public:
    QPaintEngine* paintEngine() const override {
        counts.push_back(copyCount());
        return QPrinter::paintEngine();
    }
    mutable std::vector<int> counts;
};

TEST(PrintTextCopies, EachCopyIsAJobOfOneCopy) {
    test::TempFolder folder;
    CopyCountingPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(folder.path(QStringLiteral("out.pdf")));
    printer.setCopyCount(3);
    ASSERT_TRUE(PrintTextCopies(printer, QStringLiteral("text"), QFont()).ok());
    EXPECT_EQ(printer.counts, std::vector<int>(3, 1)) << "a job of three copies, three times, would give nine";
    EXPECT_EQ(printer.copyCount(), 3) << "the dialog shows the count asked for last";
}

TEST_F(ViewerEditorTest, PrintCancelledOrFailedLeavesNoFile) {
    setText(QStringLiteral("text"));
    const QString pdf = folder.path(QStringLiteral("none/out.pdf"));
    bool accept = false;
    SetPrintAnswerer([&](QPrinter& printer, const PrintRequest&) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return accept;
    });
    trigger("mprint");
    EXPECT_TRUE(boxes.isEmpty()) << "cancel is silent";
    accept = true;
    trigger("mprint");
    ASSERT_EQ(boxes.size(), 1) << "an output that cannot be written is told";
    EXPECT_FALSE(QFileInfo::exists(pdf));
}

// ---- Quit, the toolbar's pictures -------------------------------------------

TEST_F(ViewerEditorTest, QuitBringsTheMainWindowBackInTheViewersPlace) {
    QWidget mainWindow;
    windows.mainWindow = &mainWindow;
    window->move(140, 90);
    window->show();
    trigger("mend");
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.pos(), window->pos());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ViewerEditorTest, EveryToolbarButtonHasAPicture) {
    for (QAction* action : editor->toolBar()->actions()) {
        EXPECT_FALSE(action->icon().isNull()) << action->objectName().toStdString();
        EXPECT_FALSE(DrawnEditorIcon(action->objectName()).isNull()) << action->objectName().toStdString();
    }
    EXPECT_EQ(editor->toolBar()->actions().size(), 11);
}

}  // namespace
}  // namespace lumopet
