#include "app/main_form_layout.h"

namespace lumopet {
namespace {

QString blanks(int count) { return QString(count, u' '); }

}  // namespace

const std::array<HotSpotLook, 9>& HotSpotLooks() {
    // The leading blanks place each caption on its spot of the picture.
    static const std::array<HotSpotLook, 9> looks{{
        {HotSpot::Label9, "Label9", blanks(5) + QStringLiteral("新規作成"), {720, 1320, 1215, 315},
         QStringLiteral("メールの新規作成・送信を行います。")},
        {HotSpot::Label8, "Label8", blanks(8) + QStringLiteral("受信"), {480, 2040, 1215, 315},
         QStringLiteral("新着メールの受信を行います。")},
        {HotSpot::Label7, "Label7", blanks(3) + QStringLiteral("着信履歴"), {600, 3000, 1095, 315},
         QStringLiteral("着信（着信履歴）したメールを見ます。画面はマウスでストレッチが出来ます。")},
        {HotSpot::Label6, "Label6", blanks(5) + QStringLiteral("送信履歴"), {720, 3740, 1215, 315},
         QStringLiteral("送信（送信履歴）したメールを見ます。画面はマウスでストレッチが出来ます。")},
        {HotSpot::Label10, "Label10", blanks(3) + QStringLiteral("アドレス帳"), {6240, 1400, 1215, 315},
         QStringLiteral("アドレス帳への登録を行います。着信からの自動入力、送信時の一発入力が可能になります。")},
        {HotSpot::Label11, "Label11", blanks(26) + QStringLiteral("設定"), {6480, 1920, 1095, 435},
         QStringLiteral("ID,PASS,サーバーの設定。これを行わないと通信エラーになります。デスクトップ上を動くキャラの設定もここで！")},
        {HotSpot::Label5, "Label5", blanks(26) + QStringLiteral("HomePage"), {6240, 2920, 1215, 435},
         QStringLiteral("メーラー専門店、作者のホームページです。")},
        {HotSpot::Label4, "Label4", blanks(25) + QStringLiteral("Small"), {6240, 3680, 1095, 435},
         QStringLiteral("フォーム（画面）を最小化します。")},
        {HotSpot::Label1, "Label1", QStringLiteral("Lumopet Ver 2.13"), {3000, 3360, 2295, 255},
         QStringLiteral("新着時に可愛いキャラがデスクトップ上をコミカルに動きます。５個のキャラから選べます。送信者がキャラを選定することも・・・")},
    }};
    return looks;
}

}  // namespace lumopet
