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
// The OAuth2 refresh token when no desktop keyring answers (0600).
inline const QString RefreshTokenFile = QStringLiteral("\\★MailData\\oauth2_token.ini");
inline const QString AttachmentFolder = QStringLiteral("添付フォルダ");
inline const QString HomePage = QStringLiteral("homepage.html");
}  // namespace files

// What decides the program folder, gathered so that the rule can be tried
// without changing the process's environment.
struct FolderChoice {
    QString lumopetHome;       // LUMOPET_HOME
    QString executableFolder;  // the folder that holds the running executable
    QString xdgDataHome;       // XDG_DATA_HOME
    QString home;              // HOME
};

// The folder that an installed copy keeps its data files in (the home page
// and the artwork), relative to the executable's folder ("<prefix>/bin").
inline const QString InstalledDataFolder = QStringLiteral("../share/lumopet");

class ProgramPaths {
public:
    explicit ProgramPaths(QString programFolder);

    // The program folder:
    //  - LUMOPET_HOME when set;
    //  - for an installed copy (its executable's folder has the installed
    //    data folder beside it, as <prefix>/bin and <prefix>/share/lumopet)
    //    "lumopet" in the user's data folder: XDG_DATA_HOME when it is an
    //    absolute path, else ~/.local/share;
    //  - else the folder of the executable, as on Windows (a build folder,
    //    or a program folder unpacked anywhere).
    static QString ChooseFolder(const FolderChoice& choice);

    // ChooseFolder with this process's environment and executable.
    static ProgramPaths fromEnvironment();

    // Where the files shipped with the program are (the provider files, the
    // OAuth2 clients): the installed data folder beside an installed
    // executable, else the executable's own folder (a build folder).
    static QString ShippedDataFolder(const QString& executableFolder);
    // The same for this process's executable.
    static QString ShippedDataFolder();

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
