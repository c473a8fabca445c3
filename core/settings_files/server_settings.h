#pragma once
// "sorane.ini" in the program folder: four lines "SMTP=", "POP3=", "MAIL="
// and "APOP=", each ended by CR LF, values stored exactly as typed.

#include "core/program_values.h"
#include "core/result.h"

#include <QByteArray>

namespace lumopet {

// Fills SmtpServer, Pop3Server, MailAddress and ApopFlag from the file's
// lines; values without a line keep what they hold. A missing file changes
// nothing; one that is there and cannot be read (or is no regular file)
// changes nothing either and is a failure naming it.
Status ReadServerSettings(const QString& path, ProgramValues& values);
void ParseServerSettings(QByteArrayView file, ProgramValues& values);

// Rewrites the file whole from the four values; refuses to replace one that
// is there and cannot be read.
Status WriteServerSettings(const QString& path, const ProgramValues& values);
QByteArray FormatServerSettings(const ProgramValues& values);

}  // namespace lumopet
