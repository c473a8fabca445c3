#include "compose/write_form_rules.h"

namespace lumopet {

const QStringList& OpeningPhrases() {
    static const QStringList phrases{
        QStringLiteral("御社益々ご清祥の事とお慶び申し上げます。"),
        QStringLiteral("平素のご愛顧誠にありがとうございます。"),
        QStringLiteral("平素は格別のご愛顧を賜り深謝申し上げます。"),
        QStringLiteral("いつもお世話になっております。"),
        QStringLiteral("メールありがとうございました。確かに受け取りました。"),
        QStringLiteral("はじめまして、突然のメールで恐縮です。"),
        QStringLiteral("こんにちわ。はじめてメールいたします。"),
        QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"),
    };
    return phrases;
}

QString CharacterStatusText(int mood) {
    static const std::array<QString, 5> circled{QStringLiteral("①"), QStringLiteral("②"), QStringLiteral("③"),
                                                QStringLiteral("④"), QStringLiteral("⑤")};
    if (mood < 1 || mood > 5) return QStringLiteral("キャラは送らないが選択されました");
    return QStringLiteral("キャラ送信、%1が選択されました").arg(circled[static_cast<size_t>(mood - 1)]);
}

QString HelpText(HelpTopic topic) {
    switch (topic) {
    case HelpTopic::AttachCommand: return QStringLiteral("各種ファイルを添付して送信できます。");
    case HelpTopic::Command9:
        return QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。");
    case HelpTopic::Command7: return QStringLiteral("コピーして来た内容を宛先に貼付ます。");
    case HelpTopic::Command5: return QStringLiteral("本ソフト、他のアプリからのテキスト文書を本文中に貼付けます。");
    case HelpTopic::Command4:
        return QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。"
                              "送信したい名称をクリックすると、メールアドレスが自動的に入力されます。");
    case HelpTopic::Command6: return QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。");
    case HelpTopic::Command11: return QStringLiteral("宛先、件名、本文他、設定等が初期状態に戻せます。");
    case HelpTopic::Command1:
        return QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。");
    case HelpTopic::Command3: return QStringLiteral("送信を中止します。");
    case HelpTopic::Frame1:
        return QStringLiteral(
                   "相手があなたのメールを受信した時に表示させるキャラを選定します。キャラはあなたの気分を表します。"
                   "５が最高、１が最低（ブルー）です。受信する相手もルモペットを使用している必要があります"
                   "（相手からキャラを送信してもらう必要がなければ、相手はルモペットでなくてもOKです。"
                   "新着メール受信時にキャラがデスクトップに出現します）。設定して送信すると、相手が受信した際、"
                   "あなたが設定したキャラがPCのデスクトップ上で動きます。") +
               QStringLiteral("\n仲の良い人とのシグナルに使用してみては？");
    }
    return QString();
}

SendOptions ApplyOptionRules(SendOptions options) {
    if (options.bulk) {
        options.fortune = false;
        options.mood = 0;
    }
    if (options.mood != 0) {
        options.fortune = false;
        options.bulk = false;
    }
    if (options.fortune) {
        options.mood = 0;
        options.bulk = false;
    }
    return options;
}

QString BodyAfterOpeningLine(const QString& body, const QString& lineText, const QString& lastLine,
                             bool changedWhileFocused) {
    if (!changedWhileFocused || lineText.isEmpty()) return body;
    const QString held = body.trimmed();
    if (held.isEmpty() || held == lastLine || OpeningPhrases().contains(held)) return lineText;
    if (body.startsWith(lineText + u'\n')) return body;
    return lineText + u'\n' + body;
}

}  // namespace lumopet
