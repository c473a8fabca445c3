#pragma once
// Every path of the program is made here, from the program folder and a
// path written the Windows way ("\★MAilData\srndata2.data").

#include <QString>

namespace lumopet {

// The names of the program's own files and folders, relative to the program
// folder, as the program has always written them.
namespace files {
inline const QString ServerSettings = QStringLiteral("sorane.ini");
inline const QString DataFolder = QStringLiteral("★MailData");
inline const QString CharacterFile = QStringLiteral("\\★MailData\\CharaData.ini");
inline const QString AccountFile = QStringLiteral("\\★MailData\\iniIdPass.ini");
inline const QString AttachmentFolder = QStringLiteral("添付フォルダ");
inline const QString HomePage = QStringLiteral("homepage.html");
}  // namespace files

class ProgramPaths {
public:
    explicit ProgramPaths(QString programFolder);

    // LUMOPET_HOME when set, else the folder that holds the executable.
    static ProgramPaths fromEnvironment();

    const QString& folder() const { return folder_; }

    // The absolute path of a file given relative to the program folder.
    // Backslashes separate folders, and any spelling of the data folder's
    // name that differs only in letter case ("★MAilData") names the one
    // folder "★MailData": the old paths relied on Windows ignoring case.
    QString path(const QString& relative) const;

    // Creates the data folder and the attachment folder when they are
    // missing. Without them the settings and every received message would
    // be lost without a word.
    bool createFolders() const;

private:
    QString folder_;
};

}  // namespace lumopet
