#include "mail/mime/html_sanitizer.h"

#include <gumbo.h>

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>

namespace lumopet::mail {
namespace {

// ---------------------------------------------------------------------------
// Bounds. gumbo 0.10.1 scans its stack of open elements for nearly every
// tag (scope checks, the list of formatting elements), so its time grows
// with the square of the nesting, and it checks a tag's attributes for
// duplicates one against each other. What it is given is therefore cut
// first, by a cheap scan of our own: in characters, in tags, in nesting
// (deeper start tags are left out, their text stays) and in attributes.

constexpr qsizetype kMaxParsedChars = 2 * 1024 * 1024;
constexpr int kMaxParsedTags = 100'000;
constexpr qsizetype kMaxEstimatedDepth = 256;
constexpr qsizetype kMaxTagChars = 64 * 1024;
constexpr int kMaxAttributes = 128;
// What the written HTML may nest at most; deeper elements lose their markup.
constexpr int kMaxWrittenDepth = 64;

const QString kNoteCut = QStringLiteral("メールが長すぎるため、途中までを表示しています。");
const QString kNoteDeep = QStringLiteral("入れ子が深すぎる部分は、書式を省いて文字だけを表示しています。");
const QString kNoteFrame = QStringLiteral("フレームの中身は表示していません。");
const QString kNoteBrokenTags = QStringLiteral("壊れたタグや長すぎるタグは表示していません。");

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isHtmlSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f'; }

void addNote(QStringList& notes, const QString& note) {
    if (!notes.contains(note)) notes.append(note);
}

bool nameIn(QStringView name, std::initializer_list<std::u16string_view> names) {
    return std::any_of(names.begin(), names.end(), [&](std::u16string_view n) {
        return name == QStringView(n.data(), static_cast<qsizetype>(n.size()));
    });
}

bool isVoidName(QStringView name) {
    return nameIn(name, {u"area", u"base", u"br", u"col", u"embed", u"hr", u"img", u"input", u"link", u"meta",
                         u"param", u"source", u"track", u"wbr", u"keygen", u"basefont", u"bgsound", u"frame",
                         u"image", u"menuitem"});
}

// Elements whose content the tokenizer reads as text up to their end tag:
// nothing inside them nests.
bool isRawTextName(QStringView name) {
    return nameIn(name, {u"script", u"style", u"xmp", u"iframe", u"noembed", u"noframes", u"textarea", u"title"});
}

// Start tags that end an open <p> (outside quirks, <table> does too; our
// documents have no doctype, so it does not).
bool closesParagraph(QStringView name) {
    return nameIn(name, {u"address", u"article", u"aside", u"blockquote", u"center", u"details", u"dialog", u"dir",
                         u"div", u"dl", u"fieldset", u"figcaption", u"figure", u"footer", u"header", u"hgroup",
                         u"main", u"menu", u"nav", u"ol", u"p", u"section", u"summary", u"ul", u"h1", u"h2", u"h3",
                         u"h4", u"h5", u"h6", u"pre", u"listing", u"form", u"li", u"dd", u"dt"});
}

bool isHeadingName(QStringView name) { return nameIn(name, {u"h1", u"h2", u"h3", u"h4", u"h5", u"h6"}); }

struct TagEnd {
    qsizetype end = -1;  // just past '>'; -1: the input ends inside the tag
    int attributes = 0;
};

// Where the tag whose name ends at pos ends, past quoted attribute values,
// as the tokenizer reads it.
TagEnd scanTag(QStringView html, qsizetype pos) {
    TagEnd tag;
    bool inName = false;
    for (qsizetype i = pos; i < html.size(); ++i) {
        const QChar c = html[i];
        if (c == u'>') {
            tag.end = i + 1;
            return tag;
        }
        if (isHtmlSpace(c) || c == u'/') {
            inName = false;
        } else if (c == u'=') {
            inName = false;
            ++i;
            while (i < html.size() && isHtmlSpace(html[i])) ++i;
            if (i < html.size() && (html[i] == u'"' || html[i] == u'\'')) {
                const qsizetype close = html.indexOf(html[i], i + 1);
                if (close < 0) return tag;
                i = close;
            } else {
                --i;
            }
        } else if (!inName) {
            inName = true;
            ++tag.attributes;
        }
    }
    return tag;
}

// Our estimate of the parser's stack of open elements. It pops only where
// the parser surely pops too (an end tag of the element on top, the
// implied ends the parser always makes), so it may say deeper than the
// parser is, never much shallower.
class DepthEstimate {
public:
    qsizetype depth() const { return static_cast<qsizetype>(names_.size()); }

    void start(const QString& name) {
        if (!names_.empty()) {
            const QString& top = names_.back();
            const bool endsTop =
                (top == u"p" && closesParagraph(name)) || (isHeadingName(top) && isHeadingName(name)) ||
                (top == name && nameIn(name, {u"li", u"option", u"td", u"th", u"tr"})) ||
                (nameIn(top, {u"dd", u"dt"}) && nameIn(name, {u"dd", u"dt"})) ||
                (nameIn(top, {u"td", u"th"}) && name == u"tr" && names_.size() > 1 && names_[names_.size() - 2] == u"tr");
            if (endsTop) {
                names_.pop_back();
                if (name == u"tr" && !names_.empty() && names_.back() == u"tr") names_.pop_back();
            }
        }
        names_.push_back(name);
    }

    void end(const QString& name) {
        if (names_.empty()) return;
        if (names_.back() == name) {
            names_.pop_back();
        } else if (names_.size() > 1 && names_[names_.size() - 2] == name &&
                   nameIn(names_.back(), {u"p", u"li", u"dd", u"dt", u"option"})) {
            names_.pop_back();
            names_.pop_back();
        }
    }

private:
    std::vector<QString> names_;
};

// A surrogate pair is never cut in two.
qsizetype cutPoint(QStringView text, qsizetype at) {
    if (at > 0 && at < text.size() && text[at - 1].isHighSurrogate()) return at - 1;
    return at;
}

// What the parser is given: the input cut to the bounds above.
QString boundedInput(QStringView html, QStringList& notes) {
    QString out;
    out.reserve(std::min(html.size(), kMaxParsedChars) + 1);
    DepthEstimate estimate;
    qsizetype copied = 0;  // html[copied, pos) still to be copied
    qsizetype pos = 0;
    qsizetype limit = html.size();
    int tags = 0;
    bool brokenEnd = false;
    const auto cut = [&](qsizetype at, const QString& note) {
        limit = at;
        addNote(notes, note);
    };
    const auto drop = [&](qsizetype from, qsizetype to) {
        out += html.sliced(copied, from - copied);
        copied = to;
    };
    if (limit > kMaxParsedChars) limit = cutPoint(html, kMaxParsedChars);
    while (pos < limit) {
        const qsizetype open = html.indexOf(u'<', pos);
        if (open < 0 || open >= limit) break;
        const qsizetype next = open + 1;
        if (next >= html.size()) break;
        const QChar c = html[next];
        if (c == u'!' || c == u'?') {  // comments, <!DOCTYPE>, <?xml ...>: up to their end
            const bool comment = html.sliced(open).startsWith(u"<!--");
            const qsizetype close = comment ? html.indexOf(u"-->", open + 4) : html.indexOf(u'>', next);
            if (close < 0) {
                pos = html.size();
                break;
            }
            pos = close + (comment ? 3 : 1);
            continue;
        }
        const bool closing = c == u'/';
        const qsizetype nameStart = closing ? next + 1 : next;
        if (nameStart >= html.size() || !isAsciiLetter(html[nameStart])) {
            pos = next;
            continue;
        }
        qsizetype nameEnd = nameStart;
        while (nameEnd < html.size() && !isHtmlSpace(html[nameEnd]) && html[nameEnd] != u'/' && html[nameEnd] != u'>')
            ++nameEnd;
        const TagEnd tag = scanTag(html, nameEnd);
        if (tag.end < 0) {  // cut in the middle of a tag: the parser drops it too
            if (open < limit) cut(open, kNoteBrokenTags);
            brokenEnd = true;
            break;
        }
        if (tag.end > limit) {
            cut(open, kNoteCut);
            break;
        }
        if (++tags > kMaxParsedTags) {
            cut(open, kNoteCut);
            break;
        }
        if (tag.end - open > kMaxTagChars || tag.attributes > kMaxAttributes) {
            drop(open, tag.end);
            addNote(notes, kNoteBrokenTags);
            pos = tag.end;
            continue;
        }
        const QString name = html.sliced(nameStart, std::min<qsizetype>(nameEnd - nameStart, 32)).toString().toLower();
        pos = tag.end;
        if (closing) {
            estimate.end(name);
        } else if (name == u"plaintext") {
            break;  // the rest is text
        } else if (isRawTextName(name)) {
            const qsizetype close = html.indexOf(QStringLiteral("</") + name, pos, Qt::CaseInsensitive);
            const qsizetype closeEnd = close < 0 ? -1 : html.indexOf(u'>', close);
            pos = closeEnd < 0 ? html.size() : closeEnd + 1;
            if (pos > limit) {
                cut(open, kNoteCut);
                break;
            }
        } else if (!isVoidName(name)) {
            if (estimate.depth() >= kMaxEstimatedDepth) {
                drop(open, tag.end);  // flattened: the text inside stays
                addNote(notes, kNoteDeep);
            } else {
                estimate.start(name);
            }
        }
    }
    if (limit < html.size() && !brokenEnd) addNote(notes, kNoteCut);
    out += html.sliced(copied, std::max<qsizetype>(0, limit - copied));
    return out;
}

// ---------------------------------------------------------------------------
// gumbo's memory comes from an arena freed in one piece: gumbo's own
// destroy function walks the tree by recursion, which a deep document
// would take past the end of the stack.

class Arena {
public:
    static void* allocate(void* userdata, size_t size) { return static_cast<Arena*>(userdata)->take(size); }
    static void deallocate(void*, void*) {}
    size_t total() const { return total_; }

private:
    static constexpr size_t kBlock = 256 * 1024;
    static constexpr size_t kAlign = alignof(std::max_align_t);

    void* take(size_t size) {
        size = (std::max<size_t>(size, 1) + kAlign - 1) / kAlign * kAlign;
        total_ += size;
        if (size > kBlock / 4) {
            blocks_.push_back(std::make_unique<std::byte[]>(size));
            return blocks_.back().get();
        }
        if (blocks_.empty() || used_ + size > kBlock || current_ == nullptr) {
            blocks_.push_back(std::make_unique<std::byte[]>(kBlock));
            current_ = blocks_.back().get();
            used_ = 0;
        }
        void* place = current_ + used_;
        used_ += size;
        return place;
    }

    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    std::byte* current_ = nullptr;
    size_t used_ = 0;
    size_t total_ = 0;
};

// ---------------------------------------------------------------------------
// What each element becomes.

enum class Treatment {
    Drop,         // element and content
    DropFrame,    // element and content, with a note
    Transparent,  // no markup, the content stays
    Block,        // written as writeAs, a block of the text
    Inline,       // written as writeAs
    LineBreak,
    Rule,
    Image,
    Link,
    Font,
};

struct ElementRule {
    Treatment treatment;
    const char16_t* writeAs = nullptr;
};

ElementRule ruleFor(const GumboElement& element) {
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML) return {Treatment::Drop};
    switch (element.tag) {
    case GUMBO_TAG_SCRIPT: case GUMBO_TAG_STYLE: case GUMBO_TAG_TEMPLATE: case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_OBJECT: case GUMBO_TAG_EMBED: case GUMBO_TAG_APPLET: case GUMBO_TAG_SVG: case GUMBO_TAG_MATH:
    case GUMBO_TAG_HEAD: case GUMBO_TAG_TITLE: case GUMBO_TAG_META: case GUMBO_TAG_LINK: case GUMBO_TAG_BASE:
    case GUMBO_TAG_INPUT: case GUMBO_TAG_DATALIST: case GUMBO_TAG_NOEMBED: case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE: case GUMBO_TAG_TRACK: case GUMBO_TAG_AREA: case GUMBO_TAG_COL: case GUMBO_TAG_COLGROUP:
    case GUMBO_TAG_CANVAS: case GUMBO_TAG_KEYGEN: case GUMBO_TAG_WBR:
        return {Treatment::Drop};
    case GUMBO_TAG_IFRAME: case GUMBO_TAG_FRAME: case GUMBO_TAG_FRAMESET: case GUMBO_TAG_NOFRAMES:
        return {Treatment::DropFrame};
    case GUMBO_TAG_P: return {Treatment::Block, u"p"};
    case GUMBO_TAG_H1: return {Treatment::Block, u"h1"};
    case GUMBO_TAG_H2: return {Treatment::Block, u"h2"};
    case GUMBO_TAG_H3: return {Treatment::Block, u"h3"};
    case GUMBO_TAG_H4: return {Treatment::Block, u"h4"};
    case GUMBO_TAG_H5: return {Treatment::Block, u"h5"};
    case GUMBO_TAG_H6: return {Treatment::Block, u"h6"};
    case GUMBO_TAG_UL: case GUMBO_TAG_DIR: case GUMBO_TAG_MENU: return {Treatment::Block, u"ul"};
    case GUMBO_TAG_OL: return {Treatment::Block, u"ol"};
    case GUMBO_TAG_LI: return {Treatment::Block, u"li"};
    case GUMBO_TAG_DL: return {Treatment::Block, u"dl"};
    case GUMBO_TAG_DT: return {Treatment::Block, u"dt"};
    case GUMBO_TAG_DD: return {Treatment::Block, u"dd"};
    case GUMBO_TAG_BLOCKQUOTE: return {Treatment::Block, u"blockquote"};
    case GUMBO_TAG_PRE: case GUMBO_TAG_LISTING: case GUMBO_TAG_XMP: case GUMBO_TAG_PLAINTEXT:
        return {Treatment::Block, u"pre"};
    case GUMBO_TAG_TABLE: return {Treatment::Block, u"table"};
    case GUMBO_TAG_THEAD: return {Treatment::Block, u"thead"};
    case GUMBO_TAG_TBODY: case GUMBO_TAG_TFOOT: return {Treatment::Block, u"tbody"};
    case GUMBO_TAG_TR: return {Treatment::Block, u"tr"};
    case GUMBO_TAG_TD: return {Treatment::Block, u"td"};
    case GUMBO_TAG_TH: return {Treatment::Block, u"th"};
    case GUMBO_TAG_CAPTION: return {Treatment::Block, u"caption"};  // written as a row of one cell
    case GUMBO_TAG_DIV: case GUMBO_TAG_SECTION: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_HEADER: case GUMBO_TAG_FOOTER: case GUMBO_TAG_MAIN: case GUMBO_TAG_NAV: case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_CENTER: case GUMBO_TAG_FIGURE: case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FORM: case GUMBO_TAG_DETAILS: case GUMBO_TAG_SUMMARY: case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_LEGEND:
        return {Treatment::Block, u"div"};
    case GUMBO_TAG_B: return {Treatment::Inline, u"b"};
    case GUMBO_TAG_I: case GUMBO_TAG_CITE: case GUMBO_TAG_DFN: case GUMBO_TAG_VAR: return {Treatment::Inline, u"i"};
    case GUMBO_TAG_U: case GUMBO_TAG_INS: return {Treatment::Inline, u"u"};
    case GUMBO_TAG_EM: return {Treatment::Inline, u"em"};
    case GUMBO_TAG_STRONG: return {Treatment::Inline, u"strong"};
    case GUMBO_TAG_S: case GUMBO_TAG_STRIKE: case GUMBO_TAG_DEL: return {Treatment::Inline, u"s"};
    case GUMBO_TAG_SUB: return {Treatment::Inline, u"sub"};
    case GUMBO_TAG_SUP: return {Treatment::Inline, u"sup"};
    case GUMBO_TAG_SMALL: return {Treatment::Inline, u"small"};
    case GUMBO_TAG_BIG: return {Treatment::Inline, u"big"};
    case GUMBO_TAG_CODE: case GUMBO_TAG_TT: case GUMBO_TAG_KBD: case GUMBO_TAG_SAMP:
        return {Treatment::Inline, u"code"};
    case GUMBO_TAG_BR: return {Treatment::LineBreak};
    case GUMBO_TAG_HR: return {Treatment::Rule};
    case GUMBO_TAG_IMG: case GUMBO_TAG_IMAGE: return {Treatment::Image};
    case GUMBO_TAG_A: return {Treatment::Link};
    case GUMBO_TAG_FONT: return {Treatment::Font};
    default: return {Treatment::Transparent};
    }
}

bool isTablePart(QStringView tag) { return nameIn(tag, {u"table", u"thead", u"tbody", u"tr"}); }

// The table parts a written table part may hold; anything else inside one
// would be moved out of the table by the next parse, so it is not written.
bool fitsInTablePart(QStringView parent, QStringView child) {
    if (parent == u"table") return nameIn(child, {u"thead", u"tbody", u"tr", u"caption"});
    if (parent == u"thead" || parent == u"tbody") return child == u"tr";
    if (parent == u"tr") return nameIn(child, {u"td", u"th"});
    return false;
}

// Whether a table only stacks its cells, one a row: the page layout of
// newsletters, tables in tables around every block. Written as blocks it
// reads and looks the same (the sanitised table has no borders or colours
// to lose), and Qt lays nested tables out slowly: 76 of them in a 100 KB
// newsletter took 0.2 to 0.3 s to show, as blocks 0.03 s. A caption or a
// second cell in any row makes it a table of data, kept as it is.
bool stacksOneCellARow(const GumboElement& table) {
    const auto elements = [](const GumboVector& children, auto&& each) {
        for (unsigned i = 0; i < children.length; ++i) {
            const auto* child = static_cast<const GumboNode*>(children.data[i]);
            if (child->type == GUMBO_NODE_ELEMENT && !each(child->v.element)) return false;
        }
        return true;
    };
    const auto oneCell = [&elements](const GumboElement& row) {
        int cells = 0;
        return elements(row.children, [&cells](const GumboElement& cell) {
            return !(cell.tag == GUMBO_TAG_TD || cell.tag == GUMBO_TAG_TH) || ++cells <= 1;
        });
    };
    return elements(table.children, [&](const GumboElement& part) {
        switch (part.tag) {
        case GUMBO_TAG_CAPTION: return false;
        case GUMBO_TAG_TR: return oneCell(part);
        case GUMBO_TAG_THEAD: case GUMBO_TAG_TBODY: case GUMBO_TAG_TFOOT:
            return elements(part.children, [&oneCell](const GumboElement& row) {
                return row.tag != GUMBO_TAG_TR || oneCell(row);
            });
        default: return true;
        }
    });
}

QString attribute(const GumboElement& element, const char* name) {
    const GumboAttribute* found = gumbo_get_attribute(&element.attributes, name);
    return found ? QString::fromUtf8(found->value) : QString();
}

// An attribute value as browsers take a URL: blanks around it and tabs
// and newlines inside it do not count.
QString urlAttribute(const GumboElement& element, const char* name) {
    QString value = attribute(element, name).trimmed();
    value.remove(u'\t');
    value.remove(u'\n');
    value.remove(u'\r');
    return value;
}

bool hasScheme(const QString& url, QStringView scheme) {
    return url.size() > scheme.size() && url[scheme.size()] == u':' &&
           url.startsWith(scheme, Qt::CaseInsensitive);
}

// A small number attribute (width, colspan), or nothing.
QString smallNumber(const QString& value, int max) {
    bool ok = false;
    const int number = value.trimmed().toInt(&ok);
    if (!ok || number < 1) return {};
    return QString::number(std::min(number, max));
}

// A control character (but the blanks HTML knows) is shown as U+FFFD: in
// the written HTML a parser would turn it into that anyway, and in the
// text it would reach the clipboard and the reply as it stands.
QChar shownChar(QChar c) {
    const char16_t u = c.unicode();
    const bool control = (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r' && u != u'\f' && u != 0) ||
                         (u >= 0x7F && u <= 0x9F);
    return control ? QChar(QChar::ReplacementCharacter) : c;
}

void appendEscaped(QString& out, QStringView text) {
    for (const QChar raw : text) {
        const QChar c = shownChar(raw);
        switch (c.unicode()) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'"': out += u"&quot;"; break;
        case u'\'': out += u"&#39;"; break;
        case 0: break;
        default: out += c;
        }
    }
}

// ---------------------------------------------------------------------------
// Deceptive links.

// A host as it compares: ASCII (IDNA), lower case, no final dot, no "www.".
QString comparableHost(const QString& host) {
    QString ace = QString::fromLatin1(QUrl::toAce(host)).toLower();
    if (ace.isEmpty()) ace = host.toLower();
    while (ace.endsWith(u'.')) ace.chop(1);
    if (ace.startsWith(u"www.")) ace.remove(0, 4);
    return ace;
}

struct ShownAddress {
    QString host;     // the host the text shows
    QString address;  // the e-mail address it shows, if it is one
};

std::optional<ShownAddress> shownAddress(QString token) {
    if (!token.contains(u'.') && !token.contains(u'@')) return std::nullopt;
    static const QRegularExpression kEdge(QStringLiteral("^[\\s\"'(<\\[「『【]+|[\\s\"')>\\]」』】.,;:!?。、]+$"));
    token.remove(kEdge);
    if (token.isEmpty()) return std::nullopt;
    static const QRegularExpression kEmail(QStringLiteral("^[^@\\s/:]+@([^@\\s/:]+\\.[^@\\s/:.\\d]{2,})$"));
    static const QRegularExpression kWithScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    static const QRegularExpression kHostLike(
        QStringLiteral("^[\\w-]+(\\.[\\w-]+)*\\.[^\\W\\d_]{2,}\\.?([/:?#].*)?$"),
        QRegularExpression::UseUnicodePropertiesOption);
    if (const auto email = kEmail.match(token); email.hasMatch())
        return ShownAddress{comparableHost(email.captured(1)), token.toLower()};
    if (kWithScheme.match(token).hasMatch()) {
        const QUrl url(token);
        if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
        return ShownAddress{comparableHost(url.host(QUrl::FullyDecoded)), {}};
    }
    if (kHostLike.match(token).hasMatch()) {
        const QUrl url = QUrl::fromUserInput(token);
        if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
        return ShownAddress{comparableHost(url.host(QUrl::FullyDecoded)), {}};
    }
    return std::nullopt;
}

// The text shows a URL, a host name or an e-mail address somewhere the
// target does not go.
bool isDeceptive(const QString& text, const QString& target) {
    // Most link texts are words: no dot, no '@', no address.
    if (!text.contains(u'.') && !text.contains(u'@')) return false;
    const QUrl url(target);
    const bool mail = url.scheme().compare(u"mailto", Qt::CaseInsensitive) == 0;
    const QString targetAddress = mail ? url.path(QUrl::FullyDecoded).trimmed().toLower() : QString();
    const QString targetHost =
        mail ? comparableHost(targetAddress.section(u'@', -1)) : comparableHost(url.host(QUrl::FullyDecoded));
    static const QRegularExpression kBlanks(QStringLiteral("\\s+"));
    for (const QString& token : text.split(kBlanks, Qt::SkipEmptyParts)) {
        const auto shown = shownAddress(token);
        if (!shown) continue;
        if (!shown->address.isEmpty() && mail) {
            if (shown->address != targetAddress) return true;
        } else if (mail || shown->host != targetHost) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// The walk: an explicit stack, never recursion on the input's depth.

struct Frame {
    const GumboNode* node = nullptr;
    unsigned nextChild = 0;
    QStringView written;       // the tag written for this element, empty when none
    bool block = false;        // a block of the text
    bool flattenedBlock = false;  // a block whose markup was left out: a line break stands for it
    bool preformatted = false;
    int listNumber = 0;        // ol: the last number given; ul: -1
    int cells = 0;             // tr: the cells so far
    int link = -1;             // a: the link's index
    qsizetype linkTextStart = 0;
    bool captionRow = false;   // caption written as <tr><td>
    bool stacksCells = false;  // a table of one cell a row, or its section or row: no table markup
};

Frame frameFor(const GumboNode* node) {
    Frame frame;
    frame.node = node;
    return frame;
}

class Writer {
public:
    Writer(const SanitizeOptions& options, SanitizedHtml& out)
        : options_(options), out_(out), limit_(std::max<qsizetype>(options.maxOutputBytes / 2, 4096)) {}

    void run(const GumboNode* root);

private:
    const GumboVector* childrenOf(const GumboNode* node) const {
        if (node->type == GUMBO_NODE_DOCUMENT) return &node->v.document.children;
        if (node->type == GUMBO_NODE_ELEMENT) return &node->v.element.children;
        return nullptr;
    }

    bool atLineStart() const { return out_.text.isEmpty() || out_.text.endsWith(u'\n'); }
    void endLine() {
        if (!atLineStart()) out_.text += u'\n';
        pendingSpace_ = false;
    }
    // Room for n more characters, with the end tags of what is open kept free.
    bool room(qsizetype n) {
        if (full_) return false;
        if (out_.html.size() + n + depth_ * 16 + 64 > limit_) full_ = true;
        return !full_;
    }
    bool write(QStringView markup) {
        if (!room(markup.size())) return false;
        out_.html += markup;
        return true;
    }

    void text(QStringView text);
    void enter(const GumboNode* node);
    void leave(Frame& frame);
    void openElement(Frame& frame, const GumboElement& element, const ElementRule& rule);
    void image(const GumboElement& element);
    void link(Frame& frame, const GumboElement& element);
    void flattenedBreak();
    void openTag(Frame& frame, QStringView tag, QStringView attributes = {});

    const SanitizeOptions& options_;
    SanitizedHtml& out_;
    const qsizetype limit_;
    std::vector<Frame> stack_;
    std::vector<size_t> lists_;  // frames of the written ul and ol
    int depth_ = 0;              // written elements open
    int preformatted_ = 0;
    int openLink_ = -1;
    bool pendingSpace_ = false;
    bool full_ = false;
};

void Writer::text(QStringView text) {
    // In pieces, so that a long run stops where the room ends.
    constexpr qsizetype kPiece = 4096;
    QString escaped;
    for (qsizetype at = 0; at < text.size() && !full_;) {
        qsizetype size = cutPoint(text, std::min(text.size(), at + kPiece)) - at;
        if (size <= 0) size = std::min<qsizetype>(2, text.size() - at);
        QStringView piece = text.sliced(at, size);
        escaped.clear();
        appendEscaped(escaped, piece);
        while (!room(escaped.size()) && piece.size() > 1) {
            full_ = false;
            piece = piece.first(cutPoint(piece, piece.size() / 2));
            escaped.clear();
            appendEscaped(escaped, piece);
        }
        if (!room(escaped.size())) return;
        out_.html += escaped;
        for (const QChar raw : piece) {
            if (raw.unicode() == 0) continue;
            const QChar c = shownChar(raw);
            if (preformatted_ > 0) {
                out_.text += c == QChar(0xA0) ? QChar(u' ') : c;
            } else if (isHtmlSpace(c)) {
                pendingSpace_ = true;
            } else {
                if (pendingSpace_ && !atLineStart()) out_.text += u' ';
                pendingSpace_ = false;
                out_.text += c == QChar(0xA0) ? QChar(u' ') : c;
            }
        }
        at += piece.size();
    }
}

void Writer::flattenedBreak() {
    if (atLineStart()) return;
    if (write(u"<br>")) {
        out_.text += u'\n';
        pendingSpace_ = false;
    }
}

void Writer::openTag(Frame& frame, QStringView tag, QStringView attributes) {
    if (!room(tag.size() + attributes.size() + 2)) return;
    out_.html += u'<';
    out_.html += tag;
    out_.html += attributes;
    out_.html += u'>';
    frame.written = tag;
    ++depth_;
}

QString bracketed(const QString& alt) { return QStringLiteral("［%1］").arg(alt); }

void Writer::image(const GumboElement& element) {
    const QString src = urlAttribute(element, "src");
    QString alt = attribute(element, "alt").simplified();
    QString size;
    for (const char* name : {"width", "height"}) {
        const QString value = smallNumber(attribute(element, name), 4000);
        if (!value.isEmpty()) size += QStringLiteral(" %1=\"%2\"").arg(QString::fromLatin1(name), value);
    }
    if (hasScheme(src, u"cid") ) {
        const QByteArray id = QByteArray::fromPercentEncoding(src.sliced(4).toUtf8());
        if (id.isEmpty()) return;
        QString markup = QStringLiteral("<img src=\"");
        appendEscaped(markup, src);
        markup += u'"' + size + u'>';
        if (write(markup) && !out_.cidImages.contains(id)) out_.cidImages.append(id);
        return;
    }
    const bool remote = hasScheme(src, u"http") || hasScheme(src, u"https") || src.startsWith(u"//");
    if (remote) {
        const QString url = src.startsWith(u"//") ? QStringLiteral("https:") + src : src;
        if (options_.loadRemoteImages) {
            const QString markup = QStringLiteral("<img src=\"remote-image:%1\"").arg(out_.remoteImages.size()) + size + u'>';
            if (write(markup)) out_.remoteImages.append(url);
            return;
        }
        if (!room(alt.size() + 16)) return;
        out_.remoteImages.append(url);
        // alt="" is a picture that says nothing (a spacer, a tracking
        // pixel): it leaves nothing in its place.
        const bool saysNothing = gumbo_get_attribute(&element.attributes, "alt") && alt.isEmpty();
        if (!saysNothing) text(alt.isEmpty() ? QStringLiteral("［画像］") : bracketed(alt));
        return;
    }
    // data:, file:, javascript: and the rest: only the alt text stays.
    if (!alt.isEmpty()) text(bracketed(alt));
}

void Writer::link(Frame& frame, const GumboElement& element) {
    if (openLink_ >= 0) return;  // a link in a link: the outer one holds the text
    QString target = urlAttribute(element, "href");
    if (target.startsWith(u"//")) target.prepend(u"https:");
    const bool web = hasScheme(target, u"http") || hasScheme(target, u"https");
    const bool mail = hasScheme(target, u"mailto");
    if (!web && !mail) return;
    const QUrl url(target);
    if (!url.isValid() || (web && url.host().isEmpty())) return;
    if (depth_ >= kMaxWrittenDepth) return;
    const int index = static_cast<int>(out_.links.size());
    openTag(frame, u"a", QStringLiteral(" href=\"link:%1\"").arg(index));
    if (frame.written.isEmpty()) return;
    out_.links.push_back({target, {}, false});
    frame.link = index;
    frame.linkTextStart = out_.text.size();
    openLink_ = index;
}

void Writer::openElement(Frame& frame, const GumboElement& element, const ElementRule& rule) {
    QStringView tag(rule.writeAs);
    const Frame* parent = stack_.size() > 1 ? &stack_[stack_.size() - 2] : nullptr;
    if (parent && parent->stacksCells) {
        // The parts of a table that only stacks its cells: each cell a
        // block, its sections and rows a line break at most.
        if (tag == u"td" || tag == u"th") {
            tag = u"div";
        } else {
            frame.block = true;
            frame.stacksCells = true;
            endLine();
            return;
        }
    } else if (tag == u"table" && stacksOneCellARow(element)) {
        tag = u"div";
        frame.stacksCells = true;
    }
    const bool parentIsTablePart = parent && isTablePart(parent->written);
    const bool tablePart = nameIn(tag, {u"thead", u"tbody", u"tr", u"td", u"th", u"caption"});
    if (tablePart && !(parentIsTablePart && fitsInTablePart(parent->written, tag))) {
        // A table part whose table was not written: a line of its own at most.
        frame.block = true;
        frame.flattenedBlock = true;
        flattenedBreak();
        return;
    }
    // A cell is part of its row's line: a tab before it, no line of its own.
    frame.block = rule.treatment == Treatment::Block && tag != u"td" && tag != u"th";
    if (frame.block) endLine();
    const int need = tag == u"table" ? 4 : 1;
    if (!tablePart && depth_ + need > kMaxWrittenDepth) {
        addNote(out_.notes, kNoteDeep);
        if (frame.block) {
            frame.flattenedBlock = true;
            flattenedBreak();
        }
        return;
    }
    if (tag == u"caption") {
        openTag(frame, u"tr");
        if (frame.written.isEmpty()) return;
        if (write(u"<td>")) {
            ++depth_;
            frame.captionRow = true;
        }
        return;
    }
    QString attributes;
    if (tag == u"table") {
        // Cells apart, as a browser sets them; a border only where the
        // sender drew one.
        attributes += QStringLiteral(" cellspacing=\"0\" cellpadding=\"3\"");
        const QString border = smallNumber(attribute(element, "border"), 3);
        if (!border.isEmpty()) attributes += QStringLiteral(" border=\"%1\"").arg(border);
    }
    if (tag == u"td" || tag == u"th") {
        for (const char* name : {"colspan", "rowspan"}) {
            const QString value = smallNumber(attribute(element, name), 100);
            if (!value.isEmpty()) attributes += QStringLiteral(" %1=\"%2\"").arg(QString::fromLatin1(name), value);
        }
        if (stack_[stack_.size() - 2].cells++ > 0 && room(1)) {
            out_.text += u'\t';
            pendingSpace_ = false;
        }
    }
    openTag(frame, tag, attributes);
    if (frame.written.isEmpty()) return;
    if (tag == u"pre") {
        // The parser drops a newline right after <pre>: this one, so that
        // the text's own first newline survives the next parse.
        out_.html += u'\n';
        frame.preformatted = true;
        ++preformatted_;
    } else if (tag == u"ul" || tag == u"ol") {
        frame.listNumber = tag == u"ol" ? 0 : -1;
        lists_.push_back(stack_.size() - 1);
    } else if (tag == u"li") {
        QString mark = QStringLiteral("・");
        if (!lists_.empty()) {
            Frame& list = stack_[lists_.back()];
            if (list.listNumber >= 0) mark = QString::number(++list.listNumber) + QStringLiteral(". ");
        }
        out_.text += mark;
    }
}

void Writer::enter(const GumboNode* node) {
    switch (node->type) {
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
        text(QString::fromUtf8(node->v.text.text));
        return;
    case GUMBO_NODE_ELEMENT:
        break;
    default:  // comments, CDATA (only in svg and math), templates
        return;
    }
    const GumboElement& element = node->v.element;
    const ElementRule rule = ruleFor(element);
    // Inside a written table, row or section, only its own parts.
    if (!stack_.empty() && isTablePart(stack_.back().written)) {
        const QStringView tag = rule.writeAs ? QStringView(rule.writeAs) : QStringView();
        if (!fitsInTablePart(stack_.back().written, tag)) return;
    }
    switch (rule.treatment) {
    case Treatment::Drop: return;
    case Treatment::DropFrame: addNote(out_.notes, kNoteFrame); return;
    case Treatment::LineBreak:
        if (write(u"<br>")) {
            out_.text += u'\n';
            pendingSpace_ = false;
        }
        return;
    case Treatment::Rule:
        endLine();
        write(u"<hr>");
        return;
    case Treatment::Image: image(element); return;
    default: break;
    }
    stack_.push_back(frameFor(node));
    Frame& frame = stack_.back();
    switch (rule.treatment) {
    case Treatment::Block:
    case Treatment::Inline:
        openElement(frame, element, rule);
        break;
    case Treatment::Link:
        link(frame, element);
        break;
    case Treatment::Font: {
        static const QRegularExpression kColour(QStringLiteral("^(#[0-9a-fA-F]{3}|#[0-9a-fA-F]{6}|[a-zA-Z]{3,20})$"));
        const QString colour = attribute(element, "color").trimmed();
        if (kColour.match(colour).hasMatch() && depth_ < kMaxWrittenDepth)
            openTag(frame, u"font", QStringLiteral(" color=\"%1\"").arg(colour));
        break;
    }
    default:
        break;
    }
}

void Writer::leave(Frame& frame) {
    if (!frame.written.isEmpty()) {
        if (frame.captionRow) {
            out_.html += u"</td>";
            --depth_;
        }
        out_.html += QStringLiteral("</%1>").arg(frame.written);
        --depth_;
        if (frame.preformatted) --preformatted_;
        if (!lists_.empty() && lists_.back() == stack_.size() - 1) lists_.pop_back();
        if (frame.link >= 0) {
            out_.links[static_cast<size_t>(frame.link)].text = out_.text.sliced(frame.linkTextStart).simplified();
            SanitizedLink& made = out_.links[static_cast<size_t>(frame.link)];
            made.deceptive = isDeceptive(made.text, made.target);
            openLink_ = -1;
        }
    }
    if (frame.flattenedBlock) {
        flattenedBreak();
    } else if (frame.block) {
        endLine();
    }
}

void Writer::run(const GumboNode* root) {
    stack_.push_back(frameFor(root));
    while (!stack_.empty()) {
        Frame& frame = stack_.back();
        const GumboVector* children = childrenOf(frame.node);
        if (!full_ && children && frame.nextChild < children->length) {
            const auto* child = static_cast<const GumboNode*>(children->data[frame.nextChild++]);
            enter(child);
            continue;
        }
        Frame done = frame;
        leave(done);
        stack_.pop_back();
    }
    if (full_) addNote(out_.notes, kNoteCut);
    while (out_.text.endsWith(u'\n')) out_.text.chop(1);
}

}  // namespace

SanitizedHtml SanitizeHtml(QStringView html, const SanitizeOptions& options) {
    SanitizedHtml result;
    const QByteArray input = boundedInput(html, result.notes).toUtf8();
    Arena arena;
    GumboOptions gumboOptions = kGumboDefaultOptions;
    gumboOptions.allocator = &Arena::allocate;
    gumboOptions.deallocator = &Arena::deallocate;
    gumboOptions.userdata = &arena;
    gumboOptions.max_errors = 0;  // we read no parse errors: keep none
    const GumboOutput* output = gumbo_parse_with_options(&gumboOptions, input.constData(), static_cast<size_t>(input.size()));
    Writer writer(options, result);
    writer.run(output->document);

    // The arena frees gumbo's tree here, in one piece.
    return result;
}

}  // namespace lumopet::mail
