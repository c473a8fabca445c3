#include "mail/draft_message.h"

#include "mail/address_list.h"
#include "mail/gmime_handles.h"

#include <QStringDecoder>

#include <algorithm>
#include <memory>
#include <optional>

namespace lumopet {
namespace {

using mail::GObjectPtr;

// GMime's cast macros are C casts; kept to these lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
GMimeObject* AsObject(gpointer object) { return GMIME_OBJECT(object); }
GMimeStreamMem* AsMemoryStream(GMimeStream* stream) { return GMIME_STREAM_MEM(stream); }
GMimePart* AsTextPart(GMimeObject* object) { return GMIME_IS_TEXT_PART(object) ? GMIME_PART(object) : nullptr; }
#pragma GCC diagnostic pop

struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};
struct DateTimeUnref {
    void operator()(GDateTime* time) const { g_date_time_unref(time); }
};
struct ParserOptionsFree {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

// Which fields mark a draft of ours, and in which version: a later program
// that writes them differently changes the number.
constexpr char kDraftField[] = "X-Lumopet-Draft";
constexpr char kDraftVersion[] = "1";
constexpr char kWindowField[] = "X-Lumopet-Window";
constexpr char kToField[] = "X-Lumopet-To";
constexpr char kCcField[] = "X-Lumopet-Cc";
constexpr char kBccField[] = "X-Lumopet-Bcc";
constexpr char kSubjectField[] = "X-Lumopet-Subject";
constexpr char kAttachmentField[] = "X-Lumopet-Attachment";
constexpr char kMoodField[] = "X-Lumopet-Mood";
constexpr char kFortuneField[] = "X-Lumopet-Fortune";
constexpr char kBulkField[] = "X-Lumopet-Bulk";
constexpr char kInReplyToField[] = "X-Lumopet-In-Reply-To";
constexpr char kReferencesField[] = "X-Lumopet-References";
constexpr char kReplyCharsetField[] = "X-Lumopet-Reply-Charset";
constexpr char kAnsweredField[] = "X-Lumopet-Answered";
constexpr char kSignatureField[] = "X-Lumopet-Signature";
constexpr int kLastMood = 5;
constexpr int kLastSignature = 3;
// RFC 5322 2.1.1 allows 998 octets to a line; an encoded value longer than
// this (a deep path) is folded, and its blanks are dropped when read.
constexpr qsizetype kFoldAt = 900;

// The exact text the user typed, as one header value: UTF-8, every octet
// but letters, digits and "-._~/" percent-encoded (RFC 3986 2.1). Line
// breaks, commas, blanks and any script come back as they were.
QByteArray Encoded(const QString& text) {
    const QByteArray encoded = text.toUtf8().toPercentEncoding("/");
    QByteArray folded;
    for (qsizetype at = 0; at < encoded.size(); at += kFoldAt) {
        if (at > 0) folded += "\n ";
        folded += encoded.mid(at, kFoldAt);
    }
    return folded;
}

std::optional<QString> ValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

bool IsAsciiLetterOrDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// The text of an Encoded() value; nothing when it is not one.
std::optional<QString> Decoded(const QByteArray& raw) {
    QByteArray value;
    for (const char c : raw)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') value += c;
    for (qsizetype at = 0; at < value.size(); ++at) {
        const char c = value[at];
        if (c == '%') {
            if (at + 2 >= value.size()) return std::nullopt;
            if (!IsHex(value[at + 1]) || !IsHex(value[at + 2])) return std::nullopt;
            at += 2;
        } else if (!(IsAsciiLetterOrDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/')) {
            return std::nullopt;
        }
    }
    return ValidUtf8(QByteArray::fromPercentEncoding(value));
}

// Appends the field with its value written as it is: GMime would turn a
// long unbroken value into encoded words.
void AddField(GMimeObject* object, const char* name, const QByteArray& value) {
    g_mime_object_append_header(object, name, "", nullptr);
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    GMimeHeader* header = g_mime_header_list_get_header_at(list, g_mime_header_list_get_count(list) - 1);
    g_mime_header_set_raw_value(header, (' ' + value + '\n').constData());
}

QByteArray Written(GMimeObject* object) {
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    const std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> options(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(options.get(), GMIME_NEWLINE_FORMAT_DOS);
    g_mime_object_write_to_stream(object, options.get(), stream.get());
    g_mime_stream_flush(stream.get());
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(AsMemoryStream(stream.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

// The addresses of a recipient box that parse, for the standard fields other
// mail programs show; the box itself is kept exactly in our own field.
void AddAddresses(GMimeMessage* message, GMimeAddressType type, const QString& typed) {
    // The compose window's 宛先 may hold one address per line.
    QString text = typed;
    text.replace(u'\r', u',').replace(u'\n', u',');
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    for (const QString& piece : mail::SplitRecipientText(text)) {
        const QByteArray one = piece.toUtf8();
        const GObjectPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, one.constData()));
        if (parsed) internet_address_list_append(list, parsed.get());
    }
}

// A message ID list as the standard fields hold it: one line, or nothing.
bool IsOneLine(const QString& text) { return !text.isEmpty() && !text.contains(u'\r') && !text.contains(u'\n'); }

struct Fields {
    // Every X-Lumopet-* field in order, by lower-case name, raw.
    std::vector<std::pair<QByteArray, QByteArray>> all;

    std::vector<QByteArray> values(const char* name) const {
        const QByteArray wanted = QByteArray(name).toLower();
        std::vector<QByteArray> found;
        for (const auto& [field, value] : all)
            if (field == wanted) found.push_back(value);
        return found;
    }
};

Failure damaged(const QString& reason) { return Failure{QStringLiteral("下書きが壊れています（%1）。").arg(reason)}; }

// The one value of a field; nothing when it is missing or given twice.
Result<QByteArray> single(const Fields& fields, const char* name) {
    const auto found = fields.values(name);
    if (found.size() != 1)
        return damaged(QStringLiteral("%1 が%2").arg(QString::fromLatin1(name),
                                                     found.empty() ? QStringLiteral("ありません") : QStringLiteral("二つあります")));
    return found.front().trimmed();
}

Result<QString> text(const Fields& fields, const char* name) {
    const auto raw = single(fields, name);
    if (!raw) return Failure{raw.error()};
    const auto decoded = Decoded(raw.value());
    if (!decoded) return damaged(QStringLiteral("%1 の値が読めません").arg(QString::fromLatin1(name)));
    return *decoded;
}

Result<int> number(const Fields& fields, const char* name, int last) {
    const auto raw = single(fields, name);
    if (!raw) return Failure{raw.error()};
    bool ok = false;
    const int value = raw.value().toInt(&ok);
    const bool digits = !raw.value().isEmpty() &&
                        std::all_of(raw.value().begin(), raw.value().end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!ok || !digits || value < 0 || value > last)
        return damaged(QStringLiteral("%1 が 0 から %2 ではありません").arg(QString::fromLatin1(name)).arg(last));
    return value;
}

Result<bool> flag(const Fields& fields, const char* name) {
    const auto raw = single(fields, name);
    if (!raw) return Failure{raw.error()};
    if (raw.value() == "yes") return true;
    if (raw.value() == "no") return false;
    return damaged(QStringLiteral("%1 が yes でも no でもありません").arg(QString::fromLatin1(name)));
}

Result<QString> body(GMimeMessage* message) {
    GMimePart* part = AsTextPart(g_mime_message_get_mime_part(message));
    if (!part) return damaged(QStringLiteral("本文がありません"));
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return damaged(QStringLiteral("本文がありません"));
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, stream.get()) < 0) return damaged(QStringLiteral("本文が読めません"));
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(AsMemoryStream(stream.get()));
    const auto decoded = ValidUtf8(QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len)));
    if (!decoded) return damaged(QStringLiteral("本文が UTF-8 ではありません"));
    return *decoded;
}

}  // namespace

bool IsBlankDraft(const ComposeDraft& draft) {
    const auto blank = [](const QString& text) { return text.trimmed().isEmpty(); };
    return blank(draft.to) && blank(draft.cc) && blank(draft.bcc) && blank(draft.subject) && blank(draft.body) &&
           draft.attachments.isEmpty();
}

QByteArray DraftToMessage(const ComposeDraft& draft) {
    const GObjectPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeObject* object = AsObject(message.get());
    // What another mail program shows of the draft.
    AddAddresses(message.get(), GMIME_ADDRESS_TYPE_TO, draft.to);
    AddAddresses(message.get(), GMIME_ADDRESS_TYPE_CC, draft.cc);
    AddAddresses(message.get(), GMIME_ADDRESS_TYPE_BCC, draft.bcc);
    QString subject = draft.subject;
    subject.replace(u'\r', u' ').replace(u'\n', u' ');
    g_mime_message_set_subject(message.get(), subject.toUtf8().constData(), "utf-8");
    const std::unique_ptr<GDateTime, DateTimeUnref> now(g_date_time_new_now_local());
    g_mime_message_set_date(message.get(), now.get());
    if (IsOneLine(draft.inReplyTo)) g_mime_object_set_header(object, "In-Reply-To", draft.inReplyTo.toUtf8().constData(), nullptr);
    if (IsOneLine(draft.references)) g_mime_object_set_header(object, "References", draft.references.toUtf8().constData(), nullptr);
    g_mime_object_set_header(object, "MIME-Version", "1.0", nullptr);

    // What this program reads back, exactly as it was.
    AddField(object, kDraftField, kDraftVersion);
    AddField(object, kWindowField, draft.window == DraftWindow::Reply ? "reply" : "compose");
    AddField(object, kToField, Encoded(draft.to));
    AddField(object, kCcField, Encoded(draft.cc));
    AddField(object, kBccField, Encoded(draft.bcc));
    AddField(object, kSubjectField, Encoded(draft.subject));
    for (const QString& path : draft.attachments) AddField(object, kAttachmentField, Encoded(path));
    AddField(object, kMoodField, QByteArray::number(draft.mood));
    AddField(object, kFortuneField, draft.fortune ? "yes" : "no");
    AddField(object, kBulkField, draft.bulk ? "yes" : "no");
    AddField(object, kInReplyToField, Encoded(draft.inReplyTo));
    AddField(object, kReferencesField, Encoded(draft.references));
    AddField(object, kReplyCharsetField, Encoded(QString::fromLatin1(draft.replyCharset)));
    AddField(object, kAnsweredField, Encoded(draft.answeredPath));
    AddField(object, kSignatureField, QByteArray::number(draft.signature));

    // Base64 keeps the body byte for byte: blanks at line ends, lone CRs,
    // lines of any length.
    const QByteArray utf8 = draft.body.toUtf8();
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(utf8.constData(), utf8.size()));
    const GObjectPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    const GObjectPtr<GMimeTextPart> part(g_mime_text_part_new_with_subtype("plain"));
    g_mime_part_set_content(reinterpret_cast<GMimePart*>(part.get()), wrapper.get());
    g_mime_part_set_content_encoding(reinterpret_cast<GMimePart*>(part.get()), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_content_type_parameter(AsObject(part.get()), "charset", "utf-8");
    g_mime_message_set_mime_part(message.get(), AsObject(part.get()));
    return Written(object);
}

Result<ComposeDraft> DraftFromMessage(QByteArrayView bytes) {
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    const std::unique_ptr<GMimeParserOptions, ParserOptionsFree> options(g_mime_parser_options_new());
    const GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    const GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
    if (!message) return damaged(QStringLiteral("メールの形をしていません"));

    Fields fields;
    GMimeHeaderList* headers = g_mime_object_get_header_list(AsObject(message.get()));
    for (int i = 0, count = g_mime_header_list_get_count(headers); i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
        const QByteArray name = QByteArray(g_mime_header_get_name(header)).toLower();
        if (!name.startsWith("x-lumopet-")) continue;
        const char* raw = g_mime_header_get_raw_value(header);
        fields.all.emplace_back(name, QByteArray(raw ? raw : ""));
    }
    const auto version = fields.values(kDraftField);
    if (version.empty()) return damaged(QStringLiteral("Lumopet の下書きではありません"));
    if (version.size() != 1 || version.front().trimmed() != kDraftVersion)
        return damaged(QStringLiteral("知らない版の下書きです"));

    ComposeDraft draft;
    const auto window = single(fields, kWindowField);
    if (!window) return Failure{window.error()};
    if (window.value() == "compose") draft.window = DraftWindow::Compose;
    else if (window.value() == "reply") draft.window = DraftWindow::Reply;
    else return damaged(QStringLiteral("%1 が compose でも reply でもありません").arg(QString::fromLatin1(kWindowField)));

    const std::pair<const char*, QString*> texts[] = {
        {kToField, &draft.to},           {kCcField, &draft.cc},
        {kBccField, &draft.bcc},         {kSubjectField, &draft.subject},
        {kInReplyToField, &draft.inReplyTo}, {kReferencesField, &draft.references},
        {kAnsweredField, &draft.answeredPath},
    };
    for (const auto& [name, target] : texts) {
        const auto value = text(fields, name);
        if (!value) return Failure{value.error()};
        *target = value.value();
    }
    const auto charset = text(fields, kReplyCharsetField);
    if (!charset) return Failure{charset.error()};
    draft.replyCharset = charset.value().toLatin1();
    for (const QByteArray& raw : fields.values(kAttachmentField)) {
        const auto path = Decoded(raw);
        if (!path || path->isEmpty()) return damaged(QStringLiteral("添付ファイルの名前が読めません"));
        draft.attachments.append(*path);
    }
    const auto mood = number(fields, kMoodField, kLastMood);
    if (!mood) return Failure{mood.error()};
    draft.mood = mood.value();
    const auto signature = number(fields, kSignatureField, kLastSignature);
    if (!signature) return Failure{signature.error()};
    draft.signature = signature.value();
    const auto fortune = flag(fields, kFortuneField);
    if (!fortune) return Failure{fortune.error()};
    draft.fortune = fortune.value();
    const auto bulk = flag(fields, kBulkField);
    if (!bulk) return Failure{bulk.error()};
    draft.bulk = bulk.value();
    const auto typed = body(message.get());
    if (!typed) return Failure{typed.error()};
    draft.body = typed.value();
    return draft;
}

Result<QString> SaveDraft(const QString& maildir, const QString& id, const ComposeDraft& draft) {
    return SaveDraftFile(maildir, id, DraftToMessage(draft));
}

Result<DraftListing> ReadDrafts(const QString& maildir) {
    const auto files = ReadDraftFiles(maildir);
    if (!files) return Failure{files.error()};
    DraftListing listing;
    listing.skipped = files.value().skipped;
    for (const DraftFile& file : files.value().files) {
        auto draft = DraftFromMessage(file.message);
        if (!draft) {
            listing.skipped.append(QStringLiteral("%1: %2").arg(file.path, draft.error()));
            continue;
        }
        listing.drafts.push_back(StoredDraft{file.id, file.saved, std::move(draft.value())});
    }
    return listing;
}

}  // namespace lumopet
