#include "core/settings_files/server_settings.h"

#include "core/cp932.h"
#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"

#include <QStringList>


namespace lumopet {
namespace {

// Characters 6 to 105 of a line: at most 100 characters after the key.
constexpr qsizetype kKeyLength = 5;
constexpr qsizetype kMaxValueLength = 100;

}  // namespace

void ParseServerSettings(QByteArrayView file, ProgramValues& values) {
    // Lines end in CR LF; a bare CR or LF (a file edited on Linux) ends a
    // line too.
    const QString text = cp932::decode(file);
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    for (const QString& line : normalised.split(u'\n')) {
        // The key is case-sensitive: "pop3=" is not "POP3=".
        const QStringView key = QStringView(line).left(kKeyLength);
        const QString value = line.mid(kKeyLength, kMaxValueLength);
        if (key == u"SMTP=") values.SmtpServer = value;
        else if (key == u"POP3=") values.Pop3Server = value;
        else if (key == u"MAIL=") values.MailAddress = value;
        else if (key == u"APOP=") values.ApopFlag = RoundToInt16(NumericValue(value));
    }
}

Status ReadServerSettings(const QString& path, ProgramValues& values) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (file.value()) ParseServerSettings(*file.value(), values);
    return success();
}

QByteArray FormatServerSettings(const ProgramValues& values) {
    // A line break inside a value would add a line to a file that always
    // has exactly four.
    auto line = [](const char* key, QString value) {
        return QLatin1String(key) + value.remove(u'\r').remove(u'\n') + QStringLiteral("\r\n");
    };
    return cp932::encode(line("SMTP=", values.SmtpServer) + line("POP3=", values.Pop3Server) +
                         line("MAIL=", values.MailAddress) + line("APOP=", QString::number(values.ApopFlag)));
}

Status WriteServerSettings(const QString& path, const ProgramValues& values) {
    // The file is rewritten whole, so nothing of the old one is needed; but
    // one that is there and cannot be read was reported at start-up, and
    // stays until the user has seen to it, rather than be lost to a save.
    const Result<std::optional<QByteArray>> existing = ReadFileIfPresent(path);
    if (!existing) return Failure{existing.error()};
    return WriteFileSafely(path, FormatServerSettings(values));
}

}  // namespace lumopet
