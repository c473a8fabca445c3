#include "viewer/message_reading.h"

#include "mail/receive_mail.h"
#include "viewer/history_view.h"

#include <QSet>

#include <algorithm>
#include <QThread>
#include <QUrl>

namespace lumopet {
namespace {

const mail::ViewedPart* partWithId(const mail::ViewedMessage& message, QByteArrayView id) {
    for (const auto* parts : {&message.inlineParts, &message.attachments}) {
        for (const mail::ViewedPart& part : *parts) {
            if (!part.contentId.isEmpty() && part.contentId == id) return &part;
        }
    }
    return nullptr;
}

// What the viewer gives Qt of a message's HTML at most. A newsletter's safe
// HTML is well under 200 KB; a larger one is a message made to be heavy,
// and its end is said to be left out.
constexpr qsizetype kShownHtmlBytes = 512 * 1024;

// The text box lays out each line when it is given a text: past some ten
// thousand lines (a log sent as the body) it would hold the window for a
// second. What is beyond stays in the copy, for ソースを表示 and the search.
constexpr qsizetype kShownTextLines = 10000;
constexpr qsizetype kShownTextChars = 512 * 1024;

// The text cut to what the box shows at once, at a line's end.
bool cutForTheBox(QString& text) {
    qsizetype at = 0;
    for (qsizetype lines = 0; lines < kShownTextLines; ++lines) {
        const qsizetype end = text.indexOf(u'\n', at);
        if (end < 0) {
            at = text.size();
            break;
        }
        at = end + 1;
    }
    at = std::min(at, kShownTextChars);
    if (at >= text.size()) return false;
    text.truncate(at);
    return true;
}

// The pictures the HTML names by cid:, from the message's own parts. A part
// that is no picture, or too large, is left out and said.
void addInlineImages(const MessageReading& request, const mail::ViewedMessage& message,
                     const mail::SanitizedHtml& safe, ShownMessage& shown) {
    QSet<QByteArray> done;
    for (const QByteArray& id : safe.cidImages) {
        if (done.contains(id)) continue;
        done.insert(id);
        const mail::ViewedPart* part = partWithId(message, id);
        if (!part) continue;
        const std::optional<QByteArray> bytes =
            mail::PartContent(request.copyPath, part->path, kLargestInlineImageBytes);
        QImage image;
        if (bytes) image.loadFromData(*bytes);
        if (image.isNull()) {
            shown.notes << QStringLiteral("メールの中の画像「%1」は画像として読めないため、表示していません。")
                               .arg(part->fileName.isEmpty() ? QString::fromLatin1(id) : part->fileName);
            continue;
        }
        shown.inlineImages.append({QStringLiteral("cid:") + QString::fromLatin1(id), image});
    }
}

}  // namespace

QVariant MessageDocument::loadResource(int type, const QUrl& name) {
    (void)type, (void)name;
    return {};
}

ShownMessage ReadShownMessage(const MessageReading& request) {
    const mail::ViewedMessage message = mail::ViewMessageFile(request.copyPath, request.charset);
    ShownMessage shown;
    shown.subject = message.subject;
    shown.from = message.from;
    shown.date = message.date;
    shown.attachments = message.attachments;
    shown.notes = message.notes;
    shown.headerFields = message.headerFields;
    shown.charset = message.charset;
    shown.offersText = !message.text.isEmpty();
    shown.offersHtml = !message.html.isEmpty();

    const bool showHtml = shown.offersHtml && (request.preferHtml || !shown.offersText);
    if (showHtml) {
        mail::SanitizeOptions options;
        options.loadRemoteImages = request.loadRemoteImages;
        options.maxOutputBytes = kShownHtmlBytes;
        mail::SanitizedHtml safe = mail::SanitizeHtml(message.html, options);
        shown.html = std::move(safe.html);
        shown.text = EditorText(safe.text);
        shown.remoteImages = safe.remoteImages;
        shown.links = std::move(safe.links);
        shown.notes << safe.notes;
        addInlineImages(request, message, safe, shown);
        auto document = std::make_shared<MessageDocument>();
        document->setUndoRedoEnabled(false);
        document->setDefaultFont(request.font);
        for (const auto& [name, image] : shown.inlineImages)
            document->addResource(QTextDocument::ImageResource, QUrl(name), image);
        document->setHtml(shown.html);
        if (request.documentThread) document->moveToThread(request.documentThread);
        shown.document = std::move(document);
    } else {
        shown.text = EditorText(message.text);
    }
    for (size_t i = 0; i < shown.attachments.size(); ++i) {
        const mail::ViewedPart& part = shown.attachments[i];
        const QString name = QStringLiteral("cid:") + QString::fromLatin1(part.contentId);
        const bool inText = part.inlineImage && !part.contentId.isEmpty() &&
                            std::any_of(shown.inlineImages.cbegin(), shown.inlineImages.cend(),
                                        [&name](const auto& image) { return image.first == name; });
        if (!inText) shown.listed.push_back(static_cast<int>(i));
    }
    if (cutForTheBox(shown.text))
        shown.notes << QStringLiteral("本文が長いため、初めの %L1 文字を表示しています。全体は「ソースを表示」で見られます。")
                           .arg(shown.text.size());
    // As the record has it: the attachment line after the text.
    if (!shown.attachments.empty()) shown.text += u'\n' + kAttachmentMailText;
    return shown;
}

}  // namespace lumopet
