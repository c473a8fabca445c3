#pragma once
// The window that shows a server certificate which could not be verified
// and asks whether to trust it: host:port, the reason, subject, issuer,
// validity and SHA-256 fingerprint, with "この証明書を信頼する" and
// "キャンセル". Tests put an answerer in place of the window and look at
// what was shown.

#include "core/certificate_details.h"

#include <QDialog>

#include <functional>

class QPushButton;

namespace lumopet {

enum class CertificateAnswer { Trust, Cancel };

using CertificateAnswerer = std::function<CertificateAnswer(const CertificateDetails&)>;

// An empty answerer brings back the real window.
void SetCertificateAnswerer(CertificateAnswerer answerer);

// Shows the window, modal, and returns the answer; closing it is Cancel.
CertificateAnswer AskToTrustCertificate(QWidget* parent, const CertificateDetails& details);

class CertificateWindow : public QDialog {
public:
    CertificateWindow(const CertificateDetails& details, QWidget* parent);

    // Accepts the dialog (trust) or rejects it (cancel, the default button).
    QPushButton* TrustButton;
    QPushButton* CancelButton;
};

}  // namespace lumopet
