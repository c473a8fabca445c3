// The certificate window, offscreen: what it shows, and that only the
// trust button trusts (Enter and Escape do not).

#include "tests/support/qt_printers.h"
#include "ui/certificate_window.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QString kFingerprint = QStringLiteral("0A:") + QStringLiteral("1B:").repeated(30) + QStringLiteral("2C");
const QString kTrusted = QStringLiteral("FF:") + QStringLiteral("EE:").repeated(30) + QStringLiteral("DD");

CertificateDetails details(const QString& trusted = QString()) {
    CertificateDetails d;
    d.hostPort = QStringLiteral("mail.example.jp:995");
    d.reason = QStringLiteral("自己署名の証明書です（信頼できる認証局が発行したものではありません）。");
    d.subject = QStringLiteral("CN = mail.example.jp");
    d.issuer = QStringLiteral("CN = 自前の認証局");
    d.validFrom = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    d.validTo = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    d.sha256 = kFingerprint;
    d.trustedSha256 = trusted;
    return d;
}

QString allText(const QWidget& window) {
    QString text;
    for (const QLabel* label : window.findChildren<QLabel*>()) text += label->text().remove(u'\n') + u'\n';
    return text;
}

TEST(CertificateWindow, ShowsEveryDetailAndTheTrustedFingerprintOnlyWhenItDiffers) {
    for (const QString& trusted : {QString(), kTrusted}) {
        CertificateWindow window(details(trusted), nullptr);
        const QString text = allText(window);
        const CertificateDetails d = details(trusted);
        for (const QString& part : {d.hostPort, d.reason, d.subject, d.issuer, d.sha256,
                                    d.validFrom.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                                    d.validTo.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))})
            EXPECT_TRUE(text.contains(part)) << part.toStdString() << " in\n" << text.toStdString();
        EXPECT_EQ(text.contains(kTrusted), !trusted.isEmpty());
        EXPECT_EQ(text.contains(QStringLiteral("以前に信頼した証明書と違います")), !trusted.isEmpty());
        EXPECT_EQ(window.TrustButton->text(), QStringLiteral("この証明書を信頼する"));
        EXPECT_EQ(window.CancelButton->text(), QStringLiteral("キャンセル"));
    }
}

struct AnswerCase {
    const char* name;
    void (*act)(CertificateWindow& window);
    int result;
};

class CertificateWindowAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(CertificateWindowAnswers, OnlyTheTrustButtonTrusts) {
    CertificateWindow window(details(), nullptr);
    QTimer::singleShot(0, &window, [&window] { GetParam().act(window); });
    EXPECT_EQ(window.exec(), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CertificateWindowAnswers,
    ::testing::Values(
        AnswerCase{"trust", [](CertificateWindow& w) { QTest::mouseClick(w.TrustButton, Qt::LeftButton); }, QDialog::Accepted},
        AnswerCase{"cancel", [](CertificateWindow& w) { QTest::mouseClick(w.CancelButton, Qt::LeftButton); }, QDialog::Rejected},
        AnswerCase{"enter", [](CertificateWindow& w) { QTest::keyClick(&w, Qt::Key_Return); }, QDialog::Rejected},
        AnswerCase{"escape", [](CertificateWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }, QDialog::Rejected}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
