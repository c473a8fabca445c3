#pragma once
// "アカウント設定": the account set up from the mail address. 検索 looks the
// provider's settings up (mail/transport/provider_lookup.h), says what it
// tries on the progress lines, and shows what it found for the user to
// confirm; 設定 writes them: sorane.ini (SMTP, POP3, MAIL, APOP = 0), the
// ID into iniIdPass.ini (NAME only: the password is the ID/PASS window's
// and the keyring's), and lumopet.ini's [Account] (SignIn, OAuthIssuer).
// A provider without POP3 gets its sentence and no 設定.

#include "mail/transport/provider_lookup.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace lumopet {

class WindowDirectory;
struct Program;

class AccountSetupForm : public QWidget {
    Q_OBJECT
public:
    explicit AccountSetupForm(WindowDirectory& windows, QWidget* parent = nullptr);
    ~AccountSetupForm() override;

    void Form_Load();
    void FindCommand_Click();
    void OkCommand_Click();
    void CancelCommand_Click();

    // Where the lookup searches (tests: their own folders and servers).
    void SetLookupOptions(mail::ProviderLookupOptions options);
    // Whether the program has an OAuth2 client ID for the issuer; by
    // default oauth2_clients.ini and the build say.
    std::function<bool(const QString& issuer)> hasClientId;
    // Opens a note's page; by default the desktop's browser.
    std::function<void(const QUrl&)> openLink;

    bool IsLookupRunning() const;
    // What the last search found for the address in the box; empty once
    // the address is changed.
    const std::optional<mail::FoundAccount>& Found() const { return found_; }

    QLabel* Label1;
    QLineEdit* AddressText;
    QPushButton* FindCommand;
    QPlainTextEdit* ProgressText;
    QGroupBox* Frame1;  // the settings found
    QLabel* Pop3Value;
    QLabel* SmtpValue;
    QLabel* IdValue;
    QRadioButton* OAuthOption;
    QRadioButton* PasswordOption;
    QLabel* SourceValue;
    QLabel* NotesLabel;  // the provider's notes, with links
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRect place(int left, int top, int width, int height) const;
    void lookupFinished(const mail::LookupOutcome& outcome);
    void showFound();
    void clearFound();

    WindowDirectory& windows_;
    Program& program_;
    mail::ProviderLookupOptions options_;
    std::unique_ptr<mail::ProviderLookup> lookup_;
    std::optional<mail::FoundAccount> found_;
    QString foundFor_;  // the address the result belongs to
};

}  // namespace lumopet
