#include "settings/receive_options_help.h"

namespace lumopet {

QString ReceiveOptionsHelpText(ReceiveOptionsTopic topic) {
    switch (topic) {
    case ReceiveOptionsTopic::None:
        return QStringLiteral("項目の上にマウスを置くと、ここに説明が表示されます。"
                              "初期設定ではどの項目もオフで、これまでどおり「受信」をクリックしたときだけ受信します。");
    case ReceiveOptionsTopic::AutoCheck:
        return QStringLiteral("指定した間隔（1～1440分）で自動的にメールを受信します。"
                              "スリープからの復帰後やネットワークの再接続後にも受信します。"
                              "初期設定はオフ（自動受信しない）です。");
    case ReceiveOptionsTopic::LeaveOnServer:
        return QStringLiteral("受信したメールをサーバーから削除せずに残します。"
                              "携帯電話など他の機器でも同じメールを受信したいときに使います。"
                              "同じメールを二度受信することはありません。"
                              "初期設定はオフ（受信したメールはサーバーから削除）です。");
    case ReceiveOptionsTopic::DeleteAfterDays:
        return QStringLiteral("サーバーに残したメールを、受信してから指定した日数（1～3650日）が過ぎたら"
                              "サーバーから削除します。初期設定はオフ（削除しない）です。"
                              "「サーバーにメールを残す」がオンのときに設定できます。");
    case ReceiveOptionsTopic::DeleteWithHistory:
        return QStringLiteral("着信履歴で削除したメール（１件削除・全件削除）を、次の受信のときにサーバーからも削除します。"
                              "初期設定はオフです。「サーバーにメールを残す」がオンのときに設定できます。");
    case ReceiveOptionsTopic::Tray:
        return QStringLiteral("タスクトレイ（通知領域）にアイコンを表示します。新着メールがあるとアイコンが変わり、"
                              "メニューから受信や新規作成ができます。表示中はメイン画面を閉じても終了しません。"
                              "初期設定はオフです。");
    case ReceiveOptionsTopic::Notify:
        return QStringLiteral("新着メールを受信したとき、差出人と件名をデスクトップに通知します。"
                              "通知をクリックすると着信履歴が開きます。初期設定はオフです。");
    case ReceiveOptionsTopic::JunkFilter:
        return QStringLiteral("迷惑メールを着信履歴に入れず、「迷惑メール」の履歴に振り分けます。"
                              "判定には bogofilter（学習する迷惑メールフィルター）と、プロバイダーが付けた X-Spam-Flag を使います。"
                              "アドレス帳にある差出人のメールは迷惑メールにしません。"
                              "迷惑メールではキャラクターも通知も出ません。初期設定はオフです。");
    case ReceiveOptionsTopic::Save:
        return QStringLiteral("設定を保存して閉じます。自動受信とタスクトレイは、すぐに新しい設定に切り替わります。");
    case ReceiveOptionsTopic::Cancel: return QStringLiteral("設定を変更せずに閉じます。");
    }
    return QString();
}

}  // namespace lumopet
