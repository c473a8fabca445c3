#include "viewer/editor_files.h"

#include "core/program_paths.h"
#include "core/safe_file.h"
#include "viewer/editor_logic.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <cstring>

namespace lumopet {
namespace {

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

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
    if (file.error() != QFileDevice::NoError) return cannotRead(path, file.errorString());
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
    const Failure notWritten{QStringLiteral("設定ファイル「%1」に書き込めません。").arg(path)};
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || !info.isReadable()))
        return Failure{QStringLiteral("設定ファイル「%1」を読み込めません。").arg(path)};
    QSettings store(path, QSettings::IniFormat);
    // A file QSettings cannot parse would be rewritten with only what it
    // understood: leave it as it is.
    if (store.status() != QSettings::NoError)
        return Failure{QStringLiteral("設定ファイル「%1」を読み込めません。").arg(path)};
    store.remove(QStringLiteral("HIST"));
    store.remove(QStringLiteral("OKINI"));
    // A null text would be stored as an invalid value, not as an empty one.
    store.setValue(QStringLiteral("FLAG/AUTOSAVE"), autoSaveChoice.isNull() ? QStringLiteral("") : autoSaveChoice);
    store.sync();
    if (store.status() != QSettings::NoError) return notWritten;
    return success();
}

}  // namespace lumopet
