#pragma once
// A message read for the viewer from its Maildir copy: everything the
// window shows of it, made off the window's thread. The window only puts
// it into its controls.
//
// The copy is the message: its whole text in any script, its HTML made
// safe, its attachments listed without being decoded, the pictures it
// carries inside itself. Nothing here opens a connection: remote pictures
// stay placeholders until the user asks for them, and then the window
// fetches them.

#include "mail/mime/html_sanitizer.h"
#include "mail/mime/message_view.h"

#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QTextDocument>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

class QThread;

namespace lumopet {

struct MessageReading {
    QString copyPath;
    // 文字コード指定: empty reads each part in its own charset.
    QByteArray charset;
    // 表示 → HTML: a message with both shows its HTML.
    bool preferHtml = false;
    // The user asked for this message's remote pictures.
    bool loadRemoteImages = false;
    // The HTML's document is made with this font and handed to this thread
    // (the window's): made there, a large one would hold the window up.
    QFont font;
    QThread* documentThread = nullptr;
};

// A document that loads nothing by itself: its pictures are the resources
// put into it, and nothing else is looked for, on disk or anywhere.
class MessageDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};

struct ShownMessage {
    QString subject, from, date;
    // The text as the user reads it (the HTML's text when HTML is shown),
    // lines ending in LF, with the attachment line after it when the message
    // carries files: what the clipboard, the reply and the editor take.
    QString text;
    // The safe HTML to show; empty shows text.
    QString html;
    // html laid into a document with its pictures, owned by the thread the
    // request named.
    std::shared_ptr<MessageDocument> document;
    bool offersText = false;
    bool offersHtml = false;
    std::vector<mail::ViewedPart> attachments;
    // The attachments the strip lists, by their place in attachments: all
    // but the pictures the HTML shows in its text.
    std::vector<int> listed;
    // "cid:<id>" and the picture the message carries under that id.
    QList<std::pair<QString, QImage>> inlineImages;
    // Remote pictures held back (or, when asked for, to fetch: picture i is
    // the resource "remote-image:i").
    QStringList remoteImages;
    std::vector<mail::SanitizedLink> links;
    // What could not be shown, a line each.
    QStringList notes;
    std::vector<std::pair<QString, QString>> headerFields;
    QString charset;
};

// Never fails: an unreadable copy gives a note saying so and no text.
ShownMessage ReadShownMessage(const MessageReading& request);

// The largest inline picture decoded for showing.
inline constexpr qint64 kLargestInlineImageBytes = 16 * 1024 * 1024;

}  // namespace lumopet
