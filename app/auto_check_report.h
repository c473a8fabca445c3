#pragma once
// What an automatic check has to say, without a box: the failures it met
// are collected by the check's host and said once in the status line, the
// tray's tooltip and a notification. Said every N minutes they would be
// noise, so the same failure is not said again until a check succeeds or
// the user clicks 受信 (which asks with boxes, as always).

#include <QString>
#include <QStringList>

#include <optional>

namespace lumopet {

// The status line's words for a failure; the whole text is its tooltip.
inline const QString kAutoCheckFailedText = QStringLiteral("自動のメールチェックに失敗しました。");
// What a quiet check says in place of the account window.
inline const QString kAutoCheckNoAccountText =
    QStringLiteral("ID またはパスワードが設定されていないため、メールをチェックできません。"
                   "「受信」をクリックすると、アカウントの設定画面が開きます。");
// In place of the question whether to trust a certificate; the reason and
// the server follow it.
inline const QString kAutoCheckCertificateText =
    QStringLiteral("サーバーの証明書を信頼するかどうか、確認が必要です。"
                   "「受信」をクリックすると、証明書を表示して確認します。");
// The title of the notification of a failure.
inline const QString kAutoCheckFailedTitle = QStringLiteral("メールのチェックに失敗しました");

class AutoCheckReport {
public:
    // The end of an automatic check with what it collected (nothing: it
    // succeeded). True when the failure is news and is to be said.
    bool shouldSay(const QStringList& collected);
    // The user clicked 受信: whatever fails next is said again.
    void manualCheck() { said_.reset(); }

private:
    std::optional<QString> said_;
};

// Two failures are the same when their first lines are: the first line is
// the program's own sentence of what went wrong, while the lines after it
// quote the server, whose words may carry a session number or a time.
QString FailureKey(const QStringList& collected);

}  // namespace lumopet
