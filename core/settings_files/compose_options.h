#pragma once
// "★MailData\lumopet.ini", section [Compose]: how mail is written and sent,
// beside the receive and viewer options in the same file. Every option is
// off by default, so a user who turns nothing on sends as before.
//
//   ConfirmRecipients   0 or 1: 送信前に宛先を確認する
//   QuoteOnReply        0 or 1: 返信時に元のメールを引用する
//   KeepReplies         0 or 1: 返信を送信履歴に残す
//   WidenKana           0 or 1: half-width kana go as full-width
//   WrapLines           0 or 1: lines longer than 72 columns are wrapped
//   Signature1..3       the three signatures, CP932 on one line each: a line
//                       break is written "\n", a backslash "\\", and a
//                       character CP932 cannot hold "\uXXXX" (its UTF-16
//                       units in hexadecimal), so any text comes back as it
//                       was written
//   DefaultSignature    0 (none) or 1 to 3: the signature a new message gets

#include "core/result.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <functional>

namespace lumopet {

inline constexpr int kSignatureCount = 3;
// A signature is a few lines; anything longer is cut at this many
// characters (to whole lines where it can), on reading and on writing.
inline constexpr qsizetype kMaxSignatureLength = 2000;

struct ComposeOptions {
    bool ConfirmRecipients = false;
    bool QuoteOnReply = false;
    bool KeepReplies = false;
    bool WidenKana = false;
    bool WrapLines = false;
    // Signatures[0] is 署名1; line breaks are "\n".
    std::array<QString, kSignatureCount> Signatures;
    // 0 is none, 1 to 3 name Signatures[0] to Signatures[2].
    int DefaultSignature = 0;

    bool operator==(const ComposeOptions&) const = default;
};

// A missing file, section or key is the default. A value out of its range
// or not a number is the default too. A file that is there and cannot be
// read is a failure, never taken for an empty one.
Result<ComposeOptions> ReadComposeOptions(const QString& path);
// The same on the file's bytes.
ComposeOptions ParseComposeOptions(QByteArrayView file);

// Writes the section's keys in place through the INI engine; every other
// line of the file stays as it is. A file that is there and cannot be read
// is a failure and stays as it is.
Status WriteComposeOptions(const QString& path, const ComposeOptions& options);

// Reads the file, changes what `change` changes and writes it back, so that
// a window saving its own keys keeps what another window saved meanwhile.
// A file that cannot be read is a failure and stays as it is.
Status UpdateComposeOptions(const QString& path, const std::function<void(ComposeOptions&)>& change);

// A signature as it is kept: line breaks as "\n", cut at its first NUL (as
// the profile functions read a value) and at kMaxSignatureLength, to the
// last whole line within it when there is one, never inside a character.
QString KeptSignature(QStringView text);

// The one-line form of a signature in the file, and back. Unescaping takes
// an unknown or unfinished escape as the text it is.
QString EscapedSignature(QStringView text);
QString UnescapedSignature(QStringView value);

}  // namespace lumopet
