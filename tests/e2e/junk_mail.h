#pragma once
// Spam and everyday mail, in English and in Japanese, for the tests that
// run a check with the junk filter on: the messages a word list is trained
// on and the ones a check then sorts are alike but never the same text, as
// with real mail.

#include "core/result.h"
#include "mail/junk_filter.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace lumopet::test {

enum class Kind { Spam, Ham };
enum class Language { English, Japanese };

// The body of message n of a kind: the words that make it spam or not,
// and a line of its own.
inline QString JunkTestBody(Kind kind, Language language, int n) {
    QString words;
    if (kind == Kind::Spam && language == Language::English)
        words = QStringLiteral("Cheap viagra pills and a casino jackpot! You are a lottery winner: "
                               "claim your free prize money now, click here.");
    else if (kind == Kind::Spam)
        words = QStringLiteral("激安ブランド品が当選しました。今すぐクリックして無料で受け取ってください。出会い 副業 高収入");
    else if (language == Language::English)
        words = QStringLiteral("Hi, here are the notes from our meeting about the project schedule. Lunch tomorrow?");
    else
        words = QStringLiteral("明日の会議の資料を送ります。よろしくお願いします。打ち合わせ 議事録");
    return words + QStringLiteral("\r\nref %1\r\n").arg(n);
}

// A whole message from sender; the subject goes as an encoded word, so
// that a Japanese one comes through any server.
inline QByteArray JunkTestMessage(Kind kind, Language language, int n, const QString& subject,
                                  const QString& sender = QString(), const QByteArray& extraHeader = {}) {
    const QString from = !sender.isEmpty() ? sender
                         : kind == Kind::Spam ? QStringLiteral("promo%1@bargains.example").arg(n)
                                              : QStringLiteral("colleague%1@office.example").arg(n);
    return "From: " + from.toUtf8() + "\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64() +
           "?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n" +
           extraHeader + "\r\n" + JunkTestBody(kind, language, n).toUtf8();
}

// Trains the word list of filter on `each` messages of each kind and
// language, written as files into folder first.
inline Status TrainJunkTestWordList(const junk::FilterProgram& filter, const QString& folder, int each = 3) {
    if (!QDir().mkpath(folder)) return Failure{QStringLiteral("cannot make ") + folder};
    for (const Kind kind : {Kind::Spam, Kind::Ham}) {
        QStringList files;
        for (const Language language : {Language::English, Language::Japanese}) {
            for (int n = 1; n <= each; ++n) {
                const QString name = QStringLiteral("%1/%2-%3-%4.eml")
                                         .arg(folder, kind == Kind::Spam ? QStringLiteral("spam") : QStringLiteral("ham"))
                                         .arg(language == Language::English ? QStringLiteral("en") : QStringLiteral("ja"))
                                         .arg(n);
                QFile file(name);
                if (!file.open(QIODevice::WriteOnly) ||
                    file.write(JunkTestMessage(kind, language, 1000 + n, QStringLiteral("training %1").arg(n))) < 0)
                    return Failure{QStringLiteral("cannot write ") + name};
                files << name;
            }
        }
        const Status trained =
            junk::TrainVerdict(filter, files, kind == Kind::Spam ? junk::Verdict::Junk : junk::Verdict::NotJunk);
        if (!trained) return trained;
    }
    return success();
}

}  // namespace lumopet::test
