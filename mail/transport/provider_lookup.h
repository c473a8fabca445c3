#pragma once
// Finds a provider's settings from a mail address, the way mail clients do,
// trying in order and saying each step on a progress line:
//  1. the provider files: the user's folder (★MailData/providers) first,
//     then the ones shipped with the program; "<domain>.xml", else any file
//     whose <domain> elements name the domain ("*.example.jp" stands for
//     every sub-domain of example.jp);
//  2. https://autoconfig.<domain>/mail/config-v1.1.xml?emailaddress=<address>;
//  3. https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml;
//  4. the SRV records of RFC 6186 and RFC 8314 (_pop3s, _pop3,
//     _submissions, _submission under _tcp.<domain>).
// Only HTTPS, with a certificate the system trusts (and the CA file named
// by LUMOPET_CA_FILE, as the mail transport trusts it); a redirect is never
// followed, a body over 1 MB or one that is no autoconfig file is left with
// a line, and each step has a short time-out. A provider file that says the
// provider has no POP3 ends the search: the address cannot be used.

#include "core/program_paths.h"
#include "mail/transport/provider_settings.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QDnsLookup;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace lumopet::mail {

struct ProviderLookupOptions {
    // Searched in order: the user's folder first, then the shipped one.
    QStringList providerFolders;
    // For each network step.
    int timeoutMs = 8000;
    // The name server for the SRV step; null: the system's. Qt 6.4 asks it
    // on port 53 (QDnsLookup::setNameserver takes no port before Qt 6.6).
    QHostAddress nameserver;
    // Tests: HTTPS requests for a host name go to 127.0.0.1 at the port
    // given, and the certificate is still checked against the host name.
    QHash<QString, quint16> loopbackHttpsPorts;
    // A CA certificate file trusted besides the system's.
    QString extraCaFile = qEnvironmentVariable("LUMOPET_CA_FILE");
};

// What the search ended with: the account, or why there is none.
struct LookupOutcome {
    std::optional<FoundAccount> found;
    QString failure;
};

// The user's folder and the shipped folder, in the order searched.
QStringList DefaultProviderFolders(const QString& userProvidersFolder, const QString& shippedProvidersFolder);
// The program's two: ★MailData/providers, then the files shipped with it.
QStringList ProgramProviderFolders(const ProgramPaths& paths);

// Step 1 on its own: the file for the domain in the folders, read and
// checked. Empty when no file names the domain; progress gets a line for
// each file that was found but could not be used.
struct ProviderFileMatch {
    QString path;
    ProviderSettings settings;
};
std::optional<ProviderFileMatch> FindProviderFile(const QStringList& folders, const QString& domain,
                                                  const std::function<void(const QString&)>& progress);

class ProviderLookup : public QObject {
    Q_OBJECT
public:
    explicit ProviderLookup(ProviderLookupOptions options, QObject* parent = nullptr);
    ~ProviderLookup() override;

    // Starts a search; one already running is dropped.
    void start(const QString& address);
    void cancel();
    bool isRunning() const { return running_; }

Q_SIGNALS:
    void progress(const QString& line);
    void finished(const lumopet::mail::LookupOutcome& outcome);

private:
    void tryProviderFiles();
    void tryHttps(int step);
    void httpsDone(QNetworkReply* reply, int step, const QString& shownUrl);
    void trySrv();
    void srvDone();
    void finish(LookupOutcome outcome);
    // The account from a file's bytes, or a line that says why not.
    bool useSettings(const Result<ProviderSettings>& parsed, const QString& source, const QString& shownWhere);

    ProviderLookupOptions options_;
    std::unique_ptr<QNetworkAccessManager> network_;
    QPointer<QNetworkReply> reply_;
    std::vector<QDnsLookup*> dns_;
    QTimer* dnsTimer_ = nullptr;
    MailAddressParts address_;
    bool running_ = false;
    bool tooLarge_ = false;
    int generation_ = 0;
};

}  // namespace lumopet::mail
