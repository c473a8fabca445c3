#pragma once
// Every message received and sent, kept whole in Maildirs in the data
// folder. The history records hold about 12,000 bytes of a message's text;
// these hold the sources, so that nothing is lost to the record's size and
// any other mail program can read the mail.
//
// Delivery is the usual one: the file is written in tmp/, flushed, linked
// into new/ under a name no other file has (time.pid_counter.host), and
// new/ is flushed too, so that the message is on disk when this returns.
// Lines end in LF, as Maildir readers expect; the CR LF of the wire form is
// turned into LF and nothing else is changed.

#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

namespace lumopet {

// "\★MAilData\Maildir": what was received.
QString ReceivedMaildirPath(const ProgramPaths& paths);
// "\★MAilData\Maildir.sent": what was sent, as it went out.
QString SentMaildirPath(const ProgramPaths& paths);

// The message with each CR LF turned into LF.
QByteArray MaildirLocalForm(QByteArrayView message);

// When a delivery reaches the disk: at once, or with the next
// SyncMaildir. A mail check delivers every message it fetches and flushes
// them all once, before it lets the server delete anything: one flush
// instead of three for each of a thousand messages.
enum class MaildirFlush { Now, Later };

// Delivers message into the Maildir at maildir, creating it and its cur/,
// new/ and tmp/ (mode 0700) when they are missing. A link, or anything but
// a folder, where one of them should be is refused. A non-empty tag (any
// text) goes into the file's name, so that MaildirHolds can find the
// message again. Returns the path of the new file.
Result<QString> DeliverToMaildir(const QString& maildir, QByteArrayView message, const QString& tag = {},
                                 MaildirFlush flush = MaildirFlush::Now);

// Puts every delivery made with MaildirFlush::Later on disk, with whatever
// else waits to be written on the same file system (syncfs).
Status SyncMaildir(const QString& maildir);

// The tags of the files the Maildir holds, in new/ and cur/. Read once, it
// spares a check listing the folder for each message it fetches; only a
// tag found here needs MaildirHolds. A missing Maildir holds none.
Result<QSet<QString>> ReadMaildirTags(const QString& maildir);

// Whether the Maildir already holds a file delivered with tag whose content
// is message: a check cut short after the delivery fetches the message
// again, and must not keep it twice. A missing Maildir holds nothing.
Result<bool> MaildirHolds(const QString& maildir, QByteArrayView message, const QString& tag);

}  // namespace lumopet
