// Qt's own texts after the program's start-up translation step, offscreen
// and whatever LANG is: the buttons of a message box and the labels of the
// (non-native) file dialog in Japanese, and the program's own message boxes
// still with their fixed titles and texts.

#include "app/qt_translations.h"
#include "tests/support/qt_printers.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

class QtTranslations : public ::testing::Test {
protected:
    // Once for the program, as main() does before the first window.
    static void SetUpTestSuite() { installed = InstallQtJapaneseTranslation(*qApp); }
    static bool installed;
};
bool QtTranslations::installed = false;

TEST_F(QtTranslations, TheCatalogueOfTheTranslationPackageIsLoaded) {
    EXPECT_TRUE(QFileInfo(QtJapaneseCatalogue()).isFile())
        << QtJapaneseCatalogue().toStdString() << " is missing: qt6-translations-l10n is not installed";
    EXPECT_TRUE(installed);
}

TEST_F(QtTranslations, MessageBoxButtonsAreJapanese) {
    const struct {
        QMessageBox::StandardButton button;
        const char16_t* text;
    } cases[] = {
        {QMessageBox::Yes, u"はい(&Y)"},
        {QMessageBox::No, u"いいえ(&N)"},
        {QMessageBox::Cancel, u"キャンセル"},
        // Japanese Windows and Qt alike keep "OK".
        {QMessageBox::Ok, u"OK"},
    };
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::Ok);
    for (const auto& c : cases) {
        ASSERT_NE(box.button(c.button), nullptr);
        EXPECT_EQ(box.button(c.button)->text(), QString::fromUtf16(c.text)) << int(c.button);
    }
}

TEST_F(QtTranslations, FileDialogLabelsAndButtonsAreJapanese) {
    const struct {
        QFileDialog::AcceptMode mode;
        const char* child;
        const char16_t* text;
    } cases[] = {
        {QFileDialog::AcceptOpen, "lookInLabel", u"アドレス:"},
        {QFileDialog::AcceptOpen, "fileNameLabel", u"ファイル名(&N):"},
        {QFileDialog::AcceptOpen, "fileTypeLabel", u"ファイルの種類:"},
        {QFileDialog::AcceptSave, "fileNameLabel", u"ファイル名(&N):"},
    };
    for (const auto& c : cases) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(c.mode);
        const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(c.child));
        ASSERT_NE(label, nullptr) << c.child;
        EXPECT_EQ(label->text(), QString::fromUtf16(c.text)) << c.child;
    }
    const struct {
        QFileDialog::AcceptMode mode;
        const char16_t* accept;
    } buttons[] = {
        {QFileDialog::AcceptOpen, u"開く(&O)"},
        {QFileDialog::AcceptSave, u"保存(&S)"},
    };
    for (const auto& b : buttons) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(b.mode);
        const auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_NE(box, nullptr);
        QStringList texts;
        for (const QAbstractButton* button : box->buttons()) texts << button->text();
        EXPECT_TRUE(texts.contains(QString::fromUtf16(b.accept))) << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("キャンセル"))) << texts.join(u'|').toStdString();
    }
}

// The real dialog of the program's helper, answered by a click on the
// button it shows.
struct Shown {
    QString title, text;
    QStringList buttons;
};

Shown showAndClick(const MessageRequest& request, QMessageBox::StandardButton click, MessageAnswer& answer) {
    Shown shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown.title = box->windowTitle();
        shown.text = box->text();
        for (const QAbstractButton* button : box->buttons()) shown.buttons << button->text();
        if (QAbstractButton* button = box->button(click)) button->click();
        else box->reject();
    });
    answer = ShowMessage(nullptr, request);
    return shown;
}

TEST_F(QtTranslations, TheProgramsMessageBoxesKeepTheirTextsWithJapaneseButtons) {
    SetMessageAnswerer({});
    const struct {
        MessageRequest request;
        QMessageBox::StandardButton click;
        QString title;
        QStringList buttons;
        MessageAnswer answer;
    } cases[] = {
        {{MessageKind::Question, QStringLiteral("１件削除しますか？"), QStringLiteral("確認")},
         QMessageBox::Yes, QStringLiteral("確認"), {QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")},
         MessageAnswer::Yes},
        {{MessageKind::Question, QStringLiteral("１件削除しますか？"), QStringLiteral("確認")},
         QMessageBox::No, QStringLiteral("確認"), {QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")},
         MessageAnswer::No},
        {{MessageKind::RetryWarning, QStringLiteral("もう一度試しますか？"), QString()},
         QMessageBox::Cancel, QStringLiteral("ルモペット"), {QStringLiteral("OK"), QStringLiteral("キャンセル")},
         MessageAnswer::Cancel},
        {{MessageKind::Error, QStringLiteral("データフォルダを作れません。"), QStringLiteral("エラー")},
         QMessageBox::Ok, QStringLiteral("エラー"), {QStringLiteral("OK")}, MessageAnswer::Ok},
    };
    for (const auto& c : cases) {
        MessageAnswer answer = MessageAnswer::Ok;
        const Shown shown = showAndClick(c.request, c.click, answer);
        EXPECT_EQ(shown.title, c.title);
        EXPECT_EQ(shown.text, c.request.text);
        QStringList buttons = shown.buttons, expected = c.buttons;
        buttons.sort();
        expected.sort();
        EXPECT_EQ(buttons, expected);
        EXPECT_EQ(answer, c.answer) << c.request.text.toStdString();
    }
}

}  // namespace
}  // namespace lumopet
