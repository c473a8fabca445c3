#include "mail/send_mail.h"

#include "core/program.h"
#include "mail/certificate_trust.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/mood_tags.h"
#include "mail/outgoing_text.h"
#include "mail/send_stop.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/maildir.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include <unistd.h>

namespace lumopet {
namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kErrorTitle = QStringLiteral("エラー");

// An entry of the address book gets a message of its own: one address.
Status checkBookEntry(const QString& entry) {
    const auto parsed = mail::ParseAddressList(entry, QStringLiteral("宛先"));
    if (!parsed) return Failure{parsed.error()};
    if (parsed.value().size() != 1)
        return Failure{QStringLiteral("宛先「%1」はメールアドレス一つではありません。").arg(entry.trimmed())};
    return success();
}

// A second try of a bulk send: the addresses left unsent, each as often as
// it was left, but only while the book still holds it as a live entry (the
// user may have taken it out since).
std::optional<std::vector<QString>> retryRecipients(const std::vector<AddressRecord>& records,
                                                    const std::vector<QString>& unsent, SendHost& host) {
    std::multiset<QString> live;
    for (const AddressRecord& record : records)
        if (record.Live != 0) live.insert(BareEntryText(record.EntryAddress).trimmed());
    std::vector<QString> addresses;
    for (const QString& address : unsent) {
        const auto found = live.find(address);
        if (found == live.end()) continue;
        live.erase(found);
        if (const Status checked = checkBookEntry(address); !checked) {
            host.showMessage(checked.error(), QString());
            return std::nullopt;
        }
        addresses.push_back(address);
    }
    if (addresses.empty()) {
        host.showMessage(QStringLiteral("送信できなかった宛先は、もうアドレス帳にありません。"), QString());
        return std::nullopt;
    }
    return addresses;
}

// Who the messages go to, one address each, checked before anything is
// stored or sent. Nothing when the request is refused; the reason has been
// shown.
std::optional<std::vector<QString>> recipientsOf(const Program& program, const SendRequest& request, SendHost& host) {
    if (!request.Bulk) {
        Status checked = mail::CheckRecipient(request.ToText);
        if (const auto cc = mail::ParseAddressList(request.CcText, QStringLiteral("CC")); checked && !cc)
            checked = Failure{cc.error()};
        if (const auto bcc = mail::ParseAddressList(request.BccText, QStringLiteral("BCC")); checked && !bcc)
            checked = Failure{bcc.error()};
        if (!checked) {
            host.showMessage(checked.error(), QString());
            return std::nullopt;
        }
        return std::vector<QString>{request.ToText.trimmed()};
    }
    if (!request.CcText.trimmed().isEmpty() || !request.BccText.trimmed().isEmpty()) {
        host.showMessage(QStringLiteral("一括送信では CC と BCC は使えません。アドレス帳のすべての宛先へのメールに同じ CC と "
                                        "BCC が付いてしまいます。CC と BCC を空にしてから送信してください。"),
                         QString());
        return std::nullopt;
    }
    const auto records = ReadAddressRecords(AddressBookPath(program.paths));
    if (!records) {
        host.showMessage(records.error(), QString());
        return std::nullopt;
    }
    if (!request.BulkRetry.empty()) return retryRecipients(records.value(), request.BulkRetry, host);
    std::vector<QString> addresses;
    for (size_t i = 0; i < records.value().size(); ++i) {
        const AddressRecord& record = records.value()[i];
        // A record marked deleted is one the user took out of the book; only
        // an interrupted delete leaves it there.
        if (record.Live == 0) continue;
        const QString address = BareEntryText(record.EntryAddress);
        if (const Status checked = checkBookEntry(address); !checked) {
            host.showMessage(QStringLiteral("アドレス帳の %1 件目の宛先が正しくないため、一括送信できません。\n%2")
                                 .arg(i + 1)
                                 .arg(checked.error()),
                             QString());
            return std::nullopt;
        }
        addresses.push_back(address.trimmed());
    }
    if (addresses.empty()) {
        host.showMessage(QStringLiteral("アドレス帳に宛先が登録されていないため、一括送信できません。"), QString());
        return std::nullopt;
    }
    return addresses;
}

// POP before SMTP: a login to the POP3 server, and out again, lets this
// machine send through the SMTP server for a while. The login runs with
// trust as the mail check's does: a certificate nobody vouches for is
// shown and may be trusted, and the login then goes again at once. The
// empty text when the login worked, else why it did not.
QString logInToPop3(const ProgramValues& values, const mail::Credentials& login, const QString& trustFile,
                    const mail::TrustQuestion& question) {
    if (values.Pop3Server.trimmed().isEmpty()) return QStringLiteral("受信サーバー（POP3）が設定されていません。");
    if (!login.isSet()) return QStringLiteral("ID とパスワードが設定されていません。");
    QString error;
    mail::RunWithCertificateTrust(
        [&] {
            const int handle = NMailPop3Connect(values.Pop3Server, error);
            if (handle == kNoConnection) return kNoConnection;
            const int waiting = NMailPop3Authenticate(handle, login);
            error = waiting < 0 ? LastMailError(handle) : QString();
            NMailPop3Close(handle);
            return waiting < 0 ? waiting : 0;
        },
        trustFile, question);
    return error;
}

// The sent history's record of a message that did not go out after all
// (送信中止 broke it off): marked and compacted away, as the viewer's delete
// does, so that the history never lists it as sent.
Status takeBackRecord(const ProgramPaths& paths, int n) {
    const QString file = HistoryPath(paths, History::Sent);
    const auto stored = ReadRecord(file, n);
    if (!stored) return Failure{stored.error()};
    if (const Status marked = MarkDeleted(file, n, stored.value()); !marked) return marked;
    return Compact(file, RewriteCopyPath(paths, History::Sent));
}

}  // namespace

QString OutgoingBody(const QString& typedBody, int fortuneNumber, int mood) {
    QString body = typedBody;
    if (fortuneNumber >= 1 && fortuneNumber <= static_cast<int>(kFortuneTexts.size()))
        body += kCrLf + kCrLf + kFortuneHeading + kCrLf + kCrLf + kFortuneTexts[static_cast<size_t>(fortuneNumber - 1)];
    if (mood >= 1 && mood <= 5) body += kCrLf.repeated(4) + MoodTag(mood);
    return body;
}

int DrawFortuneNumber() {
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::mt19937_64 generator(static_cast<std::uint64_t>(now));
    // n = Int(r * 12 + 1) for r in [0, 1). generate_canonical may give
    // exactly 1 after rounding (LWG 2524), hence the clamp.
    const double r = std::generate_canonical<double, 53>(generator);
    return std::clamp(static_cast<int>(r * 12 + 1), 1, 12);
}

QString SendSummary(const SendResult& result) {
    if (result.Refused) return QString();
    if (result.Stopped)
        return QStringLiteral("送信を中止しました。%1 通を送信し、%2 通は送信していません。")
            .arg(result.sent())
            .arg(result.Total - result.sent());
    if (result.allSent()) return kSendDoneText;
    return QStringLiteral("%1通中%2通が送信できませんでした。").arg(result.Count).arg(result.Failed);
}

namespace {

// The message sent from a file, with header in front, as a new file in the
// Maildir's tmp/ (the sent file is left as it is); copied a megabyte at a
// time, so that memory does not grow with it.
Result<QString> copyWithHeader(const QString& sentMaildir, const QString& sentPath, QByteArray header) {
    const auto folders = MaildirFolders::Open(sentMaildir);
    if (!folders) return Failure{folders.error()};
    const auto made = folders.value().createInTmp();
    if (!made) return Failure{made.error()};
    SpooledFile copy(made.value().path);
    QFile out, in(sentPath);
    const bool opened = out.open(made.value().fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
                        in.open(QIODevice::ReadOnly);
    if (!opened) {
        if (!out.isOpen()) ::close(made.value().fd);
        return Failure{QStringLiteral("送信したメールの控えを作れません。")};
    }
    header.replace("\r\n", "\n");
    bool written = out.write(header) == header.size();
    while (written && !in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        written = !block.isEmpty() && out.write(block) == block.size();
    }
    written = written && in.error() == QFileDevice::NoError && out.flush();
    out.close();
    if (!written) return Failure{QStringLiteral("送信したメールの控えを書き込めません。")};
    // Once moved into new/, nothing is left in tmp/ for copy to remove.
    return DeliverTmpFileToMaildir(sentMaildir, copy.path());
}

// The copy of the message just sent, in the sent Maildir, with the "Bcc:"
// field that never went out in front: moved there when it was sent from a
// file, else written from memory.
Result<QString> keepSentCopy(const QString& sentMaildir, const MailSent& sent) {
    if (!sent.file.path().isEmpty()) {
        if (!sent.sentCopyHeader.isEmpty()) return copyWithHeader(sentMaildir, sent.file.path(), sent.sentCopyHeader);
        return DeliverTmpFileToMaildir(sentMaildir, sent.file.path());
    }
    return DeliverToMaildir(sentMaildir, sent.sentCopyHeader + sent.message);
}

}  // namespace

SendResult SendMail(Program& program, const SendRequest& request, SendHost& host, const mail::Credentials& smtpLogin,
                    const mail::Credentials& pop3Login) {
    // A stop asked for in an earlier send is no stop of this one.
    mail::ClearSendStop();
    SendResult result;
    host.setStatus(kSendingText);
    ProgramValues& values = program.values;

    if (values.SmtpServer.trimmed().isEmpty()) {
        host.showMessage(kNoSmtpServerText, QString());
        result.Refused = true;
        return result;
    }
    // Without it the message goes out "From:" nobody, "MAIL FROM:<>", and
    // cannot be answered.
    if (values.MailAddress.trimmed().isEmpty()) {
        host.showMessage(kNoOwnAddressText, QString());
        result.Refused = true;
        return result;
    }
    const std::optional<std::vector<QString>> recipients = recipientsOf(program, request, host);
    if (!recipients) {
        result.Refused = true;
        return result;
    }
    // Every message would fail the same way: say it once, store nothing.
    if (const Status readable = mail::CheckAttachments(request.Attachments); !readable) {
        host.showMessage(readable.error() + QStringLiteral("\nメールは送信していません。"), QString());
        result.Refused = true;
        return result;
    }


    const QString historyFile = HistoryPath(program.paths, History::Sent);
    const int count = static_cast<int>(recipients->size());
    result.Total = count;
    bool historyFailureShown = false;
    const QString sentMaildir = SentMaildirPath(program.paths);
    // A message with a large attachment is built in the sent Maildir's
    // tmp/, and kept from there once it is out.
    const SpoolFileMaker makeFile = [sentMaildir]() -> Result<SpoolFile> {
        const auto folders = MaildirFolders::Open(sentMaildir);
        if (!folders) return Failure{folders.error()};
        return folders.value().createInTmp();
    };
    bool maildirFailureShown = false;
    bool triedPop3 = false;
    // A server certificate nobody vouches for is shown once: trusted, the
    // message goes again at once and the rest follow; declined, the rest of
    // a bulk send is not asked again.
    const QString trustFile = mail::TrustedCertificatesPath(program.paths);
    bool certificateDeclined = false;
    const mail::TrustQuestion question{
        [&host, &certificateDeclined](const CertificateDetails& details) {
            if (!certificateDeclined) certificateDeclined = !host.askToTrustCertificate(details);
            return !certificateDeclined;
        },
        [&host](const QString& error) { host.showMessage(error, kErrorTitle); }};
    // The options change what goes out, never what the history keeps.
    const QString subject = request.WidenKana ? mail::WidenHalfWidthKana(request.SubjectText) : request.SubjectText;
    QString typedBody = request.WidenKana ? mail::WidenHalfWidthKana(request.BodyText) : request.BodyText;
    if (request.WrapLines) typedBody = mail::WrapLongLines(typedBody);
    // Used only when the server offers AUTH. Half an account is none
    // (Credentials::isSet): the server would only refuse the login and keep
    // the mail.
    const auto sendTrusting = [&](const QString& to, const QString& body) {
        const MailToSend mail{values.SmtpServer, to, values.MailAddress, subject, body, request.Attachments,
                              request.Bulk ? QString() : request.CcText, request.Bulk ? QString() : request.BccText,
                              request.InReplyTo, request.References, request.ReplyCharset};
        MailSent sent;
        mail::RunWithCertificateTrust(
            [&] {
                sent = NMailSmtpSendMail(mail, smtpLogin, makeFile);
                return sent.code;
            },
            trustFile, question);
        return sent;
    };
    for (int i = 0; i < count; ++i) {
        const QString& to = (*recipients)[static_cast<size_t>(i)];
        // 送信中止: the messages not yet begun stay unsent, and unrecorded.
        if (mail::SendStopRequested()) {
            result.Stopped = true;
            result.Unsent.insert(result.Unsent.end(), recipients->begin() + i, recipients->end());
            break;
        }
        host.showProgress(i + 1, count);
        ++result.Count;

        // The record goes in first, as typed, whether or not the message
        // then goes out: a message the server may have taken is never
        // missing from the history, even when the program dies in the
        // middle of the transfer. Only a message known not to have gone
        // out (broken off by 送信中止) loses its record again below.
        int recordNumber = 0;
        if (request.KeepInSentHistory) {
            const HistoryRecord record{request.SubjectText, host.clockText(), request.ToText.trimmed(), request.BodyText};
            const auto stored = AppendRecord(historyFile, record, History::Sent);
            if (stored) recordNumber = stored.value();
            if (!stored && !historyFailureShown) {
                historyFailureShown = true;
                host.showMessage(QStringLiteral("送信履歴に記録できません。メールの送信は続けます。\n") + stored.error(),
                                 kErrorTitle);
            }
        }

        // From the typed body every time: the body box may hold the last
        // message's fortune and tag by now.
        const QString body = OutgoingBody(typedBody, request.Fortune ? DrawFortuneNumber() : 0, request.Mood);
        host.setBodyText(body);

        MailSent outcome = sendTrusting(to, body);
        QString error = outcome.error;
        if (outcome.code == kRelayRefused && !triedPop3 && !mail::SendStopRequested()) {
            triedPop3 = true;
            const QString pop3Error = logInToPop3(values, pop3Login, trustFile, question);
            if (pop3Error.isEmpty()) {
                outcome = sendTrusting(to, body);
                error = outcome.error;
            } else {
                error += QStringLiteral("\n（POP before SMTP のための POP3 サーバーへのログインもできませんでした：%1）").arg(pop3Error);
            }
        }
        const int sent = outcome.code;
        if (sent == kLoginRefused && smtpLogin.method == mail::Credentials::Method::Bearer) result.LoginRefused = true;
        // Broken off by the stop, or refused as a relay where the stop kept
        // the POP3 login from being tried: either way it did not go out
        // because of the stop, and nothing more is tried.
        if (sent == kSendStopped || (sent == kRelayRefused && mail::SendStopRequested())) {
            ++result.Failed;
            result.Stopped = true;
            result.Unsent.insert(result.Unsent.end(), recipients->begin() + i, recipients->end());
            if (recordNumber > 0) {
                if (const Status taken = takeBackRecord(program.paths, recordNumber); !taken)
                    host.showMessage(QStringLiteral("送信を中止したメールの記録を送信履歴から消せませんでした。"
                                                    "送信履歴の最後の 1 件は送信されていません。\n") +
                                         taken.error(),
                                     kErrorTitle);
            }
            break;
        }
        if (sent < 0) {
            ++result.Failed;
            result.Unsent.push_back(to);
            host.showMessage(error, kSendErrorTitle);
            // A refused token refuses every message alike: the rest wait,
            // unsent and unrecorded, for a second 送信 with a new token.
            if (result.LoginRefused) {
                result.Unsent.insert(result.Unsent.end(), recipients->begin() + i + 1, recipients->end());
                break;
            }
        } else if (const auto kept = keepSentCopy(sentMaildir, outcome); !kept && !maildirFailureShown) {
            // The message is out; a copy that cannot be kept is worth a
            // word, once, but never a failed send.
            maildirFailureShown = true;
            host.showMessage(QStringLiteral("送信したメールを保存できません。メールの送信は続けます。\n") + kept.error(),
                             kErrorTitle);
        }
    }
    host.setStatus(result.Stopped ? SendSummary(result) : kSendDoneText);
    return result;
}

}  // namespace lumopet
