#include "compose/ComposeOptionsForm.h"
#include "compose/SignatureForm.h"
#include "core/settings_files/compose_options.h"
#include "tests/support/qt_printers.h"
#include "tests/support/settings_window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace lumopet {
namespace {

const QString kOptionsFile = QStringLiteral("★MailData/lumopet.ini");
// Another section and a switch of [Compose] that the signature window
// does not show, both of which a save must keep.
const QByteArray kOtherLines = "[Receive]\r\nTray=1\r\n[Compose]\r\nConfirmRecipients=1\r\nSignature3=old\r\n";

// Japanese comes in as an input method commits it.
void typeJapanese(QWidget* box, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(box, &commit);
}

class SignatureFormsTest : public test::SettingsWindowFixture {
protected:
    template <class Form>
    std::unique_ptr<Form> open() {
        auto form = std::make_unique<Form>(windows);
        form->Form_Load();
        form->show();
        return form;
    }
    ComposeOptions saved() {
        const Result<ComposeOptions> read = ReadComposeOptions(program.paths.path(files::ProgramOptions));
        EXPECT_TRUE(read.ok());
        return read ? read.value() : ComposeOptions{};
    }
};

TEST_F(SignatureFormsTest, TheSignatureWindowSavesWhatIsTyped) {
    folder.write(kOptionsFile, kOtherLines);
    auto form = open<SignatureForm>();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("署名の編集"));
    EXPECT_EQ(form->SignatureText[2]->toPlainText(), QStringLiteral("old"));

    form->SignatureTabs->setCurrentIndex(1);
    typeJapanese(form->SignatureText[1], QStringLiteral("山田 太郎"));
    QTest::keyClick(form->SignatureText[1], Qt::Key_Return);
    QTest::keyClicks(form->SignatureText[1], QStringLiteral("C:\\mail"));
    form->DefaultCombo->setCurrentIndex(2);
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);

    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(form->isVisible());
    ComposeOptions expected;
    expected.ConfirmRecipients = true;
    expected.Signatures = {QString(), QStringLiteral("山田 太郎\nC:\\mail"), QStringLiteral("old")};
    expected.DefaultSignature = 2;
    EXPECT_EQ(saved(), expected);
    EXPECT_TRUE(folder.read(kOptionsFile).startsWith("[Receive]\r\nTray=1\r\n"));
}

TEST_F(SignatureFormsTest, TheOptionsWindowSavesTheTicksAndKeepsTheSignatures) {
    folder.write(kOptionsFile, kOtherLines);
    auto form = open<ComposeOptionsForm>();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("送信の設定"));
    EXPECT_TRUE(form->ConfirmCheck->isChecked());
    for (QCheckBox* box : {form->ConfirmCheck, form->QuoteCheck, form->WrapCheck})
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);

    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(form->isVisible());
    ComposeOptions expected;
    expected.QuoteOnReply = true;
    expected.WrapLines = true;
    expected.Signatures[2] = QStringLiteral("old");
    EXPECT_EQ(saved(), expected);
}

// A file that cannot be read (a folder in its place): said on opening and
// on saving, and the window stays with what was typed, to try again.
TEST_F(SignatureFormsTest, AFailedSaveIsShownAndNothingTypedIsLost) {
    ASSERT_TRUE(QDir().mkpath(folder.path(kOptionsFile)));
    auto signatures = open<SignatureForm>();
    auto options = open<ComposeOptionsForm>();
    ASSERT_EQ(messages.size(), 2u);
    messages.clear();

    typeJapanese(signatures->SignatureText[0], QStringLiteral("署名です"));
    QTest::mouseClick(signatures->SaveCommand, Qt::LeftButton);
    QTest::mouseClick(options->KeepRepliesCheck, Qt::LeftButton, {}, QPoint(8, options->KeepRepliesCheck->height() / 2));
    QTest::mouseClick(options->OkCommand, Qt::LeftButton);

    ASSERT_EQ(messages.size(), 2u);
    for (const MessageRequest& message : messages) {
        EXPECT_EQ(message.kind, MessageKind::Error);
        EXPECT_TRUE(message.text.contains(program.paths.path(files::ProgramOptions))) << message.text.toStdString();
    }
    EXPECT_TRUE(signatures->isVisible());
    EXPECT_EQ(signatures->SignatureText[0]->toPlainText(), QStringLiteral("署名です"));
    EXPECT_TRUE(options->isVisible());
    EXPECT_TRUE(options->KeepRepliesCheck->isChecked());
    EXPECT_TRUE(QFileInfo(folder.path(kOptionsFile)).isDir());
}

TEST_F(SignatureFormsTest, ASignatureTooLongIsNotCutWithoutAWord) {
    auto form = open<SignatureForm>();
    const QString tooLong = QString(kMaxSignatureLength + 1, u'x');
    form->SignatureText[2]->setPlainText(tooLong);
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("署名3"))) << messages[0].text.toStdString();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->SignatureTabs->currentIndex(), 2);
    EXPECT_EQ(form->SignatureText[2]->toPlainText(), tooLong);
    EXPECT_FALSE(QFileInfo::exists(folder.path(kOptionsFile)));
}

}  // namespace
}  // namespace lumopet
