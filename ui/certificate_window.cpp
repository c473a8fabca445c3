#include "ui/certificate_window.h"

#include "ui/window_helpers.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumopet {
namespace {

CertificateAnswerer& answerer() {
    static CertificateAnswerer instance;
    return instance;
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) : QStringLiteral("不明");
}

// 32 bytes in two lines of 16: the whole of it fits the window.
QString fingerprintLines(const QString& fingerprint) {
    const qsizetype half = 16 * 3;  // "AB:" a byte
    return fingerprint.size() > half ? fingerprint.left(half) + u'\n' + fingerprint.mid(half) : fingerprint;
}

QLabel* valueLabel(const QString& text, QWidget* parent, bool fixedPitch = false) {
    auto* label = new QLabel(text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(!fixedPitch);
    label->setFont(fixedPitch ? JapaneseFixedFont(10) : JapaneseFont(10));
    return label;
}

}  // namespace

void SetCertificateAnswerer(CertificateAnswerer newAnswerer) { answerer() = std::move(newAnswerer); }

CertificateAnswer AskToTrustCertificate(QWidget* parent, const CertificateDetails& details) {
    if (answerer()) return answerer()(details);
    CertificateWindow window(details, parent);
    return window.exec() == QDialog::Accepted ? CertificateAnswer::Trust : CertificateAnswer::Cancel;
}

CertificateWindow::CertificateWindow(const CertificateDetails& details, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("証明書の確認"));
    setFont(JapaneseFont(10));
    auto* layout = new QVBoxLayout(this);

    const bool changed = !details.trustedSha256.isEmpty();
    auto* heading = new QLabel(
        changed ? QStringLiteral("サーバー %1 の証明書が、以前に信頼した証明書と違います。\n"
                                 "サーバーの証明書が更新されたのか、別のサーバーに接続しているのかを確かめてください。")
                      .arg(details.hostPort)
                : QStringLiteral("サーバー %1 の証明書を確認できませんでした。").arg(details.hostPort),
        this);
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("サーバー:"), valueLabel(details.hostPort, this));
    form->addRow(QStringLiteral("理由:"), valueLabel(details.reason, this));
    form->addRow(QStringLiteral("発行先:"), valueLabel(details.subject, this));
    form->addRow(QStringLiteral("発行者:"), valueLabel(details.issuer, this));
    form->addRow(QStringLiteral("有効期間:"),
                 valueLabel(QStringLiteral("%1 から %2 まで").arg(timeText(details.validFrom), timeText(details.validTo)), this));
    form->addRow(QStringLiteral("SHA-256:"), valueLabel(fingerprintLines(details.sha256), this, true));
    if (changed)
        form->addRow(QStringLiteral("信頼済みの証明書:"), valueLabel(fingerprintLines(details.trustedSha256), this, true));
    layout->addLayout(form);

    auto* advice = new QLabel(QStringLiteral("信頼すると、このサーバーではこれからこの証明書を受け入れます。"
                                             "フィンガープリント（SHA-256）が正しいことをサーバーの管理者に確かめてから信頼してください。"),
                              this);
    advice->setWordWrap(true);
    layout->addWidget(advice);

    auto* buttons = new QDialogButtonBox(this);
    TrustButton = buttons->addButton(QStringLiteral("この証明書を信頼する"), QDialogButtonBox::AcceptRole);
    CancelButton = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    // Enter must never trust a certificate by accident.
    TrustButton->setAutoDefault(false);
    CancelButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(560);
}

}  // namespace lumopet
