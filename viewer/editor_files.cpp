#include "viewer/editor_files.h"

#include "core/program_paths.h"
#include "core/safe_file.h"
#include "core/settings_files/profile_file.h"
#include "core/cp932.h"
#include "core/system_error_text.h"
#include "viewer/editor_logic.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumopet {
namespace {

QString systemReason(int error) { return SystemErrorText(error); }

Failure cannotRead(const QString& path, const QString& reason) {
    return Failure{QStringLiteral("ファイル「%1」を読み込めません（%2）。").arg(path, reason)};
}

}  // namespace

Result<QByteArray> ReadEditorFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return cannotRead(path, QStringLiteral("ファイルがありません"));
    if (!info.isFile()) return cannotRead(path, QStringLiteral("普通のファイルではありません"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return cannotRead(path, systemReason(errno));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return cannotRead(path, SystemErrorText(file.errorString()));
    return bytes;
}

Status WriteEditorFile(const QString& path, QByteArrayView bytes) {
    const QFileInfo info(path);
    // A rename would put the text in place of a folder's entry or a
    // device's; only a regular file (or a new one) is replaced.
    if (info.exists() && !info.isFile())
        return Failure{QStringLiteral("「%1」は普通のファイルではないため、保存できません。").arg(path)};
    return WriteFileSafely(path, bytes);
}

Result<QString> MakeNewDocument(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        auto bytes = ReadEditorFile(path);
        if (!bytes) return Failure{bytes.error()};
        return DocumentToEditorText(bytes.value());
    }
    // NewOnly is O_EXCL: a file or link that appeared meanwhile is not
    // followed or truncated.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Failure{QStringLiteral("ファイル「%1」を作れません（%2）。").arg(path, systemReason(errno))};
    return QString();
}

QString EditorSettingsPath(const ProgramPaths& paths) {
    return paths.path(QStringLiteral("\\★MailData\\pirabeno.ini"));
}

Status ClearEditorSettingsFile(const QString& path, const QString& autoSaveChoice) {
    // Through the program's own profile engine, as the Windows functions
    // would: CP932, CR LF, and every line but the ones changed as it was.
    return UpdateProfileFile(path, [&](QByteArray file) {
        file = FromEarlierEditorSettings(std::move(file));
        // Storing "EMPTY" under key "0" only makes sure that the section is
        // there to be removed; removing it is what stays.
        file = RemoveProfileSection(file, QStringLiteral("HIST"));
        file = RemoveProfileSection(file, QStringLiteral("OKINI"));
        return SetProfileValue(file, QStringLiteral("FLAG"), QStringLiteral("AUTOSAVE"), autoSaveChoice);
    });
}

QByteArray FromEarlierEditorSettings(QByteArray file) {
    if (file.isEmpty() || file.contains('\r')) return file;
    const bool ascii = std::all_of(file.cbegin(), file.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(file);
        if (!utf8.hasError()) {
            const QByteArray encoded = cp932::encode(text);
            if (cp932::decode(encoded) == text) file = encoded;
        }
    }
    file.replace('\n', QByteArrayLiteral("\r\n"));
    return file;
}

}  // namespace lumopet
