#pragma once
// HTML mail made safe to show: the sender's HTML is parsed (gumbo) and
// written again as a small subset that Qt's rich text renders, in which
// nothing can run, nothing is fetched unless the user asked for it, and
// every link goes through the viewer before it opens.
//
// Kept: p, br, h1-h6, ul/ol/li, dl/dt/dd, tables (colspan and rowspan
// only), blockquote, pre, code, b/i/u/em/strong/s/sub/sup/small/big, hr,
// font with a plain colour, a (href="link:i"), img (src "cid:<id>", or
// "remote-image:i" when the user asked for remote images). div and the
// other blocks of sectioning become div. Dropped with their content:
// script, style, template, noscript, object, embed, applet, frames, svg,
// math, the head. data:, file: and every other image source are dropped
// (the alt text in brackets stands in their place). Every other element
// is dropped and its text kept.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace lumopet::mail {

struct SanitizeOptions {
    bool loadRemoteImages = false;  // the user clicked "画像を表示": remote <img> keep their place as resources to load
    qsizetype maxOutputBytes = 2 * 1024 * 1024;  // what Qt is given at most (counted in UTF-16, as Qt holds it)
};

struct SanitizedLink {
    QString target;  // http, https or mailto; what the viewer opens once the user agrees
    QString text;    // the link's text as shown
    bool deceptive = false;  // the text shows another address (URL, host or e-mail address) than target
};

struct SanitizedHtml {
    QString html;              // the safe subset for QTextDocument::setHtml
    QString text;              // the text as shown, no markup, lines by block (clipboard, search, reply)
    QStringList remoteImages;  // remote image URLs held back (or to load), in order; image i is "remote-image:i"
    QList<QByteArray> cidImages;  // content ids of <img src="cid:...">, once each; the resource is "cid:<id>" as written
    std::vector<SanitizedLink> links;  // anchor i is written as href="link:i"
    QStringList notes;         // Japanese lines for what could not be shown
};

// Never fails: whatever the input, the result is safe to show. Bounded in
// time and memory (the input given to the parser is cut in size, in tags
// and in nesting first, with a note).
SanitizedHtml SanitizeHtml(QStringView html, const SanitizeOptions& options = {});

}  // namespace lumopet::mail
