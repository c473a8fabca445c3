#pragma once
// The drafts of the compose and reply windows: the Maildir
// "\★MailData\Maildir.drafts", one file for each window's draft, named with
// the draft's id (the Maildir tag). A draft is replaced the safe way: the
// new file is delivered (written in tmp/, flushed, linked into new/) and
// only then is the old one removed, so a crash at any moment leaves at least
// one whole copy, never only a temporary file.
//
// The folder is read as an attacker might have prepared it: only regular
// files of a sensible size, opened without following a link and without
// waiting on a FIFO. Anything else is skipped with a line that says so.
// What a file holds is read above this layer (mail/draft_message.h).

#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace lumopet {

// "\★MailData\Maildir.drafts".
QString DraftsMaildirPath(const ProgramPaths& paths);

// A draft file larger than this is no draft of ours (a typed letter is a few
// kilobytes; the attachments are only named).
inline constexpr qint64 kLargestDraftFile = 16 * 1024 * 1024;

// A new id for a window's draft, unique among all drafts.
QString NewDraftId();

struct DraftFile {
    QString id;
    QString path;
    QDateTime saved;  // the file's modification time
    QByteArray message;
};

struct DraftFiles {
    // Each id once, with its newest file; newest first.
    std::vector<DraftFile> files;
    // One line for each entry skipped: a link, a FIFO, a folder, too large,
    // unreadable, not named as a draft.
    QStringList skipped;
};

// Writes message as the draft id, replacing the one stored under that id.
// Returns the path of the new file.
Result<QString> SaveDraftFile(const QString& maildir, const QString& id, QByteArrayView message);

// Removes every file of the draft id; none is no failure.
Status RemoveDraftFile(const QString& maildir, const QString& id);

// The draft files in the Maildir (new/ and cur/); a missing Maildir holds
// none. Fails only when the folder itself cannot be read.
Result<DraftFiles> ReadDraftFiles(const QString& maildir);

}  // namespace lumopet
