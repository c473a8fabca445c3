#include "mail/transport/provider_lookup.h"

#include "core/safe_file.h"
#include "mail/transport/oauth2_network.h"

#include <QDir>
#include <QDnsLookup>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>

namespace lumopet::mail {
namespace {

// "*.example.jp" stands for every name under example.jp, not for
// example.jp itself.
bool domainMatches(const QString& pattern, const QString& domain) {
    if (pattern == domain) return true;
    return pattern.startsWith(QStringLiteral("*.")) && domain.endsWith(pattern.mid(1)) &&
           domain.size() > pattern.size() - 1;
}

bool namesDomain(const ProviderSettings& settings, const QString& domain) {
    return std::any_of(settings.domains.begin(), settings.domains.end(),
                       [&](const QString& pattern) { return domainMatches(pattern, domain); });
}

// A provider file read and checked; empty with a line when it cannot be
// used (too large, unreadable, refused by the reader).
std::optional<ProviderSettings> readProviderFile(const QString& path,
                                                 const std::function<void(const QString&)>& progress) {
    const QString name = QFileInfo(path).fileName();
    if (QFileInfo(path).size() > kMaxProviderFileBytes) {
        progress(QStringLiteral("設定ファイル %1 は大きすぎるため使いません。").arg(name));
        return std::nullopt;
    }
    const Result<std::optional<QByteArray>> bytes = ReadFileIfPresent(path);
    if (!bytes || !bytes.value()) {
        if (!bytes) progress(QStringLiteral("設定ファイル %1 を読めません: %2").arg(name, bytes.error()));
        return std::nullopt;
    }
    Result<ProviderSettings> parsed = ParseProviderSettings(*bytes.value());
    if (!parsed) {
        progress(QStringLiteral("設定ファイル %1 は使えません: %2").arg(name, parsed.error()));
        return std::nullopt;
    }
    return std::move(parsed.value());
}

QString socketOfSrv(const QString& service) {
    return service.endsWith(u's') ? QStringLiteral("SSL") : QStringLiteral("STARTTLS");
}

// The record a client should use: lowest priority, then the heaviest
// weight (a setup writes one server down, so the weight's share is not
// drawn by lot). A target "." says the service is not offered (RFC 2782).
std::optional<QDnsServiceRecord> bestRecord(const QList<QDnsServiceRecord>& records) {
    std::optional<QDnsServiceRecord> best;
    for (const QDnsServiceRecord& record : records) {
        const QString target = record.target();
        if (target.isEmpty() || target == QStringLiteral(".")) continue;
        if (!best || record.priority() < best->priority() ||
            (record.priority() == best->priority() && record.weight() > best->weight()))
            best = record;
    }
    return best;
}

QString withoutTrailingDot(QString host) {
    while (host.endsWith(u'.')) host.chop(1);
    return host.toLower();
}

}  // namespace

QStringList DefaultProviderFolders(const QString& userProvidersFolder, const QString& shippedProvidersFolder) {
    return {userProvidersFolder, shippedProvidersFolder};
}

QStringList ProgramProviderFolders(const ProgramPaths& paths) {
    return DefaultProviderFolders(paths.path(QStringLiteral("\\★MailData\\providers")),
                                  QDir(ProgramPaths::ShippedDataFolder()).filePath(QStringLiteral("providers")));
}

std::optional<ProviderFileMatch> FindProviderFile(const QStringList& folders, const QString& domain,
                                                  const std::function<void(const QString&)>& progress) {
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (folder.isEmpty() || !dir.exists()) continue;
        // The file named after the domain first, then the others that list
        // it; a file that names it but cannot be used is passed over.
        const QString exact = dir.filePath(domain + QStringLiteral(".xml"));
        if (QFileInfo(exact).isFile()) {
            std::optional<ProviderSettings> settings = readProviderFile(exact, progress);
            if (settings) return ProviderFileMatch{exact, std::move(*settings)};
        }
        const QStringList names = dir.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            const QString path = dir.filePath(name);
            if (path == exact) continue;
            const auto quiet = [](const QString&) {};
            std::optional<ProviderSettings> settings = readProviderFile(path, quiet);
            if (settings && namesDomain(*settings, domain)) return ProviderFileMatch{path, std::move(*settings)};
        }
    }
    return std::nullopt;
}

ProviderLookup::ProviderLookup(ProviderLookupOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), network_(std::make_unique<QNetworkAccessManager>()) {}

ProviderLookup::~ProviderLookup() { cancel(); }

void ProviderLookup::cancel() {
    ++generation_;
    running_ = false;
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
    for (QDnsLookup* lookup : dns_) {
        lookup->disconnect(this);
        lookup->abort();
        lookup->deleteLater();
    }
    dns_.clear();
    if (dnsTimer_) {
        dnsTimer_->deleteLater();
        dnsTimer_ = nullptr;
    }
}

void ProviderLookup::start(const QString& address) {
    cancel();
    const Result<MailAddressParts> parts = SplitMailAddress(address);
    if (!parts) {
        finish(LookupOutcome{std::nullopt, parts.error()});
        return;
    }
    address_ = parts.value();
    running_ = true;
    tryProviderFiles();
}

void ProviderLookup::finish(LookupOutcome outcome) {
    running_ = false;
    Q_EMIT finished(outcome);
}

bool ProviderLookup::useSettings(const Result<ProviderSettings>& parsed, const QString& source,
                                 const QString& shownWhere) {
    if (!parsed) {
        Q_EMIT progress(QStringLiteral("%1 の内容は使いません: %2").arg(shownWhere, parsed.error()));
        return false;
    }
    Result<FoundAccount> account = AccountFromProvider(parsed.value(), address_, source);
    if (!account) {
        Q_EMIT progress(QStringLiteral("%1 の内容は使いません: %2").arg(shownWhere, account.error()));
        return false;
    }
    finish(LookupOutcome{std::move(account.value()), {}});
    return true;
}

void ProviderLookup::tryProviderFiles() {
    Q_EMIT progress(QStringLiteral("%1 の設定ファイルを探しています（★MailData/providers、同梱のファイル）…").arg(address_.domain));
    auto line = [this](const QString& text) { Q_EMIT progress(text); };
    const std::optional<ProviderFileMatch> match = FindProviderFile(options_.providerFolders, address_.domain, line);
    if (match) {
        const QString name = QFileInfo(match->path).fileName();
        Q_EMIT progress(QStringLiteral("設定ファイル %1 が見つかりました。").arg(name));
        if (useSettings(match->settings, QStringLiteral("設定ファイル %1").arg(name), name)) return;
    } else {
        Q_EMIT progress(QStringLiteral("%1 の設定ファイルはありません。").arg(address_.domain));
    }
    tryHttps(2);
}

void ProviderLookup::tryHttps(int step) {
    const int generation = generation_;
    QUrl url;
    if (step == 2) {
        url = QUrl(QStringLiteral("https://autoconfig.%1/mail/config-v1.1.xml").arg(address_.domain));
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("emailaddress"), QString::fromLatin1(QUrl::toPercentEncoding(address_.address())));
        url.setQuery(query);
    } else {
        url = QUrl(QStringLiteral("https://%1/.well-known/autoconfig/mail/config-v1.1.xml").arg(address_.domain));
    }
    const QString shownUrl = url.toString(QUrl::RemoveQuery);
    Q_EMIT progress(QStringLiteral("%1 に問い合わせています…").arg(shownUrl));

    const QString host = url.host();
    QUrl target = url;
    QNetworkRequest request;
    if (const auto port = options_.loopbackHttpsPorts.constFind(host); port != options_.loopbackHttpsPorts.cend()) {
        target.setHost(QStringLiteral("127.0.0.1"));
        target.setPort(*port);
        request.setPeerVerifyName(host);
        request.setRawHeader("Host", host.toUtf8());
    }
    request.setUrl(target);
    // A redirect could lead anywhere, also to plain HTTP: it is said and
    // left, never followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(options_.timeoutMs);
    request.setSslConfiguration(TrustedTlsConfiguration(options_.extraCaFile));

    tooLarge_ = false;
    reply_ = network_->get(request);
    QNetworkReply* reply = reply_;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kMaxProviderFileBytes) {
            tooLarge_ = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received > kMaxProviderFileBytes) {
            tooLarge_ = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, step, shownUrl, generation] {
        reply->deleteLater();
        if (generation != generation_) return;
        httpsDone(reply, step, shownUrl);
    });
}

void ProviderLookup::httpsDone(QNetworkReply* reply, int step, const QString& shownUrl) {
    reply_ = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString left;
    if (tooLarge_) {
        left = QStringLiteral("応答が 1 MB を超えるため使いません。");
    } else if (status >= 300 && status < 400) {
        left = QStringLiteral("転送先（%1）には従いません。")
                   .arg(reply->header(QNetworkRequest::LocationHeader).toUrl().toString());
    } else if (reply->error() == QNetworkReply::OperationCanceledError ||
               reply->error() == QNetworkReply::TimeoutError) {
        left = QStringLiteral("時間内に応答がありませんでした。");
    } else if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
        left = QStringLiteral("サーバーの証明書を確認できませんでした。");
    } else if (reply->error() != QNetworkReply::NoError && status == 0) {
        left = QStringLiteral("つながりませんでした（%1）。").arg(reply->errorString());
    } else if (status != 200) {
        left = QStringLiteral("設定がありません（HTTP %1）。").arg(status);
    }
    if (left.isEmpty()) {
        const QByteArray body = reply->readAll();
        if (useSettings(ParseProviderSettings(body), QStringLiteral("プロバイダーの自動設定（%1）").arg(shownUrl),
                        shownUrl))
            return;
    } else {
        Q_EMIT progress(QStringLiteral("%1: %2").arg(shownUrl, left));
    }
    if (step == 2) tryHttps(3);
    else trySrv();
}

void ProviderLookup::trySrv() {
    Q_EMIT progress(QStringLiteral("DNS の SRV レコード（_pop3s._tcp.%1 など）を調べています…").arg(address_.domain));
    const int generation = generation_;
    for (const char* service : {"_pop3s", "_pop3", "_submissions", "_submission"}) {
        const QString name = QStringLiteral("%1._tcp.%2").arg(QLatin1String(service), address_.domain);
        auto* lookup = options_.nameserver.isNull() ? new QDnsLookup(QDnsLookup::SRV, name, this)
                                                    : new QDnsLookup(QDnsLookup::SRV, name, options_.nameserver, this);
        lookup->setObjectName(QLatin1String(service));
        dns_.push_back(lookup);
        connect(lookup, &QDnsLookup::finished, this, [this, generation] {
            if (generation != generation_) return;
            const bool all = std::all_of(dns_.begin(), dns_.end(), [](QDnsLookup* l) { return l->isFinished(); });
            if (all) srvDone();
        });
        lookup->lookup();
    }
    dnsTimer_ = new QTimer(this);
    dnsTimer_->setSingleShot(true);
    connect(dnsTimer_, &QTimer::timeout, this, [this, generation] {
        if (generation != generation_) return;
        for (QDnsLookup* lookup : dns_)
            if (!lookup->isFinished()) lookup->abort();
        srvDone();
    });
    dnsTimer_->start(options_.timeoutMs);
}

void ProviderLookup::srvDone() {
    if (!running_) return;
    if (dnsTimer_) {
        dnsTimer_->stop();
        dnsTimer_->deleteLater();
        dnsTimer_ = nullptr;
    }
    auto recordOf = [this](const char* service) -> std::optional<QDnsServiceRecord> {
        for (QDnsLookup* lookup : dns_)
            if (lookup->objectName() == QLatin1String(service) && lookup->isFinished() &&
                lookup->error() == QDnsLookup::NoError)
                return bestRecord(lookup->serviceRecords());
        return std::nullopt;
    };
    // Implicit TLS first (RFC 8314 section 3.3), then STARTTLS.
    std::optional<QDnsServiceRecord> pop3 = recordOf("_pop3s");
    QString pop3Service = QStringLiteral("_pop3s");
    if (!pop3) {
        pop3 = recordOf("_pop3");
        pop3Service = QStringLiteral("_pop3");
    }
    std::optional<QDnsServiceRecord> smtp = recordOf("_submissions");
    QString smtpService = QStringLiteral("_submissions");
    if (!smtp) {
        smtp = recordOf("_submission");
        smtpService = QStringLiteral("_submission");
    }
    for (QDnsLookup* lookup : dns_) lookup->deleteLater();
    dns_.clear();

    if (!pop3 || !smtp) {
        Q_EMIT progress(pop3 ? QStringLiteral("SRV レコードに送信サーバーがありません。")
                             : QStringLiteral("SRV レコードに POP3 サーバーがありません。"));
        finish(LookupOutcome{std::nullopt, QStringLiteral("%1 の設定が見つかりませんでした。サーバー設定で手で入力してください。")
                                               .arg(address_.domain)});
        return;
    }
    // The records are made into a file of the same kind, so that the one
    // reader checks host names, ports and the rules for TLS.
    const QString file = QStringLiteral(
                             "<clientConfig version=\"1.1\"><emailProvider id=\"%1\"><domain>%1</domain>"
                             "<displayName>%1</displayName>"
                             "<incomingServer type=\"pop3\"><hostname>%2</hostname><port>%3</port>"
                             "<socketType>%4</socketType><username>%EMAILADDRESS%</username>"
                             "<authentication>password-cleartext</authentication></incomingServer>"
                             "<outgoingServer type=\"smtp\"><hostname>%5</hostname><port>%6</port>"
                             "<socketType>%7</socketType><username>%EMAILADDRESS%</username>"
                             "<authentication>password-cleartext</authentication></outgoingServer>"
                             "</emailProvider></clientConfig>")
                             .arg(address_.domain.toHtmlEscaped(), withoutTrailingDot(pop3->target()).toHtmlEscaped())
                             .arg(pop3->port())
                             .arg(socketOfSrv(pop3Service), withoutTrailingDot(smtp->target()).toHtmlEscaped())
                             .arg(smtp->port())
                             .arg(socketOfSrv(smtpService));
    Q_EMIT progress(QStringLiteral("SRV レコードが見つかりました（%1 と %2）。")
                        .arg(withoutTrailingDot(pop3->target()), withoutTrailingDot(smtp->target())));
    if (useSettings(ParseProviderSettings(file.toUtf8()), QStringLiteral("DNS の SRV レコード"),
                    QStringLiteral("SRV レコード")))
        return;
    finish(LookupOutcome{std::nullopt,
                         QStringLiteral("%1 の設定が見つかりませんでした。サーバー設定で手で入力してください。").arg(address_.domain)});
}

}  // namespace lumopet::mail
