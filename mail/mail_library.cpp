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

#include <atomic>
#include <climits>
#include <utility>
#include <map>
#include <mutex>
#include <set>

namespace lumopet {
namespace {

constexpr int kTextBufferOption = 1;

// One POP3 session: what it fetched and its last failure belong to it
// alone, so that a mail check and the POP3 login of a send on another
// thread never read each other's. Its own lock keeps one command at a time;
// the layer's lock is held only to find it.
struct Session {
    std::mutex lock;
    std::unique_ptr<mail::Pop3Session> pop3;
    std::vector<qint64> sizes;
    // Empty when the server gave none.
    std::vector<QString> uidls;
    SpoolFileMaker makeSpoolFile;  // none: every message is held in memory
    ArrivedBytes arrived;
    qint64 largest = -1;           // the largest message it fetches; -1: any
    int fetchedNumber = 0;
    // Every message this session fetched whole: the check may ask to
    // delete them later than right after each (with the junk filter on it
    // stores the records once all are fetched).
    std::set<int> retrieved;
    mail::DecodedMessage fetched;
    QByteArray fetchedSource;  // as the server sent it, unless it is in fetchedFile
    SpooledFile fetchedFile;
    // NMailPop3GetMail offered the fetched message to the attachment step;
    // NMailAttachmentFileClose takes it back.
    bool offeredForAttachments = false;
    QString lastError;
};

// The layer's state: the options, the transport and the open sessions.
// What an operation reports is its own (its session's, or its return
// value); nothing here is a "last" anything shared between threads.
struct LayerState {
    std::mutex lock;
    bool started = false;
    std::atomic<int> textBufferSize = 8192;
    std::atomic<int> largestMessageMB = kDefaultMaxMessageMB;
    // Shared: a send holds it while it runs, without the lock, even if a
    // test puts another in its place meanwhile.
    std::shared_ptr<mail::MailTransport> transport;
    std::map<int, std::shared_ptr<Session>> sessions;
    int nextHandle = 1;
};

LayerState& state() {
    static LayerState instance;
    return instance;
}

std::shared_ptr<mail::MailTransport> transport() {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    if (!s.transport) s.transport = mail::MakeCurlTransport();
    return s.transport;
}

QString cut(const QString& text, int bufferSize) { return text.left(std::max(0, bufferSize - 1)); }

QString cut(const QString& text) { return cut(text, state().textBufferSize); }

int fail(Session& session, const QString& error, int result) {
    session.lastError = cut(error);
    return result;
}

const QString kNotConnectedText = QStringLiteral("POP3 サーバーに接続していません。");

std::shared_ptr<Session> sessionOf(int handle) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    const auto found = s.sessions.find(handle);
    return found == s.sessions.end() ? nullptr : found->second;
}

// Runs an operation on the session of handle under the session's lock;
// kNoConnection when there is no such session (NMailGetMessage says so).
template <class Operation>
int withSession(int handle, Operation operation) {
    const std::shared_ptr<Session> session = sessionOf(handle);
    if (!session) return kNoConnection;
    std::lock_guard guard(session->lock);
    return operation(*session);
}

void fillTexts(const mail::DecodedMessage& message, MailTexts& texts) {
    texts.subject = cut(message.subject);
    texts.date = cut(message.date);
    texts.from = cut(message.from);
    texts.header = cut(message.headerText);
}

// The largest message a session fetches: the user's limit, and no more
// than can be held in memory where there is no file to write it to.
qint64 largestFor(bool spooling) {
    const int megabytes = state().largestMessageMB;
    const qint64 chosen = megabytes > 0 ? qint64(megabytes) * 1024 * 1024 : -1;
    if (spooling) return chosen;
    return chosen < 0 ? kMaxHeldMessageBytes : std::min(chosen, kMaxHeldMessageBytes);
}

// Under the session's lock.
void limitSession(Session& session) {
    const bool spooling = static_cast<bool>(session.makeSpoolFile);
    session.largest = largestFor(spooling);
    // What may come into memory: a message larger is written to a file,
    // under a limit of its own.
    session.pop3->setLargestMessage(spooling ? kSpooledFromBytes : session.largest);
}

bool tooLarge(const Session& session, int number) {
    return session.largest >= 0 && number >= 1 && number <= static_cast<int>(session.sizes.size()) &&
           session.sizes[number - 1] > session.largest;
}

QString megabytes(qint64 bytes) { return QString::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 1); }

int failTooLarge(Session& session, int number) {
    return fail(session,
                QStringLiteral("メッセージ %1 は %2 MB あり、受信できる大きさ（%3 MB）を超えています。")
                    .arg(number)
                    .arg(megabytes(session.sizes[number - 1]), megabytes(session.largest)),
                kMailFailed);
}

// A large message, written to a new file as it arrives and decoded from
// there: memory does not grow with it. A server that sends much more than
// it listed is cut off before it fills the disk.
int fetchIntoFile(Session& session, int number) {
    const Result<SpoolFile> made = session.makeSpoolFile();
    if (!made) return fail(session, made.error(), kMailFailed);
    const UniqueFd file(made.value().fd);
    SpooledFile spooled(made.value().path);
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
    if (!received) return fail(session, received.error(), kMailFailed);
    session.fetched = mail::DecodeMessageFile(file.get());
    session.fetchedSource.clear();
    session.fetchedFile = std::move(spooled);
    session.fetchedNumber = number;
    session.retrieved.insert(number);
    return 0;
}

// Fetches the message once per number; the status, size and body calls for
// it share the copy.
int fetch(Session& session, int number) {
    if (session.fetchedNumber == number) return 0;
    if (tooLarge(session, number)) return failTooLarge(session, number);
    // The last message's file goes before the next one comes.
    session.fetchedNumber = 0;
    session.fetched = {};
    session.fetchedFile = {};
    if (session.makeSpoolFile && number >= 1 && number <= static_cast<int>(session.sizes.size()) &&
        session.sizes[number - 1] > kSpooledFromBytes)
        return fetchIntoFile(session, number);
    const auto raw = session.pop3->retrieve(number);
    if (!raw) return fail(session, raw.error(), kMailFailed);
    session.fetched = mail::DecodeMessage(raw.value());
    session.fetchedSource = raw.value();
    session.fetchedNumber = number;
    session.retrieved.insert(number);
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
    if (option == kLargestMessageOption && value >= 0) {
        std::vector<std::shared_ptr<Session>> open;
        {
            std::lock_guard guard(s.lock);
            s.largestMessageMB = value;
            for (auto& [handle, session] : s.sessions) open.push_back(session);
        }
        // Each session at its next command: one may be in the middle of a
        // message on another thread.
        for (const auto& session : open) {
            std::lock_guard guard(session->lock);
            limitSession(*session);
        }
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

int MailTextBufferSize() { return state().textBufferSize; }

MailTexts MailTextsOf(const mail::DecodedMessage& message) {
    MailTexts texts;
    fillTexts(message, texts);
    return texts;
}

void SetMailTransport(std::unique_ptr<mail::MailTransport> newTransport) {
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    s.sessions.clear();
    s.transport = std::move(newTransport);
}

int NMailPop3Connect(const QString& server, QString& error) {
    error.clear();
    auto session = transport()->connectPop3(server);
    if (!session) {
        error = cut(session.error());
        return kNoConnection;
    }
    auto made = std::make_shared<Session>();
    made->pop3 = std::move(session.value());
    limitSession(*made);
    LayerState& s = state();
    std::lock_guard guard(s.lock);
    const int handle = s.nextHandle++;
    s.sessions[handle] = std::move(made);
    return handle;
}

int NMailPop3Authenticate(int handle, const mail::Credentials& login) {
    return withSession(handle, [&](Session& session) {
        auto sizes = session.pop3->login(login);
        if (!sizes) return fail(session, sizes.error(), sizes.loginRefused ? kLoginRefused : kMailFailed);
        session.sizes = std::move(sizes.value());
        session.uidls.clear();
        return static_cast<int>(session.sizes.size());
    });
}

int NMailPop3GetUidls(int handle, QStringList& uidls) {
    return withSession(handle, [&](Session& session) {
        uidls.clear();
        // Asked only by the mail check: a POP3 login before SMTP has no use
        // for them. A listing that does not match the messages names
        // nothing reliably.
        if (session.uidls.empty() && !session.sizes.empty()) {
            auto listed = session.pop3->uniqueIds();
            if (!listed) return fail(session, listed.error(), kNoConnection);
            if (listed.value().size() != session.sizes.size())
                return fail(session, QStringLiteral("サーバーの UIDL の数がメッセージの数と合いません。"), kNoConnection);
            session.uidls = std::move(listed.value());
        }
        for (const QString& uidl : session.uidls) uidls.append(uidl);
        return static_cast<int>(uidls.size());
    });
}

int NMailPop3SpoolLargeMail(int handle, SpoolFileMaker makeFile, ArrivedBytes arrived) {
    return withSession(handle, [&](Session& session) {
        session.makeSpoolFile = std::move(makeFile);
        session.arrived = std::move(arrived);
        limitSession(session);
        return 0;
    });
}

bool NMailPop3IsTooLarge(int handle, int number) {
    return withSession(handle, [&](Session& session) {
               if (!tooLarge(session, number)) return 0;
               failTooLarge(session, number);
               return 1;
           }) == 1;
}

int NMailPop3GetMailHeader(int handle, int number, MailTexts& texts) {
    return withSession(handle, [&](Session& session) {
        const auto header = session.pop3->top(number);
        if (!header) return fail(session, header.error(), kMailFailed);
        // A header too long for any mail is not read whole.
        fillTexts(mail::DecodeMessage(QByteArrayView(header.value()).first(std::min<qsizetype>(header.value().size(), 1 << 20))),
                  texts);
        return 0;
    });
}

int NMailPop3GetMailStatus(int handle, int number, MailTexts& texts, int) {
    return withSession(handle, [&](Session& session) {
        if (const int result = fetch(session, number); result < 0) return result;
        fillTexts(session.fetched, texts);
        return 0;
    });
}

int NMailPop3GetMailSize(int handle, int number) {
    return withSession(handle, [&](Session& session) {
        if (number < 1 || number > static_cast<int>(session.sizes.size())) return -1;
        return static_cast<int>(std::min<qint64>(session.sizes[number - 1], INT_MAX));
    });
}

int NMailPop3GetMail(int handle, int number, MailTexts& texts, QString& body, int, int) {
    return withSession(handle, [&](Session& session) {
        if (const int result = fetch(session, number); result < 0) return result;
        fillTexts(session.fetched, texts);
        body = mail::BodyBeforeAttachmentStep(session.fetched);
        session.offeredForAttachments = true;
        return 0;
    });
}

int NMailPop3GetMailSource(int handle, int number, QByteArray& source) {
    return withSession(handle, [&](Session& session) {
        source.clear();
        if (session.fetchedNumber != number)
            return fail(session, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        if (!session.fetchedFile.path().isEmpty())
            return fail(session, QStringLiteral("メッセージ %1 は大きいため、ファイル「%2」に受信しました。").arg(number).arg(session.fetchedFile.path()),
                        kMailFailed);
        source = session.fetchedSource;
        return 0;
    });
}

int NMailPop3GetMailFile(int handle, int number, QString& path) {
    return withSession(handle, [&](Session& session) {
        path.clear();
        if (session.fetchedNumber != number)
            return fail(session, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        path = session.fetchedFile.path();
        return path.isEmpty() ? 0 : 1;
    });
}

int NMailPop3UseJoinedMail(int handle, int number, const QByteArray& source) {
    return withSession(handle, [&](Session& session) {
        if (session.fetchedNumber != number)
            return fail(session, QStringLiteral("メッセージ %1 は受信できていません。").arg(number), kMailFailed);
        session.fetched = mail::DecodeMessage(source);
        session.fetchedSource = source;
        session.fetchedFile = {};
        return 0;
    });
}

int NMailAttachmentFileFirst(int handle, MailTexts& texts, QString& body, const QString& folder, const QString&,
                             const QString&, int) {
    return withSession(handle, [&](Session& session) {
        // Nothing offered (no NMailPop3GetMail since the last close): an
        // empty message, which has nothing to save.
        static const mail::DecodedMessage nothing;
        const mail::DecodedMessage& message = session.offeredForAttachments ? session.fetched : nothing;
        fillTexts(message, texts);
        body = message.text;
        mail::AttachmentFailure failure;
        const int result = mail::SaveAttachments(folder, message, nullptr, &failure);
        if (result == mail::kAttachmentCannotBeOpened)
            fail(session, QStringLiteral("添付ファイル「%1」を「%2」に書き込めません。\n%3").arg(failure.name, folder, failure.reason),
                 result);
        return result;
    });
}

int NMailAttachmentFileClose(int handle) {
    return withSession(handle, [&](Session& session) {
        session.offeredForAttachments = false;
        return 0;
    });
}

int NMailPop3DeleteMail(int handle, int number) {
    return withSession(handle, [&](Session& session) {
        // Only a message that reached us may go: whatever the caller did
        // with a failed fetch, the server keeps the mail.
        if (!session.retrieved.contains(number))
            return fail(session, QStringLiteral("メッセージ %1 は受信できていないため、サーバーから削除しません。").arg(number),
                        kMailFailed);
        const auto removed = session.pop3->remove(number);
        return removed ? 0 : fail(session, removed.error(), kMailFailed);
    });
}

int NMailPop3DeleteStoredMail(int handle, int number) {
    return withSession(handle, [&](Session& session) {
        if (number < 1 || number > static_cast<int>(session.uidls.size()))
            return fail(session, QStringLiteral("メッセージ %1 の UIDL が分からないため、サーバーから削除しません。").arg(number),
                        kMailFailed);
        const auto removed = session.pop3->remove(number);
        return removed ? 0 : fail(session, removed.error(), kMailFailed);
    });
}

int NMailPop3UndoDeletes(int handle, int fromNumber) {
    return withSession(handle, [&](Session& session) {
        const auto undone = session.pop3->undoDeletions(fromNumber);
        return undone ? 0 : fail(session, undone.error(), kMailFailed);
    });
}

int NMailPop3Close(int handle, mail::NotDeleted* notDeleted) {
    if (notDeleted) *notDeleted = {};
    std::shared_ptr<Session> session;
    {
        LayerState& s = state();
        std::lock_guard guard(s.lock);
        const auto found = s.sessions.find(handle);
        if (found == s.sessions.end()) return kNoConnection;
        session = std::move(found->second);
        s.sessions.erase(found);
    }
    std::lock_guard guard(session->lock);
    session->pop3->quit();
    mail::NotDeleted left = session->pop3->notDeleted();
    const bool allGone = left.numbers.empty();
    left.reason = cut(left.reason);
    if (notDeleted) *notDeleted = std::move(left);
    return allGone ? 0 : kMailFailed;
}

int NMailGetMessage(int handle, QString& text) {
    const std::shared_ptr<Session> session = sessionOf(handle);
    if (!session) {
        text = kNotConnectedText;
    } else {
        std::lock_guard guard(session->lock);
        text = session->lastError;
    }
    return static_cast<int>(text.size());
}

namespace {

MailSent failedSend(const QString& error, int code) {
    MailSent sent;
    sent.code = code;
    sent.error = cut(error);
    return sent;
}

MailSent failedSend(const mail::SmtpStatus& status) {
    return failedSend(status.error(), status.stopped        ? kSendStopped
                                      : status.loginRefused ? kLoginRefused
                                      : status.relayRefused ? kRelayRefused
                                                            : kMailFailed);
}

// MAIL FROM: the own address, its domain in ASCII form.
QString envelopeSender(const QString& from) { return mail::FirstMailbox(from).asciiAddress; }

// A message with a large attachment, built into a file with the
// attachment encoded from its own, and sent from there.
MailSent sendFromFile(const MailToSend& mail, const mail::Credentials& login, const SpoolFileMaker& makeFile,
                      const mail::OutgoingMessage& message, const QStringList& recipients) {
    const Result<SpoolFile> made = makeFile();
    if (!made) return failedSend(made.error(), kNoConnection);
    const UniqueFd file(made.value().fd);
    SpooledFile built(made.value().path);
    const Result<qint64> wireSize = mail::BuildMessageFile(message, file.get());
    if (!wireSize) return failedSend(wireSize.error(), kNoConnection);
    const auto status =
        transport()->sendSmtpFile(mail.server, login, envelopeSender(mail.from), recipients, file.get(), wireSize.value());
    if (!status) return failedSend(status);
    MailSent sent;
    sent.file = std::move(built);
    return sent;
}

}  // namespace

MailSent NMailSmtpSendMail(const MailToSend& mail, const mail::Credentials& login, const SpoolFileMaker& makeFile) {
    mail::OutgoingMessage message;
    message.from = mail.from;
    message.to = mail.to;
    message.subject = mail.subject;
    message.body = mail.body;
    message.attachmentPaths = mail.attachments;
    message.cc = mail.cc;
    message.bcc = mail.bcc;
    message.inReplyTo = mail.inReplyTo;
    message.references = mail.references;
    message.replyCharset = mail.replyCharset;
    const Result<QStringList> recipients = mail::EnvelopeRecipients(message);
    if (!recipients) return failedSend(recipients.error(), kNoConnection);
    MailSent sent;
    if (makeFile && mail::HasLargeAttachment(message.attachmentPaths)) {
        sent = sendFromFile(mail, login, makeFile, message, recipients.value());
    } else {
        const auto built = mail::BuildMessage(message);
        if (!built) return failedSend(built.error(), kNoConnection);
        const auto status =
            transport()->sendSmtp(mail.server, login, envelopeSender(mail.from), recipients.value(), built.value());
        if (!status) return failedSend(status);
        sent.message = built.value();
    }
    if (sent.ok()) sent.sentCopyHeader = mail::SentCopyHeader(message);
    return sent;
}

SpooledFile& SpooledFile::operator=(SpooledFile&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

void SpooledFile::remove() {
    if (!path_.isEmpty()) ::unlink(QFile::encodeName(path_).constData());
    path_.clear();
}

}  // namespace lumopet
