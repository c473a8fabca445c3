#pragma once
// Every message received and sent, kept whole in Maildirs in the data
// folder. The history records hold about 12,000 bytes of a message's text;
// these hold the sources, so that nothing is lost to the record's size and
// any other mail program can read the mail.
//
// Delivery is the usual one: the file is written in tmp/, flushed, linked
// into new/ under a name no other file has (time.pid_counter.host), and
// new/ is flushed too; a mail check flushes all its deliveries at once
// instead (MaildirFlush::Later).
// Lines end in LF, as Maildir readers expect; the CR LF of the wire form is
// turned into LF and nothing else is changed.

#include "core/program_paths.h"
#include "core/result.h"
#include "core/unique_fd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <optional>

namespace lumopet {

// "\★MAilData\Maildir": what was received.
QString ReceivedMaildirPath(const ProgramPaths& paths);
// "\★MAilData\Maildir.sent": what was sent, as it went out.
QString SentMaildirPath(const ProgramPaths& paths);

// The message with each CR LF turned into LF.
QByteArray MaildirLocalForm(QByteArrayView message);

enum class MaildirFlush { Now, Later };

// A Maildir's folders, made when missing and opened once for a run of
// deliveries: a mail check delivers a thousand messages through one. A
// link, or anything but a folder, where one of them should be is refused.
class MaildirFolders {
public:
    // Creates the Maildir and its cur/, new/ and tmp/ (mode 0700) when they
    // are missing, and flushes what it made.
    static Result<MaildirFolders> Open(const QString& maildir);

    // Writes message into tmp/ and links it into new/ under a name no
    // other file has. A non-empty tag (any text) goes into the name, so
    // that MaildirHeldCopy can find the message again. Returns the path of the
    // new file.
    // - MaildirFlush::Now flushes the file first; it is on disk once
    //   flushNew() has flushed its name too.
    // - MaildirFlush::Later leaves both to flushFileSystem(): a mail check
    //   delivers a thousand messages and flushes them all at once, before
    //   it lets the server delete any. A flush for each took longer than
    //   fetching them.
    Result<QString> deliver(QByteArrayView message, const QString& tag, MaildirFlush flush) const;

    // The same in two steps, for a message too large to hold: a new file
    // in tmp/ to write it into as it arrives (the caller closes fd), and
    // then moveToNew(), which links it into new/ under a name of its own
    // with tag and removes it from tmp/. Flushed as MaildirFlush::Later.
    struct TmpFile {
        int fd;
        QString path;
    };
    Result<TmpFile> createInTmp() const;
    // Removes what other processes left in tmp/: a program killed while a
    // message arrived. Only one program uses a program folder at a time,
    // so a file there not of this process is no delivery in progress.
    void removeLeftovers() const;
    Result<QString> moveToNew(const QString& tmpPath, const QString& tag) const;
    Status flushNew() const;
    // Puts on disk every delivery made with MaildirFlush::Later, with
    // whatever else waits to be written on the same file system (syncfs).
    Status flushFileSystem() const;

    const QString& path() const { return path_; }

private:
    MaildirFolders(QString path, int root) : path_(std::move(path)), root_(root) {}
    // A new file in tmp/, by its name there: a check delivers a thousand,
    // with no paths to build and take apart.
    struct NamedFile {
        int fd;
        QByteArray name;
    };
    std::optional<NamedFile> makeInTmp() const;
    Result<QString> linkIntoNew(const QByteArray& name, const QString& tag) const;
    QString path_;
    UniqueFd root_;
    UniqueFd tmp_{-1};
    UniqueFd new_{-1};
};

// Delivers one message (see MaildirFolders) and flushes it with its name:
// it is on disk when this returns.
Result<QString> DeliverToMaildir(const QString& maildir, QByteArrayView message, const QString& tag = {});

// Delivers a message already written into the Maildir's tmp/ (by
// MaildirFolders::createInTmp), in its local form: flushed, moved into
// new/, on disk when this returns.
Result<QString> DeliverTmpFileToMaildir(const QString& maildir, const QString& tmpPath);

// The tags of the files the Maildir holds, in new/ and cur/. Read once, it
// spares a check listing the folder for each message it fetches; only a
// tag found here needs MaildirHeldCopy. A missing Maildir holds none.
Result<QSet<QString>> ReadMaildirTags(const QString& maildir);

// Whether the Maildir already holds a file delivered with tag whose content
// is message: a check cut short after the delivery fetches the message
// again, and must not keep it twice. A missing Maildir holds nothing.
// Gives the path of that file, or none.
Result<std::optional<QString>> MaildirHeldCopy(const QString& maildir, QByteArrayView message, const QString& tag);
// The same for a message in a file, already in the Maildir's local form.
Result<std::optional<QString>> MaildirHeldCopyOfFile(const QString& maildir, const QString& path, const QString& tag);

}  // namespace lumopet
