// The settings files, read as the program reads them at start and written
// as its windows save them.

#include "core/cp932.h"
#include "core/settings_files/account_file.h"
#include "core/settings_files/character_flags.h"
#include "core/settings_files/profile_file.h"
#include "core/settings_files/server_settings.h"
#include "fuzz/checks.h"
#include "fuzz/scratch_folder.h"

#include <QFile>

#include <atomic>
#include <fstream>
#include <sys/stat.h>

namespace lumopet::fuzz {
namespace {

namespace fs = std::filesystem;

// The longest account text ReadAccount gives: its buffer holds 255 bytes.
constexpr qsizetype kAccountBytes = 255;

QString quoted(const QString& text) { return u'"' + text + u'"'; }

std::string describe(const char* what, const QString& expected, const QString& got) {
    return std::string(what) + ": expected " + quoted(expected).toStdString() + ", read back " + quoted(got).toStdString();
}

// Whether the text survives a trip through CP932: a character it cannot
// hold, or the U+FFFD of a broken byte, comes back as something else.
bool keepsInCp932(const QString& text) { return cp932::decode(cp932::encode(text)) == text; }

void writeFile(const fs::path& file, QByteArrayView bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
}

QByteArray readFile(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QString pathOf(const fs::path& file) { return QString::fromStdString(file.string()); }

std::string compareServerValues(const char* when, const ProgramValues& a, const ProgramValues& b) {
    if (a.SmtpServer != b.SmtpServer) return describe(when, a.SmtpServer, b.SmtpServer) + " (SMTP)";
    if (a.Pop3Server != b.Pop3Server) return describe(when, a.Pop3Server, b.Pop3Server) + " (POP3)";
    if (a.MailAddress != b.MailAddress) return describe(when, a.MailAddress, b.MailAddress) + " (MAIL)";
    if (a.ApopFlag != b.ApopFlag) return std::string(when) + ": APOP " + std::to_string(a.ApopFlag) + " read back as " +
                                         std::to_string(b.ApopFlag);
    return {};
}

// "sorane.ini": read, saved whole, read again.
std::string checkServerSettings(QByteArrayView input, const fs::path& folder) {
    const fs::path file = folder / "sorane.ini";
    writeFile(file, input);
    ProgramValues first;
    if (!ReadServerSettings(pathOf(file), first)) return "a readable sorane.ini was reported unreadable";
    if (!WriteServerSettings(pathOf(file), first)) return "saving sorane.ini failed";
    const QByteArray saved = readFile(file);
    if (saved != FormatServerSettings(first)) return "sorane.ini on disk is not what was saved";
    ProgramValues second;
    if (!ReadServerSettings(pathOf(file), second)) return "the saved sorane.ini cannot be read";
    if (keepsInCp932(first.SmtpServer) && keepsInCp932(first.Pop3Server) && keepsInCp932(first.MailAddress)) {
        if (std::string found = compareServerValues("sorane.ini", first, second); !found.empty()) return found;
    }
    // What CP932 could not hold is settled by the first save: from then on
    // the file stays as it is.
    if (FormatServerSettings(second) != saved) return "a second save of sorane.ini changed it";
    return {};
}

std::string compareAccounts(const char* when, const Account& expected, const Account& got) {
    if (expected.UserId != got.UserId) return describe(when, expected.UserId, got.UserId) + " (ID)";
    if (expected.UserPassword != got.UserPassword)
        return describe(when, expected.UserPassword, got.UserPassword) + " (password)";
    return {};
}

// Values a user may type, and values that would break a careless writer:
// blanks and quotes at the ends, "=", "[", ";", a CR inside.
const QString kTypedValues[] = {
    QStringLiteral("taro"),
    QStringLiteral(" p a s s "),
    QStringLiteral("\"quoted\""),
    QStringLiteral("\""),
    QStringLiteral("a=b;c"),
    QStringLiteral("[EXEINI]"),
    QStringLiteral("pass\rNAME2=stolen"),
    QStringLiteral("パスワード①～"),
    QStringLiteral("\t"),
    QString(),
};

// A value from the input itself, so that the fuzzer shapes written values
// too: its last bytes as UTF-8.
QString valueFromInput(QByteArrayView input) {
    return QString::fromUtf8(input.last(std::min<qsizetype>(input.size(), 40)));
}

// What reading gives for a written value: line breaks cannot be kept (a
// value is one line), and the buffer holds 255 bytes.
QString asReadBack(QString value) {
    value.remove(u'\r').remove(u'\n');
    return cp932::decode(cp932::truncate(cp932::encode(value), kAccountBytes));
}

// "iniIdPass.ini": what is read is saved and read again unchanged; what is
// saved reads back; the file stays its owner's alone; keys of other
// sections and other keys are never touched.
std::string checkAccount(QByteArrayView input, const fs::path& folder) {
    const fs::path file = folder / "iniIdPass.ini";
    writeFile(file, input);
    const QString path = pathOf(file);
    const auto others = [&] {
        const QByteArray bytes = readFile(file);
        return std::vector<std::optional<QByteArray>>{FindProfileValue(bytes, QStringLiteral("EXEINI"), QStringLiteral("NAME4")),
                                                      FindProfileValue(bytes, QStringLiteral("OTHER"), QStringLiteral("NAME")),
                                                      FindProfileValue(bytes, QStringLiteral("OTHER"), QStringLiteral("NAME2"))};
    };
    const auto othersBefore = others();

    const Account first = ReadAccount(path);
    if (!WriteAccount(path, first.UserId, first.UserPassword, true)) return "saving the account failed";
    const Account second = ReadAccount(path);
    if (keepsInCp932(first.UserId) && keepsInCp932(first.UserPassword)) {
        if (std::string found = compareAccounts("account read, saved, read", first, second); !found.empty()) return found;
    }
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0777) != 0600)
        return "the saved account file is not a plain file of mode 0600";

    std::vector<QString> values(std::begin(kTypedValues), std::end(kTypedValues));
    values.push_back(valueFromInput(input));
    for (size_t i = 0; i < values.size(); ++i) {
        const QString& id = values[i];
        const QString& password = values[(i + 1) % values.size()];
        if (!keepsInCp932(id) || !keepsInCp932(password)) continue;
        if (!WriteAccount(path, id, password, true)) return "saving the account failed";
        const Account expected{asReadBack(id), asReadBack(password)};
        if (std::string found = compareAccounts("account saved, read", expected, ReadAccount(path)); !found.empty())
            return found;
        // Unticking the box leaves what was saved.
        if (!WriteAccount(path, QStringLiteral("x"), QStringLiteral("y"), false)) return "saving the box failed";
        if (std::string found = compareAccounts("account after unticking", expected, ReadAccount(path)); !found.empty())
            return found;
    }
    if (others() != othersBefore) return "saving the account changed a key it does not own";
    return {};
}

// "CharaData.ini": the flags read, saved and read again, and a pattern of
// the input's choosing saved and read.
std::string checkCharacterFlags(QByteArrayView input, const fs::path& folder) {
    const fs::path file = folder / "CharaData.ini";
    writeFile(file, input);
    const QString path = pathOf(file);
    const MoodFlags first = ReadCharacterFlags(path);
    if (!WriteCharacterFlags(path, first)) return "saving the character flags failed";
    if (ReadCharacterFlags(path) != first) return "character flags read, saved and read again differ";
    MoodFlags chosen{};
    const unsigned char pattern = input.isEmpty() ? 0 : static_cast<unsigned char>(input.front());
    for (int i = 0; i < kMoodCount; ++i) chosen[i] = (pattern >> i) & 1;
    if (!WriteCharacterFlags(path, chosen)) return "saving the character flags failed";
    if (ReadCharacterFlags(path) != chosen) return "character flags saved and read differ";
    return {};
}

}  // namespace

std::string CheckSettingsFiles(QByteArrayView input, const fs::path& scratch) {
    static std::atomic<int> runs{0};
    const fs::path folder = scratch / ("settings-" + std::to_string(++runs));
    RemoveTree(folder);
    fs::create_directories(folder);
    std::string complaint = checkServerSettings(input, folder);
    if (complaint.empty()) complaint = checkAccount(input, folder);
    if (complaint.empty()) complaint = checkCharacterFlags(input, folder);
    RemoveTree(folder);
    return complaint;
}

}  // namespace lumopet::fuzz
