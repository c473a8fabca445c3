// HTML mail as a sender may write it, or break it: whatever the bytes, the
// sanitised HTML runs nothing, fetches nothing and links nowhere but into
// the viewer's own tables, and reads back as the text it claims.

#include "fuzz/checks.h"
#include "mail/mime/html_sanitizer.h"

#include <QRegularExpression>

namespace lumopet::fuzz {
namespace {

std::string quoted(const QString& text) { return "\"" + text.left(200).toStdString() + "\""; }

// Every src and href the html holds: "link:N", "cid:...", "remote-image:N".
std::string checkReferences(const QString& html) {
    static const QRegularExpression kReference(QStringLiteral("\\b(src|href)\\s*=\\s*\"([^\"]*)\""),
                                               QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression kAllowed(QStringLiteral("^(link:\\d+|remote-image:\\d+|cid:.+)$"),
                                             QRegularExpression::CaseInsensitiveOption);
    for (auto it = kReference.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!kAllowed.match(match.captured(2)).hasMatch())
            return "a reference that is not ours: " + quoted(match.captured(0));
    }
    return {};
}

std::string checkOne(const QString& input, const mail::SanitizeOptions& options) {
    const mail::SanitizedHtml out = mail::SanitizeHtml(input, options);
    const QString& html = out.html;
    if (html.size() * 2 > options.maxOutputBytes) return "the html is larger than allowed";
    if (html.contains(u"<script", Qt::CaseInsensitive)) return "the html holds <script";
    // Every '<' starts one of our tags, whole, with our attributes only,
    // their values quoted without quotes or brackets inside: no event
    // attribute, no style, nothing a value could smuggle.
    static const QRegularExpression kTag(
        QStringLiteral("</?[a-z0-9]+((\\s+[a-z]+=\"[^\"<>]*\")*)>"));
    static const QRegularExpression kAllowedNames(
        QStringLiteral("^(\\s+(href|src|colspan|rowspan|width|height|color|cellspacing|cellpadding|border)=\"[^\"<>]*\")*$"));
    for (qsizetype at = html.indexOf(u'<'); at >= 0; at = html.indexOf(u'<', at + 1)) {
        const QRegularExpressionMatch tag =
            kTag.match(html, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        if (!tag.hasMatch()) return "a '<' that starts no tag of ours: " + quoted(html.mid(at, 80));
        if (!kAllowedNames.match(tag.captured(1)).hasMatch())
            return "an attribute that is not ours: " + quoted(tag.captured(0));
    }
    if (std::string found = checkReferences(html); !found.empty()) return found;
    for (const QChar c : html) {
        if (c.unicode() == 0) return "the html holds a NUL";
    }
    for (const mail::SanitizedLink& link : out.links) {
        const QString& target = link.target;
        if (!target.startsWith(u"http:", Qt::CaseInsensitive) && !target.startsWith(u"https:", Qt::CaseInsensitive) &&
            !target.startsWith(u"mailto:", Qt::CaseInsensitive))
            return "a link to " + quoted(target);
    }
    // Written once more through the same parser: the same text. (Not when
    // the first pass cut or flattened the document: what was cut away is
    // gone, but what is left can still be cut differently.)
    if (out.notes.isEmpty() || (out.notes.size() == 1 && out.notes.first().startsWith(QStringLiteral("外部の画像")))) {
        const mail::SanitizedHtml again = mail::SanitizeHtml(html, options);
        if (again.text != out.text) return "the html reads back as other text: " + quoted(out.text) + " then " + quoted(again.text);
    }
    return {};
}

}  // namespace

std::string CheckHtmlSanitizer(QByteArrayView input, const std::filesystem::path&) {
    // The first byte picks the options, so that the fuzzer reaches both.
    mail::SanitizeOptions options;
    if (!input.isEmpty()) {
        options.loadRemoteImages = (input[0] & 1) != 0;
        if ((input[0] & 2) != 0) options.maxOutputBytes = 16 * 1024;
    }
    const QString html = QString::fromUtf8(input);
    if (std::string found = checkOne(html, options); !found.empty()) return found;
    // The same bytes as UTF-16, lone surrogates and all.
    const QString raw(reinterpret_cast<const QChar*>(input.data()), input.size() / 2);
    return checkOne(raw, options);
}

}  // namespace lumopet::fuzz
