#pragma once
// A send host for tests: writes down what the send showed, and gives a
// fixed clock text.

#include "mail/send_mail.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace lumopet::test {

inline const QString kSendClock = QStringLiteral("2026/12/07  9:05:03");

class RecordingHost : public SendHost {
public:
    struct Shown {
        QString text, title;
    };
    void setStatus(const QString& text) override { statuses.append(text); }
    void showProgress(int number, int count) override { progress.append(QStringLiteral("%1/%2").arg(number).arg(count)); }
    QString clockText() override { return kSendClock; }
    void setBodyText(const QString& body) override { bodies.append(body); }
    void showMessage(const QString& text, const QString& title) override { shown.push_back({text, title}); }
    bool askToTrustCertificate(const CertificateDetails& details) override {
        asked.push_back(details);
        return trust && trust(details);
    }

    QStringList statuses, progress, bodies;
    std::vector<Shown> shown;
    // The certificates shown, and the answer given; none: not trusted.
    std::vector<CertificateDetails> asked;
    std::function<bool(const CertificateDetails&)> trust;
};

}  // namespace lumopet::test
