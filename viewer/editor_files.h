#pragma once
// The files the viewer's editor reads and writes: the user's text files,
// the document New makes, and the small settings file of the editor. Every
// failure comes back with the sentence the user will read: a file that was
// not saved must never look as if it had been.

#include "core/result.h"

#include <QByteArray>
#include <QString>

namespace lumopet {

class ProgramPaths;

// The bytes of a text file to open. Only a regular file is read (a pipe or
// a device would hang the window or never end).
Result<QByteArray> ReadEditorFile(const QString& path);

// Replaces (or creates) the file with the bytes: the new file is written
// beside it and renamed over it, so a failed save leaves the old file whole.
Status WriteEditorFile(const QString& path, QByteArrayView bytes);

// The file step of New, for the document at `path`. A missing file is
// created empty (never through a link). A file that is already there is
// never emptied: its text comes back, for the editor to show, and it
// becomes the current document as it is.
Result<QString> MakeNewDocument(const QString& path);

// The settings file of the editor, in the data folder: "pirabeno.ini".
QString EditorSettingsPath(const ProgramPaths& paths);

// The tidy-up when the viewer closes: the sections "HIST" and "OKINI" go,
// and "AUTOSAVE" of section "FLAG" holds the auto-save choice. The file is
// a profile file as Windows writes it (CP932, CR LF), and every other line
// stays byte for byte. A file that is there but cannot be read is left
// alone.
Status ClearEditorSettingsFile(const QString& path, const QString& autoSaveChoice);

// The settings file as earlier versions of the program left it, brought to
// the profile layout. They wrote it through QSettings: UTF-8 and LF line
// ends, which no Windows tool writes, so a file without any CR is taken for
// one of theirs. Its line ends become CR LF, and its text CP932 when it is
// UTF-8 that CP932 holds whole; other text (such as the U+FFFD those
// versions left for characters they could not read) keeps its bytes. Any
// other file comes back as it is.
QByteArray FromEarlierEditorSettings(QByteArray file);

}  // namespace lumopet
