#include "settings/AccountSetupForm.h"

#include "core/program.h"
#include "core/settings_files/account_file.h"
#include "core/settings_files/account_options.h"
#include "core/settings_files/receive_options.h"
#include "core/settings_files/server_settings.h"
#include "core/twips.h"
#include "mail/transport/oauth2_clients.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QUrl>

namespace lumopet {
namespace {

// The folder of provider files in the data folder, read before the shipped
// ones: a copy there (the Microsoft 365 file for a company's domain) wins.

QString issuerName(const QString& issuer) {
    if (issuer == mail::kGoogleIssuer) return QStringLiteral("Google");
    if (issuer == mail::kMicrosoftIssuer) return QStringLiteral("Microsoft");
    return issuer;
}

QString serverText(const QString& host, int port, mail::SocketType socket) {
    return QStringLiteral("%1　ポート %2　暗号化 %3").arg(host).arg(port).arg(mail::SocketTypeText(socket));
}

// One note a line, each after a bullet, its page linked by the site's name.
QString noteHtml(const QString& text, const QString& url) {
    QString html = QStringLiteral("・") + text.toHtmlEscaped();
    if (!url.isEmpty())
        html += QStringLiteral(" <a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), QUrl(url).host().toHtmlEscaped());
    return html;
}

}  // namespace

AccountSetupForm::AccountSetupForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), windows_(windows), program_(windows.program()) {
    // A fixed single border and a close box, as the server window has.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("アカウント設定"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 6600, 7080).size());

    Label1 = new QLabel(QStringLiteral("メールアドレス(&M)"), this);
    Label1->move(place(120, 120, 0, 0).topLeft());
    Label1->adjustSize();
    AddressText = new QLineEdit(this);
    AddressText->setGeometry(place(120, 360, 4920, 330));
    Label1->setBuddy(AddressText);
    FindCommand = new QPushButton(QStringLiteral("検索(&F)"), this);
    FindCommand->setGeometry(place(5160, 345, 1320, 360));

    ProgressText = new QPlainTextEdit(this);
    ProgressText->setGeometry(place(120, 810, 6360, 1110));
    ProgressText->setReadOnly(true);
    ProgressText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ProgressText->setFocusPolicy(Qt::NoFocus);

    Frame1 = new QGroupBox(QStringLiteral("見つかった設定"), this);
    Frame1->setGeometry(place(120, 2010, 6360, 2430));
    auto row = [this](const QString& caption, int top) {
        auto* label = new QLabel(caption, Frame1);
        label->move(place(180, top, 0, 0).topLeft());
        label->adjustSize();
        auto* value = new QLabel(Frame1);
        value->setGeometry(place(1500, top, 4740, 270));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return value;
    };
    Pop3Value = row(QStringLiteral("受信 (POP3)"), 360);
    SmtpValue = row(QStringLiteral("送信 (SMTP)"), 720);
    IdValue = row(QStringLiteral("ID"), 1080);
    auto* signInLabel = new QLabel(QStringLiteral("サインイン"), Frame1);
    signInLabel->move(place(180, 1440, 0, 0).topLeft());
    signInLabel->adjustSize();
    OAuthOption = new QRadioButton(QStringLiteral("OAuth2"), Frame1);
    OAuthOption->setGeometry(place(1500, 1410, 2280, 300));
    PasswordOption = new QRadioButton(QStringLiteral("パスワード"), Frame1);
    PasswordOption->setGeometry(place(3900, 1410, 2280, 300));
    SourceValue = row(QStringLiteral("見つけた場所"), 1860);

    NotesLabel = new QLabel(this);
    NotesLabel->setGeometry(place(120, 4560, 6360, 1860));
    NotesLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    NotesLabel->setWordWrap(true);
    NotesLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    NotesLabel->setMargin(place(0, 0, 60, 0).width());
    NotesLabel->setTextFormat(Qt::RichText);
    NotesLabel->setOpenExternalLinks(false);
    NotesLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setGeometry(place(3900, 6570, 1200, 375));
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setGeometry(place(5280, 6570, 1200, 375));
    for (QPushButton* button : {FindCommand, OkCommand, CancelCommand}) button->setAutoDefault(true);

    hasClientId = [this](const QString& issuer) { return mail::FindOAuth2Client(program_.paths, issuer).ok(); };
    openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    options_.providerFolders = mail::ProgramProviderFolders(program_.paths);

    connect(FindCommand, &QPushButton::clicked, this, &AccountSetupForm::FindCommand_Click);
    connect(AddressText, &QLineEdit::returnPressed, this, &AccountSetupForm::FindCommand_Click);
    // What was found belongs to the address it was found for.
    connect(AddressText, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (found_ && text.trimmed() != foundFor_) clearFound();
    });
    connect(OkCommand, &QPushButton::clicked, this, &AccountSetupForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &AccountSetupForm::CancelCommand_Click);
    connect(NotesLabel, &QLabel::linkActivated, this, [this](const QString& link) {
        const QUrl url(link);
        if (url.scheme() == QStringLiteral("https") || url.scheme() == QStringLiteral("http")) openLink(url);
    });
    clearFound();
}

AccountSetupForm::~AccountSetupForm() = default;

QRect AccountSetupForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

void AccountSetupForm::SetLookupOptions(mail::ProviderLookupOptions options) {
    options_ = std::move(options);
    lookup_.reset();
}

bool AccountSetupForm::IsLookupRunning() const { return lookup_ && lookup_->isRunning(); }

void AccountSetupForm::Form_Load() {
    AddressText->setText(program_.values.MailAddress);
    ProgressText->clear();
    clearFound();
    NotesLabel->setText(QStringLiteral("メールアドレスを入力して「検索」を押すと、プロバイダーの設定を探します。"));
    move(screen()->availableGeometry().center() - rect().center());
}

void AccountSetupForm::clearFound() {
    found_.reset();
    foundFor_.clear();
    for (QLabel* value : {Pop3Value, SmtpValue, IdValue, SourceValue}) value->clear();
    OAuthOption->setText(QStringLiteral("OAuth2"));
    for (QRadioButton* option : {OAuthOption, PasswordOption}) {
        option->setAutoExclusive(false);
        option->setChecked(false);
        option->setAutoExclusive(true);
        option->setEnabled(false);
    }
    Frame1->setEnabled(false);
    OkCommand->setEnabled(false);
}

void AccountSetupForm::FindCommand_Click() {
    if (IsLookupRunning()) return;
    ProgressText->clear();
    clearFound();
    NotesLabel->clear();
    if (!lookup_) {
        lookup_ = std::make_unique<mail::ProviderLookup>(options_);
        connect(lookup_.get(), &mail::ProviderLookup::progress, this,
                [this](const QString& line) { ProgressText->appendPlainText(line); });
        connect(lookup_.get(), &mail::ProviderLookup::finished, this, &AccountSetupForm::lookupFinished);
    }
    // The address stays as searched until the answer is in: what is found
    // belongs to it.
    FindCommand->setEnabled(false);
    AddressText->setReadOnly(true);
    foundFor_ = AddressText->text().trimmed();
    lookup_->start(foundFor_);
}

void AccountSetupForm::lookupFinished(const mail::LookupOutcome& outcome) {
    FindCommand->setEnabled(true);
    AddressText->setReadOnly(false);
    if (!outcome.found) {
        ProgressText->appendPlainText(outcome.failure);
        NotesLabel->setText(outcome.failure.toHtmlEscaped());
        return;
    }
    found_ = outcome.found;
    showFound();
}

void AccountSetupForm::showFound() {
    const mail::FoundAccount& found = *found_;
    QStringList notes;
    SourceValue->setText(found.source);
    if (found.noPop3) {
        // The sentence says why; nothing can be written for this address.
        for (const mail::ProviderNote& note : found.notes) notes << noteHtml(note.text, note.url);
        NotesLabel->setText(notes.join(QStringLiteral("<br>")));
        return;
    }
    Frame1->setEnabled(true);
    Pop3Value->setText(serverText(found.pop3Host, found.pop3Port, found.pop3Socket));
    SmtpValue->setText(serverText(found.smtpHost, found.smtpPort, found.smtpSocket));
    IdValue->setText(found.userId);

    bool canSignIn = true;
    PasswordOption->setEnabled(found.passwordSignIn);
    if (found.oauth2) {
        const QString issuer = found.oauth2->issuer;
        OAuthOption->setText(QStringLiteral("OAuth2 (%1)").arg(issuerName(issuer)));
        if (hasClientId(issuer)) {
            OAuthOption->setEnabled(true);
            OAuthOption->setChecked(true);
        } else if (found.passwordSignIn) {
            notes << noteHtml(QStringLiteral("このプログラムには %1 の OAuth2 クライアント ID がないため、OAuth2 では"
                                             "サインインできません。アプリ パスワードを作り、パスワードとして使ってください。")
                                  .arg(issuerName(issuer)),
                              {});
            PasswordOption->setChecked(true);
        } else {
            notes << noteHtml(QStringLiteral("このプログラムには %1 の OAuth2 クライアント ID がなく、このプロバイダーは"
                                             "パスワードでのログインを受け付けないため、設定できません。")
                                  .arg(issuerName(issuer)),
                              {});
            canSignIn = false;
        }
    } else {
        PasswordOption->setChecked(true);
    }
    for (const mail::ProviderNote& note : found.notes) notes << noteHtml(note.text, note.url);
    // The POP3 field has no form that insists on STLS (host:port upgrades
    // when the server offers it): the user is told what that means.
    if (found.pop3Socket == mail::SocketType::StartTls)
        notes << noteHtml(QStringLiteral("受信サーバーは STARTTLS で暗号化します。途中で STARTTLS が消されると"
                                         "暗号化せずにログインするため、SSL/TLS のサーバーがあればそちらを使ってください。"),
                          {});
    if (canSignIn && PasswordOption->isChecked())
        notes << noteHtml(QStringLiteral("パスワードは「ID/PASS」で入力してください。"), {});
    NotesLabel->setText(notes.join(QStringLiteral("<br>")));
    OkCommand->setEnabled(canSignIn);
}

void AccountSetupForm::OkCommand_Click() {
    if (!found_ || found_->noPop3 || !OkCommand->isEnabled()) return;
    const mail::FoundAccount& found = *found_;
    const bool oauth = OAuthOption->isChecked() && found.oauth2;

    ProgramValues values = program_.values;
    values.SmtpServer = found.smtpField();
    values.Pop3Server = found.pop3Field();
    values.MailAddress = foundFor_;
    values.ApopFlag = 0;
    // The section's other keys (a いいえ to moving the password) stay.
    const Result<AccountOptions> before = ReadAccountOptions(program_.paths.path(files::ProgramOptions));
    AccountOptions account = before ? before.value() : AccountOptions{};
    account.SignIn = oauth ? SignInMethod::OAuth2 : SignInMethod::Password;
    account.OAuthIssuer = oauth ? found.oauth2->issuer : QString();
    AccountKeys id;
    id.id = found.userId;

    // The server file first: it is what a mail check reads. A failed write
    // keeps the window open with what was found, to try again or to cancel.
    const Status servers = WriteServerSettings(program_.paths.path(files::ServerSettings), values);
    if (!servers) {
        ShowError(this, QStringLiteral("エラー"), servers.error());
        return;
    }
    program_.values = values;
    const Status idWritten = ChangeAccount(program_.paths.path(files::AccountFile), id);
    if (!idWritten) {
        ShowError(this, QStringLiteral("エラー"), idWritten.error());
        return;
    }
    program_.values.UserId = found.userId;
    const Status options = WriteAccountOptions(program_.paths.path(files::ProgramOptions), account);
    if (!options) {
        ShowError(this, QStringLiteral("エラー"), options.error());
        return;
    }
    close();
}

void AccountSetupForm::CancelCommand_Click() { close(); }

void AccountSetupForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        CancelCommand->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace lumopet
