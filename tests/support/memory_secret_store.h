#pragma once
// A keyring in memory, for the tests of what sits on the secret store: it
// can stop answering, or say yes to a write and keep nothing, and it notes
// what the account file held at each write (so that a test sees the order
// of keyring and file).

#include "core/settings_files/account_file.h"
#include "store/secret_store.h"

#include <QString>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace lumopet::test {

class MemorySecretStore : public SecretStore {
public:
    struct Entries {
        std::map<std::pair<SecretKind, QString>, QString> secrets;
        bool answers = true;        // false: every call fails, as a keyring that went silent
        bool keepsWrites = true;    // false: a write says yes and keeps nothing
        QString accountFile;        // when set, its NAME2 is noted at each write
        std::vector<QString> name2AtWrite;
        int removals = 0;
    };

    explicit MemorySecretStore(std::shared_ptr<Entries> entries) : entries_(std::move(entries)) {}

    bool inKeyring() const override { return true; }
    Result<std::optional<QString>> read(SecretKind kind, const QString& account) override {
        if (!entries_->answers) return Failure{QStringLiteral("キーリングが応答しません。")};
        const auto found = entries_->secrets.find({kind, account});
        if (found == entries_->secrets.end()) return std::optional<QString>();
        return std::optional<QString>(found->second);
    }
    Status write(SecretKind kind, const QString& account, const QString& secret) override {
        if (!entries_->answers) return Failure{QStringLiteral("キーリングが応答しません。")};
        if (!entries_->accountFile.isEmpty())
            entries_->name2AtWrite.push_back(ReadAccount(entries_->accountFile).UserPassword);
        if (entries_->keepsWrites) entries_->secrets[{kind, account}] = secret;
        return success();
    }
    Status remove(SecretKind kind, const QString& account) override {
        if (!entries_->answers) return Failure{QStringLiteral("キーリングが応答しません。")};
        ++entries_->removals;
        entries_->secrets.erase({kind, account});
        return success();
    }

private:
    std::shared_ptr<Entries> entries_;
};

}  // namespace lumopet::test
