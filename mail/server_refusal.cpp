#include "mail/server_refusal.h"

#include <QRegularExpression>

namespace lumopet::mail {
namespace {

// RFC 5321 4.2: three digits; RFC 3463 (RFC 2034 puts it right after the
// code): class.subject.detail, the class repeating the first digit.
struct ReplyCode {
    int code = 0;
    int subject = -1;  // -1: no enhanced status code
    int detail = -1;

    bool temporary() const { return code / 100 == 4; }
    bool is(int s, int d) const { return subject == s && detail == d; }
};

ReplyCode parse(const QString& reply) {
    static const QRegularExpression pattern(QStringLiteral("^([2-5][0-9][0-9])(?:[ -]+([2-5])\\.([0-9]{1,3})\\.([0-9]{1,3})(?![0-9.]))?"));
    ReplyCode parsed;
    const auto match = pattern.match(reply.trimmed());
    if (!match.hasMatch()) return parsed;
    parsed.code = match.captured(1).toInt();
    if (match.hasCaptured(2)) {
        parsed.subject = match.captured(3).toInt();
        parsed.detail = match.captured(4).toInt();
    }
    return parsed;
}

QString withReply(const QString& sentence, const QString& reply) {
    return sentence + QStringLiteral("\nサーバーの応答：") + reply.trimmed();
}

const QString kCheckIdPass = QStringLiteral("「設定」の「ID/PASS」で ID とパスワードを確かめてください。");
const QString kTryLater = QStringLiteral("しばらくしてから送り直してください。");

// Size: RFC 3463 x.3.4 "message too big for system", x.2.3 "message length
// exceeds administrative limit"; 552 without an enhanced code (RFC 5321
// 4.5.3.1.10, "exceeded storage allocation").
bool tooLarge(const ReplyCode& code) {
    return code.is(3, 4) || code.is(2, 3) || (code.subject < 0 && code.code == 552);
}

QString tooLargeText() {
    return QStringLiteral("メールが SMTP サーバーの受け付ける大きさを超えているので、添付ファイルを減らすか小さくしてから送り直してください。");
}

QString mailboxFullText(const QString& recipient) {
    return QStringLiteral("宛先 <%1> のメールボックスがいっぱいで受け取れないので、しばらくしてから送り直すか、別の方法で相手に知らせてください。")
        .arg(recipient);
}

// x.7.x (security or policy), or a server that just says "relay".
bool relayOrPolicy(const ReplyCode& code, const QString& reply) {
    return code.subject == 7 || reply.contains(QStringLiteral("relay"), Qt::CaseInsensitive);
}

QString sentenceFor(const SmtpRefusal& r, const ReplyCode& code) {
    // 421: the server is closing the connection (RFC 5321 3.8), whatever we
    // had asked.
    if (code.code == 421)
        return QStringLiteral("SMTP サーバーが今は受け付けられないと接続を切ったので、") + kTryLater;
    // 530 (RFC 4954 6): nothing more without a login.
    if (code.code == 530 && r.step != SmtpStep::Login && r.step != SmtpStep::StartTls) {
        if (r.loginWithheld)
            return QStringLiteral("SMTP サーバーがログインを求めていますが、暗号化（TLS）なしでしかログインできないサーバーなので、ID "
                                  "とパスワードは送っていません。サーバー名を「smtps://」で始めるか、サーバーの管理者に確かめてください。");
        return QStringLiteral("SMTP サーバーがログインを求めているので、「設定」の「ID/PASS」で ID とパスワードを入れてください。");
    }
    // Postfix checks the client, the EHLO name and the sender when the
    // recipient comes (smtpd_delay_reject) and says which it refused.
    SmtpStep step = r.step;
    if (r.reply.contains(QStringLiteral("Helo command rejected"), Qt::CaseInsensitive)) step = SmtpStep::Hello;
    else if (r.reply.contains(QStringLiteral("Sender address rejected"), Qt::CaseInsensitive)) step = SmtpStep::Sender;
    else if (r.reply.contains(QStringLiteral("Client host rejected"), Qt::CaseInsensitive)) step = SmtpStep::Greeting;
    switch (step) {
    case SmtpStep::Greeting:
        if (code.temporary()) return QStringLiteral("SMTP サーバーが今は接続を受け付けないので、") + kTryLater;
        return QStringLiteral("SMTP サーバーがこのコンピューターからの接続を断ったので、サーバー名とポート番号を確かめるか、サーバーの管理者に問い合わせてください。");
    case SmtpStep::Hello:
        return QStringLiteral("SMTP サーバーがこのコンピューターの名乗り（EHLO）を受け付けなかったので、サーバーの管理者に確かめてください。");
    case SmtpStep::StartTls:
        return QStringLiteral("SMTP サーバーが暗号化（STARTTLS）を始めなかったので、") + kTryLater;
    case SmtpStep::Login:
        if (code.temporary()) return QStringLiteral("SMTP サーバーに今はログインできないので、") + kTryLater;
        return QStringLiteral("SMTP サーバーがログインを拒否したので、") + kCheckIdPass;
    case SmtpStep::Sender:
        if (tooLarge(code)) return tooLargeText();
        if (code.temporary())
            return QStringLiteral("SMTP サーバーが差出人のアドレス <%1> を今は受け付けないので、").arg(r.sender) + kTryLater;
        return QStringLiteral("SMTP サーバーが差出人のアドレス <%1> を受け付けなかったので、「設定」の「POPサーバー」で自分のメールアドレスを確かめてください。")
            .arg(r.sender);
    case SmtpStep::Recipient:
        if (code.is(2, 2)) return mailboxFullText(r.recipient);
        if (tooLarge(code)) return tooLargeText();
        if (relayOrPolicy(code, r.reply))
            return QStringLiteral("SMTP サーバーが宛先 <%1> へのメールの中継を断ったので、").arg(r.recipient) + kCheckIdPass;
        if (code.temporary())
            return QStringLiteral("SMTP サーバーが宛先 <%1> を今は受け付けないので、").arg(r.recipient) + kTryLater;
        return QStringLiteral("SMTP サーバーが宛先 <%1> を受け付けなかったので、宛先のアドレスを確かめてください。").arg(r.recipient);
    case SmtpStep::Message:
        if (tooLarge(code)) return tooLargeText();
        if (code.is(2, 2)) return mailboxFullText(r.recipient);
        if (code.temporary()) return QStringLiteral("SMTP サーバーがこのメールを今は受け付けないので、") + kTryLater;
        if (code.subject == 6)
            return QStringLiteral("SMTP サーバーがこのメールの形式を受け付けなかったので、本文と添付ファイルを見直してください。");
        return QStringLiteral("SMTP サーバーがこのメールを受け付けなかったので、本文と添付ファイルを見直すか、サーバーの管理者に確かめてください。");
    }
    return QStringLiteral("SMTP サーバーがメールを受け付けませんでした。");
}

}  // namespace

QString DescribeSmtpRefusal(const SmtpRefusal& refusal) {
    return withReply(sentenceFor(refusal, parse(refusal.reply)), refusal.reply);
}

QString DescribePop3LoginRefusal(const QString& reply) {
    // RFC 3206 and 2449 8.1.1: response codes that say the refusal will
    // pass by itself.
    static const QRegularExpression passing(QStringLiteral("^-ERR \\[(IN-USE|LOGIN-DELAY|SYS/TEMP)\\]"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (passing.match(reply.trimmed()).hasMatch())
        return withReply(QStringLiteral("POP3 サーバーが今はログインを受け付けないので、しばらくしてから受信し直してください。"), reply);
    return withReply(QStringLiteral("POP3 サーバーがログインを拒否したので、") + kCheckIdPass, reply);
}

QString StartTlsMissingText(const QString& hostAndPort, const QString& reply) {
    const QString sentence =
        QStringLiteral("SMTP サーバー %1 が暗号化（STARTTLS）に応じないので、メールは送っていません。「smtp://」で始まるサーバー名では"
                       "暗号化が欠かせないので、サーバー名とポート番号を確かめてください。")
            .arg(hostAndPort);
    return reply.isEmpty() ? sentence : withReply(sentence, reply);
}

QString SendStoppedText() { return QStringLiteral("送信を中止しました。このメールは送られていません。"); }

}  // namespace lumopet::mail
