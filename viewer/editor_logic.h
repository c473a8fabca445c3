#pragma once
// The rules of the viewer's editor that need no widget: the search with
// its wrap-around, the line ends of the files it opens and saves, the
// style buttons' click counters, and where New puts its document.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace lumopet {

// ---- Search ---------------------------------------------------------------
//
// Positions are 1-based, as the search has always counted them; 0 means
// "not found". They count UTF-16 units of the editor's plain text, which
// are the editor's own caret positions one for one.

// Where the first occurrence of `what` begins at or after `start`, exact and
// case-sensitive; 0 when there is none. An empty `what` finds nothing (it
// would "find" a place and select nothing there), and neither does a start
// before the text's first character.
int FindInText(QStringView text, QStringView what, int start);

// The search: from the top of the text.
inline int SearchFromTop(QStringView text, QStringView what) { return FindInText(text, what, 1); }

// The search-next: from just after the last match. After the last match it
// finds nothing and the position falls to 0; the next one then starts at
// the search text's length, which takes it back to the top. (A match that
// begins before that position is passed over on that round.)
inline int SearchNextFrom(QStringView text, QStringView what, int searchPos) {
    return FindInText(text, what, searchPos + static_cast<int>(what.size()));
}

// ---- Text files -----------------------------------------------------------

// A text file opened in the editor: code page 932, read line by line, each
// line followed by CR LF, so the result always ends in a line break. A line
// ends at CR LF, LF or a lone CR; an empty file gives an empty text.
QString TextFileToEditorText(QByteArrayView bytes);

// The file that "save as" writes: the editor text in code page 932, its
// line breaks as CR LF, followed by one more CR LF.
QByteArray EditorTextToTextFile(QStringView text);

// The document New made, as the editor saves and loads it: code page 932,
// CR LF line breaks, nothing added, nothing taken away.
QByteArray EditorTextToDocument(QStringView text);
QString DocumentToEditorText(QByteArrayView bytes);

// How many characters of the text code page 932 cannot hold, that is, how
// many "?" the encoder put in the bytes in their place. (A "?" is never
// the second byte of a double-byte character, so counting them is exact.)
int CharactersLostInEncoding(QStringView text, QByteArrayView encoded);

// ---- Style buttons --------------------------------------------------------

// One click of the bold, italic or underline button. An even counter
// switches the style on and becomes 1; an odd one switches it off and
// becomes 2. Returns whether the style is on afterwards.
bool ClickStyleToggle(std::int16_t& counter);

// ---- New ------------------------------------------------------------------

inline const QString kNewDocumentName = QStringLiteral("新規作成.TXT");

// New acts once: when the current document is already the one New made
// (its path holds the name, letter case exact), it does nothing.
inline bool NewDocumentAlreadyMade(const QString& currentDocument) {
    return currentDocument.contains(kNewDocumentName, Qt::CaseSensitive);
}

// The path up to and including its last "/"; a path without one, whole.
QString FolderOfPath(const QString& path);

// Where New puts its document: beside the current document, or in the
// program folder while there is none (never in whatever folder the program
// happened to be started from).
QString NewDocumentPath(const QString& currentDocument, const QString& programFolder);

// The caption of the window while it edits the new document.
inline QString NewDocumentCaption(const QString& path) { return kNewDocumentName + QString(6, u' ') + path; }

// Whether New first saves a changed document: without asking unless the
// auto-save choice says "しない" (do not), in which case it asks.
enum class SaveBeforeNew { Nothing, Quietly, Ask };
inline const QString kAutoSaveOff = QStringLiteral("しない");
SaveBeforeNew SaveBeforeNewRule(bool documentDirty, const QString& autoSaveChoice);

// ---- Paste ----------------------------------------------------------------

// The clipboard text as paste inserts it: without leading and trailing
// blanks (U+0020 only; a full-width blank is text and stays).
QString PasteText(QStringView clipboardText);

}  // namespace lumopet
