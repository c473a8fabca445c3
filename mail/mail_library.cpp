#include "mail/mail_library.h"

#include "mail/attachment_files.h"
#include "mail/decoded_message.h"
#include "mail/message_builder.h"

#include "core/safe_file.h"
#include "core/settings_files/receive_options.h"
#include "core/unique_fd.h"
#include "core/system_error_text.h"

#include <QFile>

#include <curl/curl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <climits>
#include <utility>
#include <map>
#include <mutex>

namespace lumopet {
namespace {

constexpr int kTextBufferOption = 1;

// The file a large message was written to as it arrived. Removed when the
// session lets the message go; a file the caller moved into the Maildir's
// new/ has left this name already, and stays.
class SpooledMessage {
public:
    SpooledMessage() = default;
    explicit SpooledMessage(QString path) : path_(std::move(path)) {}
    SpooledMessage(SpooledMessage&& other) noexcept : path_(std::exchange(other.path_, {})) {}
    SpooledMessage& operator=(SpooledMessage&& other) noexcept {
        if (this != &other) {
            remove();
            path_ = std::exchange(other.path_, {});
        }
        return *this;
    }
    ~SpooledMessage() { remove(); }
    const QString& path() const { return path_; }

private:
    void remove() {
        if (!path_.isEmpty()) ::unlink(QFile::encodeName(path_).constData());
        path_.clear();
    }
    QString path_;
};

struct Session {
    std::unique_ptr<mail::Pop3Session> pop3;
    std::vector<qint64> sizes;
    // Empty when the server gave none.
    std::vector<QString> uidls;
    SpoolFileMaker makeSpoolFile;  // none: every message is held in memory
    ArrivedBytes arrived;
    qint64 largest = -1;           // the largest message it fetches; -1: any
    int fetchedNumber = 0;
    mail::DecodedMessage fetched;
    QByteArray fetchedSource;  // as the server sent it, unless it is in fetchedFile
    SpooledMessage fetchedFile;
};

// The layer's state. The operations run one at a time, but possibly on a
// worker thread while the window thread asks for the last error: a lock
// keeps the two apart.
struct LayerState {
    std::mutex lock;
    bool started = false;
    int textBufferSize = 8192;
    int largestMessageMB = kDefaultMaxMessageMB;
    std::unique_ptr<mail::MailTransport> transport;
    std::map<int, Session> sessions;
    int nextHandle = 1;
    mail::DecodedMessage lastFetched;
    QString lastError;
    std::vector<int> lastNotDeleted;  // of the last session closed
    mail::SmtpLogin smtpLogin;
    QByteArray lastSent;
    // Where a message with a large attachment is built; none: in memory.
    SpoolFileMaker makeSendFile;
    SpooledMessage lastSentFile;
};

LayerState& state() {
    static LayerState instance;
    return instance;
}

mail::MailTransport& transport(LayerState& s) {
    if (!s.transport) s.transport = mail::MakeCurlTransport();
    return *s.transport;
}

QString cut(const QString& text, int bufferSize) { return text.left(std::max(0, bufferSize - 1)); }

int fail(LayerState& s, const QString& error, int result) {
    s.lastError = cut(error, s.textBufferSize);
    return result;
}

Session* sessionOf(LayerState& s, int handle) {
    const auto found = s.sessions.find(handle);
    if (found == s.sessions.end()) {
        fail(s, QStringLiteral("POP3 サーバーに接続していません。"), kNoConnection);
        return nullptr;
    }
    return &found->second;
}

// Runs an operation on the session of handle under the layer's lock; -1
// (with the reason kept for NMailGetMessage) when there is no such session.
template <class Operation>
int withSession(int handle, Operation operation) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    Session* session = sessionOf(s, handle);
    if (!session) return kNoConnection;
    return operation(s, *session);
}

void fillTexts(const LayerState& s, const mail::DecodedMessage& message, MailTexts& texts) {
    texts.subject = cut(message.subject, s.textBufferSize);
    texts.date = cut(message.date, s.textBufferSize);
    texts.from = cut(message.from, s.textBufferSize);
    texts.header = cut(message.headerText, s.textBufferSize);
}

// The largest message a session fetches: the user's limit, and no more
// than can be held in memory where there is no file to write it to.
qint64 largestFor(const LayerState& s, bool spooling) {
    const qint64 chosen = s.largestMessageMB > 0 ? qint64(s.largestMessageMB) * 1024 * 1024 : -1;
    if (spooling) return chosen;
    return chosen < 0 ? kMaxHeldMessageBytes : std::min(chosen, kMaxHeldMessageBytes);
}

void limitSession(const LayerState& s, Session& session) {
    const bool spooling = static_cast<bool>(session.makeSpoolFile);
    session.largest = largestFor(s, spooling);
    // What may come into memory: a message larger is written to a file,
    // under a limit of its own.
    session.pop3->setLargestMessage(spooling ? kSpooledFromBytes : session.largest);
}

bool tooLarge(const Session& session, int number) {
    return session.largest >= 0 && number >= 1 && number <= static_cast<int>(session.sizes.size()) &&
           session.sizes[number - 1] > session.largest;
}

QString megabytes(qint64 bytes) { return QString::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 1); }

int failTooLarge(LayerState& s, const Session& session, int number) {
    return fail(s,
                QStringLiteral("メッセージ %1 は %2 MB あり、受信できる大きさ（%3 MB）を超えています。")
                    .arg(number)
                    .arg(megabytes(session.sizes[number - 1]), megabytes(session.largest)),
                kMailFailed);
}

// A large message, written to a new file as it arrives and decoded from
// there: memory does not grow with it. A server that sends much more than
// it listed is cut off before it fills the disk.
int fetchIntoFile(LayerState& s, Session& session, int number) {
    const Result<SpoolFile> made = session.makeSpoolFile();
    if (!made) return fail(s, made.error(), kMailFailed);
    const UniqueFd file(made.value().fd);
    SpooledMessage spooled(made.value().path);
    const qint64 listed = session.sizes[number - 1];
    qint64 written = 0;
    const auto write = [&](QByteArrayView slice) -> Status {
        if (WriteAll(file.get(), slice)) {
            written += slice.size();
            if (session.arrived) session.arrived(number, written, listed);
            return success();
        }
        return Failure{QStringLiteral("受信中のメールを「%1」に書き込めません。\n").arg(spooled.path()) + SystemErrorText(errno)};
    };
    const Status received = session.pop3->retrieveInto(number, write, listed + listed / 8 + (1 << 20));
    if (!received) return fail(s, received.error(), kMailFailed);
    session.fetched = mail::DecodeMessageFile(file.get());
    session.fetchedSource.clear();
    session.fetchedFile = std::move(spooled);
    session.fetchedNumber = number;
    return 0;
}

// Fetches the message once per number; the status, size and body calls for
// it share the copy.
int fetch(LayerState& s, Session& session, int number) {
    if (session.fetchedNumber == number) return 0;
    if (tooLarge(session, number)) return failTooLarge(s, session, number);
    // The last message's file goes before the next one comes.
    session.fetchedNumber = 0;
    session.fetched = {};
    session.fetchedFile = {};
    if (session.makeSpoolFile && number >= 1 && number <= static_cast<int>(session.sizes.size()) &&
        session.sizes[number - 1] > kSpooledFromBytes)
        return fetchIntoFile(s, session, number);
    const auto raw = session.pop3->retrieve(number);
    if (!raw) return fail(s, raw.error(), kMailFailed);
    session.fetched = mail::DecodeMessage(raw.value());
    session.fetchedSource = raw.value();
    session.fetchedNumber = number;
    return 0;
}

}  // namespace

int NMailInitializeWinSock() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    if (s.started) return 0;
    // curl's global set-up is not thread-safe: it runs here, on the main
    // thread, before any transfer can start.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return -1;
    g_mime_init();
    s.started = true;
    return 0;
}

int NMailSetOption(int option, int value) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    if (option == kLargestMessageOption && value >= 0) {
        s.largestMessageMB = value;
        for (auto& [handle, session] : s.sessions) limitSession(s, session);
        return 0;
    }
    if (option != kTextBufferOption || value <= 0) return -1;
    s.textBufferSize = value;
    return 0;
}

int NMailEndWinSock() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    if (!s.started) return 0;
    s.sessions.clear();  // ends any session still open
    s.transport.reset();
    g_mime_shutdown();
    curl_global_cleanup();
    s.started = false;
    return 0;
}

int MailTextBufferSize() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    return s.textBufferSize;
}

MailTexts MailTextsOf(const mail::DecodedMessage& message) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    MailTexts texts;
    fillTexts(s, message, texts);
    return texts;
}

void SetMailTransport(std::unique_ptr<mail::MailTransport> newTransport) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.sessions.clear();
    s.transport = std::move(newTransport);
}

int NMailPop3Connect(const QString& server) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    auto session = transport(s).connectPop3(server);
    if (!session) return fail(s, session.error(), kNoConnection);
    const int handle = s.nextHandle++;
    Session& made = s.sessions[handle];
    made.pop3 = std::move(session.value());
    limitSession(s, made);
    return handle;
}

int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        auto sizes = session.pop3->login(id, password, apop != 0);
        if (!sizes) return fail(s, sizes.error(), kMailFailed);
        session.sizes = std::move(sizes.value());
        session.uidls.clear();
        return static_cast<int>(session.sizes.size());
    });
}

int NMailPop3GetUidls(int handle, QStringList& uidls) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        uidls.clear();
        // Asked only by the mail check: a POP3 login before SMTP has no use
        // for them. A listing that does not match the messages names
        // nothing reliably.
        if (session.uidls.empty() && !session.sizes.empty()) {
            auto listed = session.pop3->uniqueIds();
            if (!listed) return fail(s, listed.error(), kNoConnection);
            if (listed.value().size() != session.sizes.size())
                return fail(s, QStringLiteral("サーバーの UIDL の数がメッセージの数と合いません。"), kNoConnection);
            session.uidls = std::move(listed.value());
        }
        for (const QString& uidl : session.uidls) uidls.append(uidl);
        return static_cast<int>(uidls.size());
    });
}

int NMailPop3SpoolLargeMail(int handle, SpoolFileMaker makeFile, ArrivedBytes arrived) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        session.makeSpoolFile = std::move(makeFile);
        session.arrived = std::move(arrived);
        limitSession(s, session);
        return 0;
    });
}

bool NMailPop3IsTooLarge(int handle, int number) {
    return withSession(handle, [&](LayerState& s, Session& session) {
               if (!tooLarge(session, number)) return 0;
               failTooLarge(s, session, number);
               return 1;
           }) == 1;
}

int NMailPop3GetMailHeader(int handle, int number, MailTexts& texts) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        const auto header = session.pop3->top(number);
        if (!header) return fail(s, header.error(), kMailFailed);
        // A header too long for any mail is not read whole.
        fillTexts(s, mail::DecodeMessage(QByteArrayView(header.value()).first(std::min<qsizetype>(header.value().size(), 1 << 20))),
                  texts);
        return 0;
    });
}

int NMailPop3GetMailStatus(int handle, int number, MailTexts& texts, int) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        if (const int result = fetch(s, session, number); result < 0) return result;
        fillTexts(s, session.fetched, texts);
        return 0;
    });
}

int NMailPop3GetMailSize(int handle, int number) {
    return withSession(handle, [&](LayerState&, Session& session) {
        if (number < 1 || number > static_cast<int>(session.sizes.size())) return -1;
        return static_cast<int>(std::min<qint64>(session.sizes[number - 1], INT_MAX));
    });
}

int NMailPop3GetMail(int handle, int number, MailTexts& texts, QString& body, int, int) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        if (const int result = fetch(s, session, number); result < 0) return result;
        fillTexts(s, session.fetched, texts);
        body = mail::BodyBeforeAttachmentStep(session.fetched);
        s.lastFetched = session.fetched;
        return 0;
    });
}

int NMailPop3GetMailSource(int handle, int number, QByteArray& source) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        source.clear();
        if (session.fetchedNumber != number)
            return fail(s, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        if (!session.fetchedFile.path().isEmpty())
            return fail(s, QStringLiteral("メッセージ %1 は大きいため、ファイル「%2」に受信しました。").arg(number).arg(session.fetchedFile.path()),
                        kMailFailed);
        source = session.fetchedSource;
        return 0;
    });
}

int NMailPop3GetMailFile(int handle, int number, QString& path) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        path.clear();
        if (session.fetchedNumber != number)
            return fail(s, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        path = session.fetchedFile.path();
        return path.isEmpty() ? 0 : 1;
    });
}

int NMailPop3UseJoinedMail(int handle, int number, const QByteArray& source) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        if (session.fetchedNumber != number)
            return fail(s, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        session.fetched = mail::DecodeMessage(source);
        session.fetchedSource = source;
        session.fetchedFile = {};
        return 0;
    });
}

int NMailAttachmentFileFirst(int, MailTexts& texts, QString& body, const QString& folder, const QString&,
                             const QString&, int) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    fillTexts(s, s.lastFetched, texts);
    body = s.lastFetched.text;
    mail::AttachmentFailure failure;
    const int result = mail::SaveAttachments(folder, s.lastFetched, nullptr, &failure);
    if (result == mail::kAttachmentCannotBeOpened)
        fail(s, QStringLiteral("添付ファイル「%1」を「%2」に書き込めません。\n%3").arg(failure.name, folder, failure.reason),
             result);
    return result;
}

int NMailAttachmentFileClose(int) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.lastFetched = {};
    return 0;
}

int NMailPop3DeleteMail(int handle, int number) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        // Only a message that reached us may go: whatever the caller did
        // with a failed fetch, the server keeps the mail.
        if (session.fetchedNumber != number)
            return fail(s, QStringLiteral("メッセージ %1 は受信できていないため、サーバーから削除しません。").arg(number),
                        kMailFailed);
        const auto removed = session.pop3->remove(number);
        return removed ? 0 : fail(s, removed.error(), kMailFailed);
    });
}

int NMailPop3DeleteStoredMail(int handle, int number) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        if (number < 1 || number > static_cast<int>(session.uidls.size()))
            return fail(s, QStringLiteral("メッセージ %1 の UIDL が分からないため、サーバーから削除しません。").arg(number),
                        kMailFailed);
        const auto removed = session.pop3->remove(number);
        return removed ? 0 : fail(s, removed.error(), kMailFailed);
    });
}

int NMailPop3UndoDeletes(int handle, int fromNumber) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        const auto undone = session.pop3->undoDeletions(fromNumber);
        return undone ? 0 : fail(s, undone.error(), kMailFailed);
    });
}

int NMailPop3Close(int handle) {
    return withSession(handle, [&](LayerState& s, Session& session) {
        session.pop3->quit();
        mail::NotDeleted left = session.pop3->notDeleted();
        s.sessions.erase(handle);
        s.lastNotDeleted = std::move(left.numbers);
        return s.lastNotDeleted.empty() ? 0 : fail(s, left.reason, kMailFailed);
    });
}

std::vector<int> NMailPop3NotDeleted() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    return s.lastNotDeleted;
}

namespace {

int failedSend(LayerState& s, const mail::SmtpStatus& sent) {
    return fail(s, sent.error(), sent.stopped ? kSendStopped : sent.relayRefused ? kRelayRefused : kMailFailed);
}

// A message with a large attachment, built into a file with the
// attachment encoded from its own, and sent from there.
int sendFromFile(LayerState& s, const QString& server, const QString& from, const QString& to,
                 const mail::OutgoingMessage& message) {
    const Result<SpoolFile> made = s.makeSendFile();
    if (!made) return fail(s, made.error(), kNoConnection);
    const UniqueFd file(made.value().fd);
    SpooledMessage built(made.value().path);
    const Result<qint64> wireSize = mail::BuildMessageFile(message, file.get());
    if (!wireSize) return fail(s, wireSize.error(), kNoConnection);
    const auto sent = transport(s).sendSmtpFile(server, s.smtpLogin, mail::AddressOf(from), mail::AddressOf(to), file.get(),
                                                wireSize.value());
    if (!sent) return failedSend(s, sent);
    s.lastSentFile = std::move(built);
    return 0;
}

}  // namespace

int NMailSmtpSendMail(const QString& server, const QString& to, const QString&, const QString&, const QString& from,
                      const QString& subject, const QString& body, const QString&, const QString& attachments, int) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.lastSent.clear();
    s.lastSentFile = {};
    mail::OutgoingMessage message;
    message.from = from;
    message.to = to;
    message.subject = subject;
    message.body = body;
    message.attachmentPaths = mail::AttachmentPaths(attachments);
    if (s.makeSendFile && mail::HasLargeAttachment(message.attachmentPaths)) return sendFromFile(s, server, from, to, message);
    const auto built = mail::BuildMessage(message);
    if (!built) return fail(s, built.error(), kNoConnection);
    const auto sent = transport(s).sendSmtp(server, s.smtpLogin, mail::AddressOf(from), mail::AddressOf(to), built.value());
    if (!sent) return failedSend(s, sent);
    s.lastSent = built.value();
    return 0;
}

void NMailSmtpSpoolLargeMail(SpoolFileMaker makeFile) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.makeSendFile = std::move(makeFile);
}

QString NMailLastSentMessageFile() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    return s.lastSentFile.path();
}

QByteArray NMailLastSentMessage() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    return s.lastSent;
}

void NMailSetSmtpLogin(const QString& id, const QString& password) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.smtpLogin = {id, password};
}

int NMailGetMessage(int, QString& text) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    text = s.lastError;
    return static_cast<int>(text.size());
}

}  // namespace lumopet
