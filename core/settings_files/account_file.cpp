#include "core/settings_files/account_file.h"

#include "core/settings_files/profile_file.h"

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("EXEINI");
constexpr qsizetype kBufferSize = 256;
constexpr mode_t kOwnerOnly = 0600;

}  // namespace

Account ReadAccount(const QString& path) {
    const QByteArray file = ReadProfileFile(path);
    return Account{ProfileString(file, kSection, QStringLiteral("NAME"), kBufferSize),
                   ProfileString(file, kSection, QStringLiteral("NAME2"), kBufferSize)};
}

Status WriteAccount(const QString& path, const QString& id, const QString& password, bool saveBoxTicked) {
    AccountKeys keys;
    if (saveBoxTicked) {
        keys.id = id;
        keys.password = password;
    }
    keys.saveBoxTicked = saveBoxTicked;
    return ChangeAccount(path, keys);
}

Status ChangeAccount(const QString& path, const AccountKeys& keys) {
    std::vector<ProfileEntry> entries;
    if (keys.id) entries.push_back({QStringLiteral("NAME"), *keys.id});
    if (keys.password) entries.push_back({QStringLiteral("NAME2"), *keys.password});
    if (keys.saveBoxTicked)
        entries.push_back({QStringLiteral("NAME3"), *keys.saveBoxTicked ? QStringLiteral("1") : QStringLiteral("0")});
    return WriteProfileStrings(path, kSection, entries, kOwnerOnly);
}

}  // namespace lumopet
