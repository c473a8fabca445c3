// The address book window, offscreen: registering, the list, deleting with
// either answer, the paste button and file errors.

#include "compose/FriendForm.h"
#include "core/program.h"
#include "store/address_book.h"
#include "store/contact_import.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace lumopet {
namespace {

const QString kNoName = QStringLiteral("氏名（名称）が入力されていません。");
const QString kNoAddress = QStringLiteral("メールアドレスが入力されていません。");
const QString kNoSelection = QStringLiteral("データが選択されていません。");
const QString kQuestion = QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");

class FriendFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        SetMessageAnswerer([this](const MessageRequest& request) {
            messages.push_back(request);
            return request.kind == MessageKind::Question ? answer : MessageAnswer::Ok;
        });
    }
    void TearDown() override { SetMessageAnswerer({}); }

    FriendForm& open() {
        form = std::make_unique<FriendForm>(windows);
        form->Form_Load();
        form->show();
        return *form;
    }

    QByteArray bookBytes() const { return folder.read(QStringLiteral("★MailData/Srndata20.data")); }
    void writeBook(const QByteArray& bytes) const { folder.write(QStringLiteral("★MailData/Srndata20.data"), bytes); }

    // A record of the name with the address "<name>@x.jp", marked or not.
    static QByteArray entry(const QString& name, bool live = true) {
        QByteArray bytes = EncodeAddressRecord(name, name + QStringLiteral("@x.jp"));
        if (!live) bytes[62] = 0;
        return bytes;
    }
    QStringList bookNames() const {
        QStringList names;
        const Result<std::vector<AddressRecord>> records = ReadAddressRecords(book);
        EXPECT_TRUE(records.ok());
        if (records)
            for (const AddressRecord& r : records.value()) names << BareEntryText(r.EntryName);
        return names;
    }
    QStringList rows() const {
        QStringList result;
        for (int i = 0; i < form->List1->count(); ++i) result << form->List1->item(i)->text();
        return result;
    }

    void registerEntry(const QString& name, const QString& address) {
        form->Text2->setText(name);
        form->Text4->setText(address);
        QTest::mouseClick(form->Command4, Qt::LeftButton);
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    QString book = AddressBookPath(program.paths);
    std::unique_ptr<FriendForm> form;
    std::vector<MessageRequest> messages;
    MessageAnswer answer = MessageAnswer::Yes;
};

TEST_F(FriendFormTest, RegisteringNeedsANameFirstThenAnAddress) {
    struct Case {
        const char* fault;
        QString name;
        QString address;
        QString message;
    };
    const Case cases[] = {
        {"BothEmptyAsksForTheName", {}, {}, kNoName},
        {"NameEmpty", {}, QStringLiteral("a@b.jp"), kNoName},
        {"AddressEmpty", QStringLiteral("山田"), {}, kNoAddress},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        messages.clear();
        open();
        registerEntry(c.name, c.address);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Notice);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_EQ(bookBytes(), QByteArray()) << "nothing written";
        EXPECT_EQ(form->Text2->text(), c.name);
        EXPECT_EQ(form->Text4->text(), c.address);
        EXPECT_EQ(form->Label7->text(), QString());
    }
}

TEST_F(FriendFormTest, EachRegisteredEntryIsARowOfAddressAndName) {
    struct Case {
        const char* fault;
        QString name;
        QString address;
        QString row;
    };
    const Case cases[] = {
        {"JapaneseName", QStringLiteral("山田"), QStringLiteral("yamada@example.jp"),
         QStringLiteral("yamada@example.jp") + QString(43, u' ') + QStringLiteral("  山田") + QString(28, u'\u3000')},
        {"BlanksCountAsEntered", QStringLiteral(" "), QStringLiteral(" "),
         QString(62, u' ') + QStringLiteral(" ") + QString(29, u'\u3000') + QStringLiteral(" ")},
        {"SameEntryAgain", QStringLiteral("山田"), QStringLiteral("yamada@example.jp"),
         QStringLiteral("yamada@example.jp") + QString(43, u' ') + QStringLiteral("  山田") + QString(28, u'\u3000')},
    };
    open();
    EXPECT_TRUE(QFileInfo(book).isFile()) << "a missing book is created empty";
    EXPECT_EQ(form->Text3->text(), QStringLiteral("0"));
    QStringList expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        registerEntry(c.name, c.address);
        EXPECT_TRUE(messages.empty());
        expected << c.row;
        EXPECT_EQ(rows(), expected);
        EXPECT_EQ(form->Text3->text(), QString::number(expected.size()));
        EXPECT_EQ(form->Label7->text(), QStringLiteral("　登録が完了しました。"));
        EXPECT_EQ(form->Text2->text(), QString());
        EXPECT_EQ(form->Text4->text(), QString());
        EXPECT_EQ(bookBytes().size(), 124 * expected.size());
    }
}

TEST_F(FriendFormTest, DeleteAsksAndRewritesTheBookWhateverTheAnswer) {
    struct Case {
        const char* fault;
        QByteArray book;
        int row;
        MessageAnswer answer;
        QStringList left;
        QString status;
    };
    const QString one = QStringLiteral("一"), two = QStringLiteral("二"), three = QStringLiteral("三");
    const Case cases[] = {
        {"FirstOfThreeWithYes", entry(one) + entry(two) + entry(three), 0, MessageAnswer::Yes, {two, three},
         QStringLiteral("削除が完了しました")},
        {"NoKeepsTheEntries", entry(one) + entry(two) + entry(three), 1, MessageAnswer::No, {one, two, three},
         QStringLiteral(" ")},
        {"NoStillDropsAMarkedRecord", entry(one) + entry(two, false) + entry(three), 0, MessageAnswer::No,
         {one, three}, QStringLiteral(" ")},
        {"YesDropsTheChosenAndTheMarked", entry(one, false) + entry(two) + entry(three), 2, MessageAnswer::Yes, {two},
         QStringLiteral("削除が完了しました")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        writeBook(c.book);
        messages.clear();
        answer = c.answer;
        open();
        ASSERT_EQ(form->List1->count(), 3) << "marked records are listed until the next delete";
        form->List1->setCurrentRow(c.row);
        QTest::mouseClick(form->Command5, Qt::LeftButton);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Question);
        EXPECT_EQ(messages[0].title, QStringLiteral("確認"));
        EXPECT_EQ(messages[0].text, kQuestion);
        EXPECT_EQ(bookNames(), c.left);
        EXPECT_EQ(bookBytes().size(), 124 * c.left.size());
        EXPECT_EQ(form->List1->count(), c.left.size());
        EXPECT_EQ(form->Text3->text(), QString::number(c.left.size()));
        EXPECT_EQ(form->Label7->text(), c.status);
        EXPECT_FALSE(QFileInfo::exists(AddressBookRewriteCopyPath(program.paths)));
    }
}

TEST_F(FriendFormTest, DeleteWithoutASelectionChangesNothing) {
    const QByteArray bytes = entry(QStringLiteral("一"), false) + entry(QStringLiteral("二"));
    writeBook(bytes);
    open();
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Notice);
    EXPECT_EQ(messages[0].text, kNoSelection);
    EXPECT_EQ(bookBytes(), bytes) << "not even rewritten";
    EXPECT_EQ(form->Label7->text(), QString());
}

TEST_F(FriendFormTest, PasteReplacesTheAddressWithTheClipboardsFirstLine) {
    struct Case {
        const char* fault;
        QString clipboard;
        QString address;
    };
    const Case cases[] = {
        {"PlainAddress", QStringLiteral("a@b.jp"), QStringLiteral("a@b.jp")},
        {"LineBreakAfterIt", QStringLiteral("a@b.jp\r\n"), QStringLiteral("a@b.jp")},
        {"BlankLinesBeforeIt", QStringLiteral("\n\nx@y.jp\nmore"), QStringLiteral("x@y.jp")},
        {"BlanksAreKept", QStringLiteral(" c@d.jp "), QStringLiteral(" c@d.jp ")},
        {"EmptyClipboard", QString(), QString()},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        form->Text4->setText(QStringLiteral("typed@before"));
        QGuiApplication::clipboard()->setText(c.clipboard);
        QTest::mouseClick(form->Command1, Qt::LeftButton);
        EXPECT_EQ(form->Text4->text(), c.address);
    }
}

TEST_F(FriendFormTest, AFileErrorIsShownAndLosesNothing) {
    struct Case {
        const char* fault;
        std::function<void()> spoil;
    };
    const QString elsewhere = folder.path(QStringLiteral("elsewhere"));
    const Case cases[] = {
        {"BookIsAFolder", [&] { ASSERT_TRUE(QDir().mkdir(book)); }},
        {"BookIsALink", [&] {
             folder.write(QStringLiteral("elsewhere"), entry(QStringLiteral("一")));
             ASSERT_TRUE(QFile::link(elsewhere, book));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QDir(folder.path()).removeRecursively();
        ASSERT_TRUE(program.paths.createFolders());
        c.spoil();
        messages.clear();
        open();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Error);
        EXPECT_EQ(messages[0].title, QStringLiteral("エラー"));
        EXPECT_TRUE(messages[0].text.contains(book)) << messages[0].text.toStdString();
        EXPECT_EQ(form->List1->count(), 0);
        EXPECT_EQ(form->Text3->text(), QStringLiteral("0"));

        messages.clear();
        registerEntry(QStringLiteral("山田"), QStringLiteral("y@x.jp"));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].title, QStringLiteral("エラー"));
        EXPECT_EQ(form->Text2->text(), QStringLiteral("山田")) << "kept for another try";
        EXPECT_EQ(form->Text4->text(), QStringLiteral("y@x.jp"));
        EXPECT_NE(form->Label7->text(), QStringLiteral("　登録が完了しました。"));
        if (QFileInfo::exists(elsewhere)) {
            EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), entry(QStringLiteral("一")));
        }
    }
}

// 取込・書出 through the menu, as the user picks the files: a phone's
// Shift_JIS vCard in, the book out in either form and back into an empty
// program folder, and files that are no contacts file refused.
TEST_F(FriendFormTest, ContactsComeInAndGoOutThroughTheMenu) {
    open();
    const QString phone = QStringLiteral(LUMOPET_CONTACT_SAMPLES "/phone_vcard21_sjis.vcf");
    SetOpenFileChooser([&](const OpenFileRequest&) { return phone; });
    for (const char* expected : {"5 件を取り込みました。", "0 件を取り込みました（重複 5 件は飛ばしました）。"}) {
        messages.clear();
        form->ImportAction->trigger();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, QString::fromUtf8(expected));
    }
    ASSERT_EQ(form->List1->count(), 5);
    EXPECT_EQ(form->List1->item(0)->text().trimmed(),
              QStringLiteral("taro.yamada@docomo.ne.jp").leftJustified(60, u' ') + QStringLiteral("  山田 太郎"));
    const QStringList before = rows();

    // Typed without an ending, the file gets the form's; typed with one, it keeps it.
    const struct {
        QAction* FriendForm::*action;
        const char* typed;
        const char* written;
        const char* firstLine;
    } outs[] = {{&FriendForm::ExportVCardAction, "book", "book.vcf", "BEGIN:VCARD\r\n"},
                {&FriendForm::ExportCsvAction, "named.txt", "named.txt", "Name,E-mail 1 - Value\r\n"}};
    for (const auto& out : outs) {
        SCOPED_TRACE(out.written);
        SetSaveFileChooser([&](const SaveFileRequest&) { return folder.path(QString::fromLatin1(out.typed)); });
        ((*form).*out.action)->trigger();
        EXPECT_TRUE(folder.read(QString::fromLatin1(out.written)).startsWith(out.firstLine));
        test::TempFolder other;
        Program fresh{ProgramPaths(other.path())};
        ASSERT_TRUE(fresh.paths.createFolders());
        EXPECT_EQ(ImportContactFile(AddressBookPath(fresh.paths), folder.path(QString::fromLatin1(out.written))).taken, 5);
        FakeWindows freshWindows{fresh};
        FriendForm again(freshWindows);
        again.Form_Load();
        QStringList back;
        for (int i = 0; i < again.List1->count(); ++i) back << again.List1->item(i)->text();
        EXPECT_EQ(back, before);
    }
    SetSaveFileChooser({});

    const QString fifo = folder.path(QStringLiteral("fifo.vcf")), big = folder.path(QStringLiteral("big.vcf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    folder.write(QStringLiteral("big.vcf"), "");
    ASSERT_TRUE(QFile::resize(big, kMaxContactFileBytes + 1));
    folder.write(QStringLiteral("x.csv"), "First,Last\r\na,b\r\n");
    const QByteArray book = bookBytes();
    for (const auto& [file, reason] : {std::pair{folder.path(QStringLiteral("x.csv")), "連絡先を読めません"},
                                       std::pair{fifo, "通常のファイルではありません"}, std::pair{big, "大きすぎる"}}) {
        SCOPED_TRACE(reason);
        SetOpenFileChooser([&](const OpenFileRequest&) { return file; });
        messages.clear();
        form->ImportAction->trigger();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Error);
        EXPECT_TRUE(messages[0].text.contains(QString::fromUtf8(reason))) << messages[0].text.toStdString();
        EXPECT_EQ(bookBytes(), book);
    }
    SetOpenFileChooser({});
}

}  // namespace
}  // namespace lumopet

