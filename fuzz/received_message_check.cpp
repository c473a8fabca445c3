// A received message through the same calls a mail check makes, from a
// mailbox in memory: fetch, status, body, attachment step.

#include "fuzz/checks.h"
#include "fuzz/scratch_folder.h"
#include "mail/attachment_files.h"
#include "mail/decoded_message.h"
#include "mail/mail_library.h"
#include "store/maildir.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace lumopet::fuzz {
namespace {

namespace fs = std::filesystem;

// A POP3 server holding one message: the input.
struct OneMessage {
    QByteArray message;
};

class OneMessageSession : public mail::Pop3Session {
public:
    explicit OneMessageSession(std::shared_ptr<OneMessage> box) : box_(std::move(box)) {}
    mail::Pop3Login login(const mail::Credentials&) override {
        return mail::Pop3Login(std::vector<qint64>{box_->message.size()});
    }
    Result<std::vector<QString>> uniqueIds() override { return std::vector<QString>{QStringLiteral("fuzz-1")}; }
    Result<QByteArray> retrieve(int number) override {
        if (number != 1) return Failure{QStringLiteral("no such message")};
        return box_->message;
    }
    Status remove(int) override { return success(); }
    Status undoDeletions(int) override { return success(); }
    void quit() override {}

private:
    std::shared_ptr<OneMessage> box_;
};

class OneMessageTransport : public mail::MailTransport {
public:
    explicit OneMessageTransport(std::shared_ptr<OneMessage> box) : box_(std::move(box)) {}
    Result<std::unique_ptr<mail::Pop3Session>> connectPop3(const QString&) override {
        return std::unique_ptr<mail::Pop3Session>(std::make_unique<OneMessageSession>(box_));
    }
    mail::SmtpStatus sendSmtp(const QString&, const mail::Credentials&, const QString&, const QStringList&,
                              const QByteArray&) override {
        return Failure{QStringLiteral("no sending here")};
    }

private:
    std::shared_ptr<OneMessage> box_;
};

std::shared_ptr<OneMessage>& mailbox() {
    static std::shared_ptr<OneMessage> box = std::make_shared<OneMessage>();
    return box;
}

const std::string kOutsideText = "a file of the user's, outside the attachment folder\n";
// Entries the folder holds before the attachment step: a link to the file
// outside under a name a sender may well choose, and a dangling link.
const std::string kLinkName = "link.txt";
const std::string kDanglingName = "dangling.txt";

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a decoded header field may not hold: it would split a history
// record's line, or end the text early in a fixed buffer.
std::string lineBreakOrNul(const char* field, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return std::string(field) + " holds U+" + QString::number(c.unicode(), 16).toStdString() + ": \"" +
                   text.toStdString() + "\"";
    }
    return {};
}

std::string fieldsOnOneLine(const MailTexts& texts) {
    for (const auto& [field, text] : {std::pair{"subject", &texts.subject}, std::pair{"from", &texts.from},
                                      std::pair{"date", &texts.date}}) {
        if (std::string found = lineBreakOrNul(field, *text); !found.empty()) return found;
    }
    return {};
}

bool sameTexts(const MailTexts& a, const MailTexts& b) {
    return a.subject == b.subject && a.from == b.from && a.date == b.date && a.header == b.header;
}

// Sets up the run's folder: run/attachments with the two links, and
// run/outside.txt.
void prepareRun(const fs::path& run) {
    RemoveTree(run);
    fs::create_directories(run / "attachments");
    std::ofstream(run / "outside.txt", std::ios::binary) << kOutsideText;
    fs::create_symlink("../outside.txt", run / "attachments" / kLinkName);
    fs::create_symlink("../nowhere.txt", run / "attachments" / kDanglingName);
}

// Everything outside the attachment folder, and the links in it, as they
// were.
std::string surroundingsUntouched(const fs::path& run) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(run)) names.insert(entry.path().filename());
    if (names != std::set<std::string>{"attachments", "outside.txt"}) {
        std::string listed;
        for (const std::string& name : names) listed += " \"" + name + "\"";
        return "something was written beside the attachment folder:" + listed;
    }
    if (!fs::is_regular_file(fs::symlink_status(run / "outside.txt")) || readAll(run / "outside.txt") != kOutsideText)
        return "the file outside the attachment folder was changed through a link";
    for (const std::string& link : {kLinkName, kDanglingName}) {
        const fs::path at = run / "attachments" / link;
        if (!fs::is_symlink(fs::symlink_status(at))) return "the link \"" + link + "\" was replaced";
    }
    if (fs::exists(fs::symlink_status(run / "nowhere.txt")))
        return "a file was created through the dangling link";
    return {};
}

// The names the attachment step created, and their contents, sorted.
std::string savedFiles(const fs::path& folder, std::vector<std::string>& contents) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (name == kLinkName || name == kDanglingName) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return "\"" + name + "\" in the attachment folder is not a plain file";
        const QString decoded = QFile::decodeName(QByteArray::fromStdString(name));
        if (decoded.startsWith(u'.')) return "saved name \"" + name + "\" starts with a dot";
        if (std::any_of(decoded.begin(), decoded.end(), [](QChar c) { return c.unicode() < 0x20 || c == u'\\'; }))
            return "saved name \"" + name + "\" holds a control character or a backslash";
        if ((st.st_mode & 0777) == 0) return "saved file \"" + name + "\" has no permissions at all";
        contents.push_back(readAll(entry.path()));
    }
    std::sort(contents.begin(), contents.end());
    return {};
}

std::string checkInRun(QByteArrayView input, const fs::path& run) {
    mailbox()->message = input.toByteArray();
    QString connectError;
    const int handle = NMailPop3Connect(QStringLiteral("memory"), connectError);
    if (handle < 0) return "the in-memory mailbox refused the connection: " + connectError.toStdString();
    struct Closer {
        int handle;
        ~Closer() {
            NMailAttachmentFileClose(handle);
            NMailPop3Close(handle);
        }
    } closer{handle};
    if (NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("id"), QStringLiteral("pw"))) != 1)
        return "the login did not list the one message";

    MailTexts status;
    if (NMailPop3GetMailStatus(handle, 1, status, 0) != 0) return "status of the message failed";
    if (std::string found = fieldsOnOneLine(status); !found.empty()) return "status: " + found;
    MailTexts texts;
    QString body;
    if (NMailPop3GetMail(handle, 1, texts, body, 0, 0) != 0) return "fetching the message failed";
    if (!sameTexts(status, texts)) return "the status and the fetch disagree about the header texts";

    const fs::path folder = run / "attachments";
    MailTexts after;
    QString text;
    const int result = NMailAttachmentFileFirst(handle, after, text, QString::fromStdString(folder.string()),
                                                QString::fromStdString((run / "0.txt").string()), body, 0);
    if (!sameTexts(texts, after)) return "the attachment step changed the header texts";

    if (std::string found = surroundingsUntouched(run); !found.empty()) return found;
    std::vector<std::string> contents;
    if (std::string found = savedFiles(folder, contents); !found.empty()) return found;

    // What the message holds, decoded on its own, must be what was saved.
    const mail::DecodedMessage decoded = mail::DecodeMessage(input);
    // An attachment the folder already holds byte for byte under its name
    // is not written twice (a message fetched again after a failed check),
    // so the same attachment twice in one message may give one file: every
    // content must be there, and nothing else.
    std::vector<std::string> expected;
    for (const mail::MailAttachment& attachment : decoded.attachments) expected.push_back(attachment.content.toStdString());
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    std::vector<std::string> distinct = contents;
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());

    std::ostringstream why;
    switch (result) {
    case mail::kAttachmentsSaved:
        if (distinct != expected || contents.size() > decoded.attachments.size()) {
            why << "saved " << contents.size() << " files, the message has " << expected.size()
                << " attachments, or their contents differ; saved sizes:";
            for (const std::string& content : contents) why << " " << content.size();
            why << "; attachments:";
            for (const mail::MailAttachment& attachment : decoded.attachments)
                why << " \"" << attachment.fileName.toStdString() << "\" " << attachment.content.size();
            return why.str();
        }
        return {};
    case mail::kNoAttachments:
    case mail::kSplitMessageIncomplete:
        if (!contents.empty()) return "files were saved although the step reported none";
        if (result == mail::kNoAttachments && !decoded.attachments.empty())
            return "the step reported no attachments for a message that has some";
        return {};
    case mail::kAttachmentCannotBeOpened:
        return "an attachment could not be saved into an empty, writable folder: " + LastMailError(handle).toStdString();
    default:
        why << "the attachment step returned " << result;
        return why.str();
    }
}

}  // namespace

void PrepareReceivedMessageCheck() {
    NMailInitializeWinSock();
    SetMailTransport(std::make_unique<OneMessageTransport>(mailbox()));
}

// A large message is decoded from its file in the Maildir's form: every
// attachment must write from there, whatever the message holds.
std::string checkFromFile(QByteArrayView input, const fs::path& run) {
    const QString path = QString::fromStdString((run / "message").string());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.write(MaildirLocalForm(input)) < 0 || !file.flush())
        return "the message file could not be written";
    const mail::DecodedMessage decoded = mail::DecodeMessageFile(file.handle());
    QFile out(QString::fromStdString((run / "content").string()));
    if (!out.open(QIODevice::ReadWrite)) return "the content file could not be made";
    for (const mail::MailAttachment& attachment : decoded.attachments) {
        if (!attachment.streamed) continue;
        out.resize(0);
        if (const Status written = attachment.streamed->writeTo(out.handle()); !written)
            return "an attachment did not write from the message's file: " + written.error().toStdString();
    }
    return {};
}

std::string CheckReceivedMessage(QByteArrayView input, const fs::path& scratch) {
    static std::atomic<int> runs{0};
    const fs::path run = scratch / ("message-" + std::to_string(++runs));
    prepareRun(run);
    std::string complaint = checkInRun(input, run);
    if (complaint.empty()) complaint = checkFromFile(input, run);
    RemoveTree(run);
    return complaint;
}

}  // namespace lumopet::fuzz
