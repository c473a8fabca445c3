#include "core/system_error_text.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace lumopet {
namespace {

// The reasons people meet when a file cannot be written or read. EPERM
// comes from a file the user may not change (an immutable file, a folder
// of another user with the sticky bit), so it is said like EACCES; ELOOP
// is what opening without following links gives for a link. The last few
// come from connecting to a mail server.
const std::array<std::pair<int, const char16_t*>, 21> kReasons{{
    {ENOSPC, u"ディスクの空き容量が足りません"},
    {EDQUOT, u"ディスク使用量の上限（クォータ）を超えました"},
    {EACCES, u"アクセスする権限がありません"},
    {EPERM, u"この操作は許可されていません"},
    {EROFS, u"読み取り専用のファイルシステムです"},
    {EISDIR, u"ファイルではなくフォルダです"},
    {ENOTDIR, u"途中のフォルダがフォルダではありません"},
    {ENOENT, u"ファイルまたはフォルダが見つかりません"},
    {EEXIST, u"同じ名前のファイルがすでにあります"},
    {ELOOP, u"シンボリックリンクのため開きません"},
    {EMLINK, u"リンクが多すぎます"},
    {ENAMETOOLONG, u"ファイル名が長すぎます"},
    {EFBIG, u"ファイルが大きすぎます"},
    {EIO, u"ディスクの読み書きに失敗しました（入出力エラー）"},
    {EMFILE, u"開いているファイルが多すぎます"},
    {ENFILE, u"システム全体で開いているファイルが多すぎます"},
    {ETXTBSY, u"ファイルが使用中です"},
    {ECONNREFUSED, u"接続を拒否されました"},
    {ETIMEDOUT, u"時間切れです"},
    {ENETUNREACH, u"ネットワークに届きません"},
    {EHOSTUNREACH, u"ホストに届きません"},
}};

QString libraryText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

QString SystemErrorText(int error) {
    for (const auto& [number, text] : kReasons)
        if (number == error) return QString::fromUtf16(text);
    return libraryText(error);
}

QString SystemErrorText(const QString& systemText) {
    for (const auto& [number, text] : kReasons)
        if (libraryText(number) == systemText) return QString::fromUtf16(text);
    return systemText;
}

}  // namespace lumopet
