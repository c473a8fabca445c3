#pragma once
// Sending what the compose or the reply window holds: one message, or one
// to every entry of the address book. Each message is first appended to the
// sent history as typed (a reply is not kept there); then the fortune and
// the character tag are added and the message goes out over SMTP. Every
// message the server accepts is kept whole, as it went out, in the sent
// Maildir (replies too). A failed message is reported and the next one goes
// on.
//
// The send runs off the window thread; whatever it shows goes through the
// host, which the windows implement.

#include "core/certificate_details.h"
#include "mail/mail_transport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace lumopet {

struct Program;

// What the compose or the reply window holds when Send is clicked, read
// once.
struct SendRequest {
    QString ToText;       // the recipient box, as typed (may hold line breaks)
    // The CC and BCC boxes, as typed: several addresses each, separated by
    // ",", "、" or ";". Empty for none.
    QString CcText;
    QString BccText;
    QString SubjectText;
    QString BodyText;     // as typed
    // The attached files, one path each: a name may hold a ",".
    QStringList Attachments;
    bool Fortune = false; // Check1
    int Mood = 0;         // Option3..Option7: 1..5; Option8: 0
    bool Bulk = false;    // Option2: to every entry of the address book
    // A second try of a bulk send that left messages unsent: these
    // addresses (SendResult::Unsent of the first), each only while it is
    // still a live entry of the address book, instead of the whole book.
    std::vector<QString> BulkRetry;
    // A reply is sent without a record in the sent history: that history
    // is what the user wrote anew, the reply window keeps no copy.
    bool KeepInSentHistory = true;
    // A reply: the answered message's Message-ID and References (its
    // Maildir copy's), and its charset, which the reply takes when its text
    // fits. Empty for a new message.
    QString InReplyTo;
    QString References;
    QByteArray ReplyCharset;
    // On sending only (the sent history keeps what was typed): half-width
    // kana in the subject and body made full-width, and the body's lines
    // over 72 columns wrapped (mail/outgoing_text.h).
    bool WidenKana = false;
    bool WrapLines = false;
};

class SendHost {
public:
    virtual ~SendHost() = default;
    // Label7 of the compose window.
    virtual void setStatus(const QString& text) = 0;
    // Message number of count is going out.
    virtual void showProgress(int number, int count) = 0;
    // The main window's clock text, which the sent history takes as the date.
    virtual QString clockText() = 0;
    // The body as the message that goes out now has it (fortune and tag).
    virtual void setBodyText(const QString& body) = 0;
    // A message box with an OK button ("送信エラー" for a failed message);
    // returns when it is answered.
    virtual void showMessage(const QString& text, const QString& title) = 0;
    // The server's certificate could not be verified: asks whether to trust
    // it and returns true when the user does; returns when it is answered.
    // A host that cannot ask trusts nothing new.
    virtual bool askToTrustCertificate(const CertificateDetails&) { return false; }
};

struct SendResult {
    int Total = 0;   // messages the request was for
    int Count = 0;   // messages attempted
    int Failed = 0;  // of them, not sent (refused, or broken off by 送信中止)
    // The request was refused before anything was sent or stored (no own
    // address, an address of 宛先, CC or BCC that is not one, CC or BCC in
    // bulk mode, an empty address book in bulk mode); the reason has been
    // shown.
    bool Refused = false;
    // 送信中止 left messages unsent: the one in flight was broken off, or
    // the later ones were never tried.
    bool Stopped = false;
    // The recipients whose message did not go out, in send order: those
    // refused, the one broken off and those never tried.
    std::vector<QString> Unsent;
    // A message was refused because the server refused the login by access
    // token: the caller may refresh the token and send the unsent ones
    // once more.
    bool LoginRefused = false;
    int sent() const { return Count - Failed; }
    bool allSent() const { return !Refused && !Stopped && Failed == 0 && Count > 0; }
};

inline const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
inline const QString kSendDoneText = QStringLiteral("送信完了です。");
inline const QString kSendErrorTitle = QStringLiteral("送信エラー");
inline const QString kNoSmtpServerText =
    QStringLiteral("送信サーバー（SMTP）が設定されていません。サーバーの設定で入力してください。");
inline const QString kNoOwnAddressText =
    QStringLiteral("自分のメールアドレスが設定されていません。サーバーの設定で入力してください。");

// How a send that did not send everything ended, for the status line:
// after 送信中止 how many went out and how many did not, else how many of
// how many failed. Empty for a refused request (its reason has been shown).
QString SendSummary(const SendResult& result);

// The fortune ("占い") a sender may attach: this heading, then one of the
// twelve texts, drawn at random. The blanks inside are ideographic spaces.
inline const QString kFortuneHeading = QStringLiteral(
    "★★★　この占いは Velnor（ミロネット）がアトランダムにチョイスしたものです（だからこそ占い♪）　"
    "送信者にも内容は判りませんので、あしからず・・・当たるも八卦、当たらぬも八卦。★★★");
inline const std::array<QString, 12> kFortuneTexts{
    QStringLiteral("大吉：万事に良し！　慎重さを忘れず、尚かつアクティブに行動すれば、これまで停滞していた問題が次々と解決されて行きます。"),
    QStringLiteral("大吉：思わぬ金運！！　浪費せず生きたお金の使い方を心がければ、これからも金運が上昇！"),
    QStringLiteral("大吉：人間関係に好転あり。誤解から生じていた軋轢（あつれき）も解消し、お互いが良く見えるようになって行きます。"),
    QStringLiteral("中吉：正しく可もなく不可もなし。凶事のなきことを素直に喜ぶべし。そうすれば尚運が開けます。"),
    QStringLiteral("中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば、明日は更に運気アップ！"),
    QStringLiteral("中吉：万事スムーズ。しかし油断をすればたちまちにして運気下降。恐れぬことも大事ではあるが、謙虚さを忘れずに判断・行動をすべし。"),
    QStringLiteral("中吉：両親からの教えを胸に刻んで行動すれば、意外なほどの好調に思わずニンマリ！　"),
    QStringLiteral("中吉：ショッピングでのストレス発散が好転の契機となる。それでも浪費に注意。本当に必要な物に限定すべし。"),
    QStringLiteral("吉：あなたの人柄で救われる局面有り。友人を大切にすれば、思わぬ人と再会するでしょう。"),
    QStringLiteral("吉：紛失していたにもかかわらず気づいてなかった品物が、突然手元に戻ってきます。忘れていたけど、案外大切なもの・・・物とは限りません。"),
    QStringLiteral("凶：鬼門「北東」注意！　部屋の北東に一掴みの盛り塩をし、お世話になった人たちに感謝の意を心に強く念じれば、吉に転じます。"),
    QStringLiteral("凶：言動慎むべし。最大の配慮がなければ、運気、万事下降するおそれ有り。"),
};

// The body that goes out: the typed body, then (when asked) two CR LF, the
// fortune heading, two CR LF and fortune number fortuneNumber (1..12; 0 for
// no fortune), then (for mood 1..5; 0 for none) four CR LF and the tag of
// the mood. Always built from the typed body, so that no message of a bulk
// send carries the fortune or tag of the one before.
QString OutgoingBody(const QString& typedBody, int fortuneNumber, int mood);

// 1..12, drawn from a generator seeded from the clock.
int DrawFortuneNumber();

// The whole send. Logs in to SMTP with smtpLogin when the server offers
// AUTH; when it offers none and refuses to relay, logs in to the POP3
// server once with pop3Login (POP before SMTP) and tries that message
// again. Both are built by the caller on the window thread
// (PasswordCredentials in account_values.h).
//
// Not in bulk mode, one message goes to every address of 宛先, CC and BCC
// (BCC never in its header, only in the sent copy's). Before anything is
// stored or sent, the request is refused, with a message saying why, when
// no SMTP server or no own address is set (a message from nobody cannot be
// answered), when an address of 宛先, CC or BCC is not one (named, with its
// box), when bulk mode is asked with CC or BCC (every entry would get them),
// finds an entry of the address book that is not one address, or finds no
// entry, or when an attachment cannot be read. Entries of the address book
// marked deleted get no mail.
//
// 送信中止 (mail::RequestSendStop) is looked at before each message: the
// later ones are not tried. A message whose transfer it broke off did not go
// out; its record, stored before it was sent, is taken out of the sent
// history again.
SendResult SendMail(Program& program, const SendRequest& request, SendHost& host, const mail::Credentials& smtpLogin,
                    const mail::Credentials& pop3Login);

}  // namespace lumopet
