// The reply window, offscreen: filling it from a message, its layout, the
// attachments, the paste into the body, stepping back to the main window,
// and a send over a scripted transport.

#include "compose/BackForm.h"
#include "store/address_book.h"

#include "core/program.h"
#include "core/settings_files/compose_options.h"
#include "core/settings_files/receive_options.h"
#include "core/text_helpers.h"
#include "core/twips.h"
#include "mail/decoded_message.h"
#include "mail/mail_library.h"
#include "mail/send_stop.h"
#include "mail/server_refusal.h"
#include "store/history_file.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/completion_in_boxes.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;
using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

auto CaseName = [](const auto& info) { return std::string(info.param.name); };
template <class Case>
    requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class BackFormTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        program.values.SmtpServer = u"smtp.example.jp"_s;
        program.values.MailAddress = u"me@example.jp"_s;
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            if (onBox) onBox();
            return MessageAnswer::Ok;
        });
        SetOpenFileChooser([this](const OpenFileRequest&) {
            ++dialogs;
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetOpenFileChooser({});
        SetMailTransport(nullptr);
    }

    BackForm& loaded() {
        form = std::make_unique<BackForm>(windows);
        form->Form_Load();
        return *form;
    }

    // Waits for the send started by a click on "送信".
    void send(BackForm& f) {
        QSignalSpy finished(&f, &BackForm::sendFinished);
        f.Command2->click();
        ASSERT_TRUE(finished.wait(10000));
    }

    int px(int twips) const { return TwipsToPixels(twips, form->logicalDpiY()); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    std::unique_ptr<BackForm> form;
    QList<MessageRequest> boxes;
    std::function<void()> onBox;
    QStringList answers;  // what the file dialog gives, one per opening
    int dialogs = 0;
    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
};

// --- Filled from the message answered.

struct FillCase {
    const char* name;
    ReplySource reply;
    QString to, subject, body;
};

class FillReply : public BackFormTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(FillReply, TakesSenderSubjectAndTextWithoutTheBlanksAround) {
    BackForm& f = loaded();
    f.FillReply(GetParam().reply);
    EXPECT_EQ(f.ToText->text(), GetParam().to);
    EXPECT_EQ(f.SubjectText->text(), GetParam().subject);
    EXPECT_EQ(f.BodyText->toPlainText(), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FillReply,
    ::testing::Values(
        FillCase{"blanks_around", {u"  会議の件  "_s, u" taro@example.jp "_s, u"  明日です  "_s},
                 u"taro@example.jp"_s, u"Re:  会議の件"_s, u"明日です"_s},
        FillCase{"nothing_to_trim", {u"Hi"_s, u"山田 <taro@example.jp>"_s, u"本文"_s},
                 u"山田 <taro@example.jp>"_s, u"Re:  Hi"_s, u"本文"_s},
        FillCase{"empty_subject", {QString(), u"a@example.jp"_s, QString()}, u"a@example.jp"_s, u"Re:  "_s, QString()},
        // Only U+0020 goes: a full-width blank is part of the text.
        FillCase{"full_width_blanks_stay", {u"　件名　"_s, u"a@example.jp"_s, u"　本文"_s}, u"a@example.jp"_s,
                 u"Re:  　件名　"_s, u"　本文"_s},
        FillCase{"body_lines_stay_apart", {u"s"_s, u"a@example.jp"_s, u" 一行目\r\n二行目\r\n "_s}, u"a@example.jp"_s,
                 u"Re:  s"_s, u"一行目\n二行目\n"_s}),
    CaseName);

// --- What a draft keeps.

TEST_F(BackFormTest, EachEditTellsTheDraftKeeper) {
    BackForm& f = loaded();
    QSignalSpy changed(&f, &BackForm::contentChanged);
    for (QWidget* box : std::initializer_list<QWidget*>{f.ToText, f.CcText, f.BccText, f.SubjectText, f.BodyText}) {
        changed.clear();
        QTest::keyClicks(box, u"a"_s);
        EXPECT_GE(changed.count(), 1) << box->y();
    }
    changed.clear();
    answers = {folder.path(u"a.txt"_s)};
    f.AttachCommand_Click();
    EXPECT_GE(changed.count(), 1) << "an attachment";
}

TEST_F(BackFormTest, ADraftComesBackWithWhatItAnswers) {
    ComposeDraft kept;
    kept.window = DraftWindow::Reply;
    kept.to = u"taro@example.jp"_s;
    kept.subject = u"Re:  会議"_s;
    kept.body = u"了解\n伺います"_s;
    kept.attachments = {folder.path(u"a.txt"_s)};
    kept.inReplyTo = u"<1@example.jp>"_s;
    kept.references = u"<0@example.jp> <1@example.jp>"_s;
    kept.replyCharset = "iso-2022-jp";
    kept.answeredPath = folder.path(u"cur/1:2,S"_s);
    BackForm& f = loaded();
    f.loadDraft(kept);
    EXPECT_EQ(f.currentDraft(), kept);
    f.FillReply({u"別件"_s, u"hanako@example.jp"_s, u"本文"_s});
    EXPECT_TRUE(f.currentDraft().inReplyTo.isEmpty()) << "a new answer answers another message";
    EXPECT_TRUE(f.currentDraft().answeredPath.isEmpty());
}

TEST_F(BackFormTest, ANewAnswerLeavesTheReplyBeingWrittenAsADraft) {
    BackForm& f = loaded();
    f.FillReply({u"一通目"_s, u"one@example.jp"_s, u"本文"_s});
    f.BodyText->insertPlainText(u"書きかけ"_s);
    f.FillReply({u"二通目"_s, u"two@example.jp"_s, u"本文"_s});
    f.FillReply({u"三通目"_s, u"three@example.jp"_s, u"本文"_s});  // the second was not touched
    const auto kept = ReadDrafts(DraftsMaildirPath(program.paths));
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept.value().drafts.size(), 1u);
    EXPECT_EQ(kept.value().drafts[0].draft.subject, u"Re:  一通目"_s);
    EXPECT_TRUE(kept.value().drafts[0].draft.body.contains(u"書きかけ"_s));
    EXPECT_EQ(f.SubjectText->text(), u"Re:  三通目"_s);
}

TEST_F(BackFormTest, CompletesInEachRecipientBox) {
    QFile book(AddressBookPath(program.paths));
    ASSERT_TRUE(book.open(QIODevice::WriteOnly));
    book.write(EncodeAddressRecord(u"アリス"_s, u"alice@example.jp"_s) + EncodeAddressRecord(u"ボブ"_s, u"bob@example.jp"_s));
    book.close();
    BackForm& f = loaded();
    test::ExpectCompletionInEachBox(f, *f.completer(), {f.ToText, f.CcText, f.BccText}, u"ali"_s, u"alice@example.jp"_s);
}

// --- Layout.

struct LayoutCase {
    const char* name;
    int width, height;  // outer, twips
    ReplyLayout expected;
};

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, FollowsTheWindowAndKeepsTheBodyInside) {
    const ReplyLayout got = LayOutReply(GetParam().width, GetParam().height);
    const ReplyLayout& want = GetParam().expected;
    EXPECT_EQ(got.BodyWidth, want.BodyWidth);
    EXPECT_EQ(got.BodyHeight, want.BodyHeight);
    EXPECT_EQ(got.ToWidth, want.ToWidth);
    EXPECT_EQ(got.SubjectWidth, want.SubjectWidth);
    EXPECT_EQ(got.AttachWidth, want.AttachWidth);
    EXPECT_EQ(got.AttachCommandLeft, want.AttachCommandLeft);
    EXPECT_EQ(got.Command9Left, want.Command9Left);
    EXPECT_EQ(got.Command10Left, want.Command10Left);
    EXPECT_EQ(got.SideLeft, want.SideLeft);
    EXPECT_EQ(got.SideWidth, want.SideWidth);
}

// Body width 99 % of the outer width, height 74 % of the outer height less
// the CC and BCC rows (720), each no more than the client area leaves; the
// boxes 70 % and 40 %; the buttons 1240, 2060 and 2940 right of the
// attachment box's width; the column beside the recipient boxes 60 right of
// them, up to 60 short of the window's edge, at most 1215 wide.
INSTANTIATE_TEST_SUITE_P(
    Sizes, Layout,
    ::testing::Values(
        LayoutCase{"ten_thousand_wide", 10000, 9165, {9880, 6249, 7000, 7000, 4000, 5240, 6060, 6940, 8140, 1215}},
        LayoutCase{"as_opened", 7830, 9165, {7710, 6249, 5481, 5481, 3132, 4372, 5192, 6072, 6621, 1029}},
        LayoutCase{"large", 20000, 12720, {19800, 8880, 14000, 14000, 8000, 9240, 10060, 10940, 15140, 1215}},
        // The client area stops the body: 4720 - 480 - 2400.
        LayoutCase{"low", 7830, 4720, {7710, 1840, 5481, 5481, 3132, 4372, 5192, 6072, 6621, 1029}},
        // The narrowest window leaves the column 637.
        LayoutCase{"narrowest", 6525, 9165, {6405, 6249, 4568, 4568, 2610, 3850, 4670, 5550, 5708, 637}}),
    CaseName);

struct ResizeCase {
    const char* name;
    int width;  // outer, twips
    int toWidth, attachWidth, attachCommandLeft;
};

class ResizedWindow : public BackFormTest, public ::testing::WithParamInterface<ResizeCase> {};

TEST_P(ResizedWindow, PutsTheControlsWhereTheLayoutSays) {
    BackForm& f = loaded();
    f.show();
    f.resize(px(GetParam().width - ReplyOuterWidth(0)), px(kReplyClientHeight));
    QApplication::processEvents();
    // A pixel is 15 twips: the window's width in twips is only that exact.
    EXPECT_NEAR(f.ToText->width(), px(GetParam().toWidth), 1);
    EXPECT_NEAR(f.CcText->width(), px(GetParam().toWidth), 1);
    EXPECT_NEAR(f.BccText->width(), px(GetParam().toWidth), 1);
    EXPECT_NEAR(f.SubjectText->width(), px(GetParam().toWidth), 1);
    EXPECT_NEAR(f.AttachText->width(), px(GetParam().attachWidth), 1);
    EXPECT_NEAR(f.AttachCommand->x(), px(GetParam().attachCommandLeft), 1);
    EXPECT_LE(f.BodyText->geometry().right(), f.rect().right()) << "the body stays inside the window";
    EXPECT_LE(f.Command10->geometry().right(), f.rect().right());
}

INSTANTIATE_TEST_SUITE_P(Widths, ResizedWindow,
                         ::testing::Values(ResizeCase{"ten_thousand_wide", 10000, 7000, 4000, 5240},
                                           ResizeCase{"as_opened", ReplyOuterWidth(kReplyClientWidth), 5481, 3132, 4372}),
                         CaseName);

// The CC and BCC rows come between 宛先 and 題名; what is above them keeps
// its place, what is below moves down by both rows (720 twips); the window
// opens taller by both, the body as high as before.
TEST_F(BackFormTest, RowsStandWhereTheWindowPutsThem) {
    BackForm& f = loaded();
    f.show();
    QApplication::processEvents();
    const std::pair<QWidget*, int> tops[] = {
        {f.Command2, 120},      {f.Picture2[0], 600},    {f.ToText, 600},       {f.CopyStrips[0], 960},
        {f.CcText, 960},        {f.CopyStrips[1], 1320}, {f.BccText, 1320},     {f.Picture2[1], 1680},
        {f.SubjectText, 1680},  {f.Picture2[2], 2040},   {f.AttachText, 2040},  {f.Command10, 2040},
        {f.BodyText, 2400}};
    for (const auto& [control, top] : tops) {
        EXPECT_EQ(control->y(), px(top)) << top;
        EXPECT_TRUE(control->isVisible()) << top;
    }
    EXPECT_EQ(f.height(), px(7965 + 720));
    EXPECT_NEAR(f.BodyText->height(), px(6249), 1) << "the body lost nothing to the rows";
}

// --- Attachments.

using Click = void (BackForm::*)();

struct AttachCase {
    const char* name;
    std::vector<Click> clicks;
    QStringList answers;  // file names the dialog gives, "" for cancel
    QStringList attached; // file names in AttachText, in order
    int dialogs;
    bool listShown;
    bool attachEnabled, addEnabled, removeEnabled;
};

class Attachments : public BackFormTest, public ::testing::WithParamInterface<AttachCase> {};

TEST_P(Attachments, FollowTheButtons) {
    const AttachCase& c = GetParam();
    for (const QString& name : c.answers) answers.append(name.isEmpty() ? QString() : folder.path(name));
    BackForm& f = loaded();
    f.show();
    EXPECT_TRUE(f.AttachCommand->isEnabled() && f.Command9->isEnabled() && f.Command10->isEnabled())
        << "all three start enabled";
    for (Click click : c.clicks) (f.*click)();

    QStringList paths;
    for (const QString& name : c.attached) paths.append(folder.path(name));
    EXPECT_EQ(f.AttachText->text(), paths.join(u','));
    ASSERT_EQ(f.List2->count(), paths.size());
    for (int i = 0; i < paths.size(); ++i) EXPECT_EQ(f.List2->item(i)->text(), paths[i]);
    EXPECT_EQ(dialogs, c.dialogs);
    EXPECT_EQ(f.List2->isVisible(), c.listShown);
    EXPECT_EQ(f.AttachCommand->isEnabled(), c.attachEnabled);
    EXPECT_EQ(f.Command9->isEnabled(), c.addEnabled);
    EXPECT_EQ(f.Command10->isEnabled(), c.removeEnabled);
}

const Click kAttach = &BackForm::AttachCommand_Click;
const Click kAdd = &BackForm::Command9_Click;
const Click kRemove = &BackForm::Command10_Click;

INSTANTIATE_TEST_SUITE_P(
    Clicks, Attachments,
    ::testing::Values(
        AttachCase{"first_keeps_the_list_hidden", {kAttach}, {u"a.txt"_s}, {u"a.txt"_s}, 1, false, false, true, true},
        AttachCase{"two_files", {kAttach, kAdd}, {u"a.txt"_s, u"b.txt"_s}, {u"a.txt"_s, u"b.txt"_s}, 2, true, false, true, true},
        AttachCase{"add_with_nothing_attached_only_shows_the_list", {kAdd}, {u"a.txt"_s}, {}, 0, true, true, true, true},
        AttachCase{"cancelled_dialog_adds_nothing", {kAttach, kAdd}, {QString()}, {}, 1, true, false, true, true},
        AttachCase{"cancelled_second_file", {kAttach, kAdd}, {u"a.txt"_s, QString()}, {u"a.txt"_s}, 2, true, false, true, true},
        AttachCase{"remove_leaves_only_attach", {kAttach, kAdd, kRemove}, {u"a.txt"_s, u"b.txt"_s}, {}, 2, false, true, false, false},
        // After a removal, a new file can be removed again.
        AttachCase{"attach_after_remove", {kAttach, kRemove, kAttach}, {u"a.txt"_s, u"c.txt"_s}, {u"c.txt"_s}, 2, false, false, true, true},
        // The box shows "…/a,b.txt,…/c.txt" as ever; the list holds two files.
        AttachCase{"comma_in_a_name", {kAttach, kAdd}, {u"a,b.txt"_s, u"c.txt"_s}, {u"a,b.txt"_s, u"c.txt"_s}, 2, true, false, true, true}),
    CaseName);

struct AttachedCase {
    const char* name;
    QString box;
    QStringList chosen;
    QStringList attached;
};

class Attached : public ::testing::TestWithParam<AttachedCase> {};

TEST_P(Attached, AreTheChosenFilesUnlessTheBoxWasEdited) {
    EXPECT_EQ(AttachedFiles(GetParam().box, GetParam().chosen), GetParam().attached);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, Attached,
    ::testing::Values(
        AttachedCase{"chosen_with_a_comma", u"/d/a,b.txt,/d/c.txt"_s, {u"/d/a,b.txt"_s, u"/d/c.txt"_s},
                     {u"/d/a,b.txt"_s, u"/d/c.txt"_s}},
        AttachedCase{"typed_into_the_box", u" /d/a.txt , /d/c.txt"_s, {}, {u"/d/a.txt"_s, u"/d/c.txt"_s}},
        AttachedCase{"one_taken_out_of_the_box", u"/d/c.txt"_s, {u"/d/a.txt"_s, u"/d/c.txt"_s}, {u"/d/c.txt"_s}},
        AttachedCase{"box_emptied", QString(), {u"/d/a.txt"_s}, {}}),
    CaseName);

// --- Paste into the body.

struct PasteCase {
    const char* name;
    QString clipboard, recordBody;
    QString combined;       // what goes into the box first
    QString body;           // in the box at the end
    QString clipboardAfter; // on the clipboard at the end
};

class Paste : public BackFormTest, public ::testing::WithParamInterface<PasteCase> {};

TEST_P(Paste, PutsTheClipboardThenTheReceivedBodyAndLeavesBothOnTheClipboard) {
    const PasteCase& c = GetParam();
    EXPECT_EQ(PastedReplyBody(c.clipboard, c.recordBody), c.combined);
    program.viewer.receivedRecordBody = c.recordBody;
    QGuiApplication::clipboard()->setText(c.clipboard);
    BackForm& f = loaded();
    f.BodyText->setPlainText(u"書きかけ"_s);
    f.Command4_Click();
    EXPECT_EQ(f.BodyText->toPlainText(), c.body);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), c.clipboardAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Paste,
    ::testing::Values(
        // The lone CR ends a line like the three CR LF before it.
        PasteCase{"one_word_each", u"了解"_s, u"会議"_s, u"了解\r\n\r\n\r\n\r会議"_s, u"了解\n\n\n\n会議"_s, u"了解\n\n\n\n会議"_s},
        PasteCase{"received_body_without_its_blanks", u"了解"_s, u"  会議  "_s, u"了解\r\n\r\n\r\n\r会議"_s,
                  u"了解\n\n\n\n会議"_s, u"了解\n\n\n\n会議"_s},
        PasteCase{"blanks_of_the_clipboard_go_from_the_box_only", u"  了解"_s, u"会議 "_s, u"  了解\r\n\r\n\r\n\r会議"_s,
                  u"了解\n\n\n\n会議"_s, u"  了解\n\n\n\n会議"_s},
        PasteCase{"empty_clipboard", QString(), u"会議"_s, u"\r\n\r\n\r\n\r会議"_s, u"\n\n\n\n会議"_s, u"\n\n\n\n会議"_s},
        PasteCase{"multi_line_received_body", u"了解"_s, u"一\r\n二"_s, u"了解\r\n\r\n\r\n\r一\r\n二"_s,
                  u"了解\n\n\n\n一\n二"_s, u"了解\n\n\n\n一\n二"_s}),
    CaseName);

// --- Stepping back, and coming again.

TEST_F(BackFormTest, CancelShowsTheMainWindowInItsPlaceAndARefillKeepsTheAttachments) {
    QWidget mainWindow;
    mainWindow.resize(300, 200);
    windows.mainWindow = &mainWindow;
    answers = {folder.path(u"a.txt"_s), folder.path(u"b.txt"_s)};
    BackForm& f = loaded();
    f.FillReply({u"一通目"_s, u"one@example.jp"_s, u"一通目の本文"_s});
    f.move(140, 90);
    f.show();
    f.AttachCommand_Click();
    f.Command9_Click();
    const QPoint place = f.pos();

    f.Command3->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.pos(), place);

    f.FillReply({u"二通目"_s, u"two@example.jp"_s, u"二通目の本文"_s});
    EXPECT_EQ(f.ToText->text(), u"two@example.jp"_s);
    EXPECT_EQ(f.SubjectText->text(), u"Re:  二通目"_s);
    EXPECT_EQ(f.BodyText->toPlainText(), u"二通目の本文"_s);
    EXPECT_EQ(f.AttachText->text(), folder.path(u"a.txt"_s) + u',' + folder.path(u"b.txt"_s));
    EXPECT_EQ(f.List2->count(), 2);
    EXPECT_FALSE(f.AttachCommand->isEnabled());
}

// --- Sending.

struct SendCase {
    const char* name;
    QString to;
    QString sendError;     // non-empty: the server refuses with this reply
    QString attach;        // a file chosen in the dialog; empty for none
    bool delivered;
    QString boxTitle;      // of the one box shown; "-" for none
    QString status;        // the status line afterwards, when the window stays
};

class Send : public BackFormTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(Send, GoesOutAsTypedAndClosesOnlyWhenItWentOut) {
    const SendCase& c = GetParam();
    box->sendError = c.sendError;
    if (!c.attach.isEmpty()) {
        folder.write(c.attach, "中身");
        answers = {folder.path(c.attach)};
    }
    BackForm& f = loaded();
    f.FillReply({u" 会議 "_s, c.to, u"元の本文"_s});
    f.BodyText->setPlainText(u"了解しました。\n当日伺います。"_s);
    if (!c.attach.isEmpty()) f.AttachCommand_Click();
    f.show();
    f.DraftCommand->click();
    const QString drafts = DraftsMaildirPath(program.paths);
    ASSERT_EQ(ReadDrafts(drafts).value().drafts.size(), 1u) << "下書き保存";
    bool heldWhileShown = false;
    onBox = [&] { heldWhileShown = !f.Command2->isEnabled() && !f.BodyText->isEnabled(); };

    send(f);
    // Only a reply that went out takes its draft with it.
    EXPECT_EQ(ReadDrafts(drafts).value().drafts.size(), c.delivered ? 0u : 1u);

    ASSERT_EQ(box->deliveries.size(), c.delivered ? 1u : 0u);
    if (c.delivered) {
        const mail::DecodedMessage sent = mail::DecodeMessage(box->deliveries[0].message);
        EXPECT_EQ(box->deliveries[0].to, u"taro@example.jp"_s);
        EXPECT_EQ(box->deliveries[0].from, u"me@example.jp"_s);
        EXPECT_EQ(sent.subject, u"Re:  会議"_s);
        EXPECT_EQ(sent.text, u"了解しました。\r\n当日伺います。\r\n"_s) << "no tag, no fortune";
        ASSERT_EQ(sent.attachments.size(), c.attach.isEmpty() ? 0u : 1u) << "one file, whatever its name";
        if (!c.attach.isEmpty()) {
            EXPECT_EQ(sent.attachments[0].fileName, c.attach);
            EXPECT_EQ(sent.attachments[0].content, "中身");
        }
    }
    EXPECT_TRUE(ReadAll(HistoryPath(program.paths, History::Sent)).empty()) << "a reply is not kept";
    EXPECT_EQ(windows.calls, (Calls{"Hold", "Release"}));

    if (c.boxTitle == u"-"_s) {
        EXPECT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
        EXPECT_FALSE(f.isVisible()) << "a reply that went out closes the window";
        return;
    }
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, c.boxTitle);
    EXPECT_TRUE(heldWhileShown) << "the window takes no input while the send runs";
    if (!c.sendError.isEmpty()) {
        EXPECT_EQ(boxes[0].text, c.sendError);
    }
    EXPECT_TRUE(f.isVisible()) << "what was typed stays";
    EXPECT_EQ(f.ToText->text(), c.to.trimmed());
    EXPECT_EQ(f.SubjectText->text(), u"Re:  会議"_s);
    EXPECT_EQ(f.BodyText->toPlainText(), u"了解しました。\n当日伺います。"_s);
    EXPECT_EQ(f.StatusLabel->text(), c.status);
    EXPECT_TRUE(f.Command2->isEnabled() && f.BodyText->isEnabled() && f.ToText->isEnabled());
}

const QString kRejected = u"550 5.1.1 <taro@example.jp>: Recipient address rejected"_s;

INSTANTIATE_TEST_SUITE_P(
    Replies, Send,
    ::testing::Values(
        SendCase{"goes_out", u"taro@example.jp"_s, QString(), QString(), true, u"-"_s, QString()},
        SendCase{"with_an_attachment", u"山田 <taro@example.jp>"_s, QString(), u"資料.txt"_s, true, u"-"_s, QString()},
        // Not two files "a" and "b.txt", neither of which is there.
        SendCase{"attachment_with_a_comma_in_its_name", u"taro@example.jp"_s, QString(), u"a,b.txt"_s, true, u"-"_s,
                 QString()},
        SendCase{"refused_by_the_server", u"taro@example.jp"_s, kRejected, QString(), false, u"送信エラー"_s,
                 u"送信できませんでした。"_s},
        // One bad entry among the recipients stops the whole reply.
        SendCase{"a_bad_recipient_refused_before_sending", u"taro@example.jp、山田"_s, QString(), QString(), false,
                 QString(), QString()}),
    CaseName);

// --- A reply to a message with a copy: threaded, in its charset, quoted
// when the user asked for it, kept in 送信履歴 when asked.

const QByteArray kAnsweredCopy =
    "From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <taro@example.jp>\r\n"
    "To: me@example.jp\r\n"
    "Subject: meeting\r\n"
    "Date: Tue, 08 Dec 2026 09:30:00 +0900\r\n"
    "Message-ID: <orig@example.jp>\r\n"
    "References: <start@example.jp>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "Content-Transfer-Encoding: 8bit\r\n"
    "\r\n"
    "明日です。\r\nよろしく\r\n";

QString QuoteHeading() {
    return QDateTime::fromString(u"Tue, 08 Dec 2026 09:30:00 +0900"_s, Qt::RFC2822Date)
               .toLocalTime()
               .toString(u"yyyy/MM/dd HH:mm"_s) +
           u"、山田 太郎 さんは書きました:\n"_s;
}

struct ReplyCase {
    const char* name;
    bool withCopy;
    ComposeOptions options;
    std::function<QString()> body;  // the body the window opens with
    bool threaded;
    size_t sentRecords;
};

ComposeOptions Options(bool quote, bool keep) {
    ComposeOptions options;
    options.QuoteOnReply = quote;
    options.KeepReplies = keep;
    return options;
}

class Reply : public BackFormTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(Reply, TakesWhatTheAnsweredCopyHolds) {
    const ReplyCase& c = GetParam();
    ASSERT_TRUE(WriteComposeOptions(program.paths.path(files::ProgramOptions), c.options));
    folder.write(u"copy.eml"_s, kAnsweredCopy);
    BackForm& f = loaded();
    f.FillReply({u"meeting"_s, u"山田 太郎 <taro@example.jp>"_s, u"明日です。\nよろしく"_s,
                 c.withCopy ? folder.path(u"copy.eml"_s) : QString()});
    EXPECT_EQ(f.BodyText->toPlainText(), c.body());
    f.show();
    send(f);

    ASSERT_EQ(box->deliveries.size(), 1u) << (boxes.isEmpty() ? std::string() : boxes[0].text.toStdString());
    const QByteArray& sent = box->deliveries[0].message;
    const QByteArray head = sent.left(sent.indexOf("\r\n\r\n"));
    EXPECT_EQ(head.contains("In-Reply-To: <orig@example.jp>"), c.threaded) << head.toStdString();
    EXPECT_EQ(head.contains("References: <start@example.jp> <orig@example.jp>"), c.threaded) << head.toStdString();
    // Japanese text that ISO-2022-JP holds goes as UTF-8 only as an answer
    // to a message in UTF-8.
    EXPECT_EQ(head.toLower().contains("charset=utf-8"), c.threaded) << "the answered message's charset";
    QString text = WithCrLf(c.body());
    if (!text.endsWith(u"\r\n"_s)) text += u"\r\n"_s;
    EXPECT_EQ(mail::DecodeMessage(sent).text, text);
    EXPECT_EQ(ReadAll(HistoryPath(program.paths, History::Sent)).size(), c.sentRecords);
}

INSTANTIATE_TEST_SUITE_P(
    Options, Reply,
    ::testing::Values(
        // With no option on, the Send rows: nothing quoted, nothing kept.
        ReplyCase{"quoted_from_the_copy", true, Options(true, false),
                  [] { return QuoteHeading() + u"> 明日です。\n> よろしく\n"_s; }, true, 0},
        // No copy: the text the viewer showed, the name from the sender box.
        ReplyCase{"quoted_without_a_copy", false, Options(true, false),
                  [] { return u"山田 太郎 さんは書きました:\n> 明日です。\n> よろしく\n"_s; }, false, 0},
        ReplyCase{"kept_in_the_sent_history", true, Options(false, true), [] { return u"明日です。\nよろしく"_s; }, true,
                  1}),
    CaseName);

// A server that takes its time over each message.
class SlowTransport : public ScriptedTransport {
public:
    using ScriptedTransport::ScriptedTransport;
    mail::SmtpStatus sendSmtp(const QString& server, const mail::Credentials& login, const QString& from,
                              const QStringList& to, const QByteArray& message) override {
        QThread::msleep(300);
        return ScriptedTransport::sendSmtp(server, login, from, to, message);
    }
};

TEST_F(BackFormTest, AWindowDestroyedDuringASendWaitsForItWithoutHanging) {
    SetMailTransport(std::make_unique<SlowTransport>(box));
    BackForm& f = loaded();
    f.FillReply({u"会議"_s, u"taro@example.jp"_s, u"了解"_s});
    f.show();
    f.Command2->click();
    ASSERT_TRUE(f.isSending());
    f.close();
    EXPECT_TRUE(f.isVisible()) << "the close box waits for the end of the send";
    // The worker still has the end of the send to show when the window goes.
    QTest::qWait(100);
    form.reset();
    EXPECT_EQ(box->deliveries.size(), 1u);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(BackFormTest, StopDuringASendKeepsTheReplyAndOutsideOneStepsBack) {
    auto transport = std::make_unique<mail::test::NeverAnsweringTransport>(box);
    mail::test::NeverAnsweringTransport* server = transport.get();
    SetMailTransport(std::move(transport));
    QWidget mainWindow;
    windows.mainWindow = &mainWindow;
    BackForm& f = loaded();
    f.FillReply({u"会議"_s, u"taro@example.jp"_s, u"了解"_s});
    f.show();
    QSignalSpy finished(&f, &BackForm::sendFinished);
    QTest::mouseClick(f.Command2, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->waiting.load(); }, 5000));
    EXPECT_TRUE(f.Command3->isEnabled()) << "送信中止 stays usable";
    EXPECT_FALSE(f.Command2->isEnabled());
    QTest::mouseClick(f.Command3, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(boxes.isEmpty()) << "a stop is no 送信エラー: " << boxes[0].text.toStdString();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(mainWindow.isVisible()) << "the stop only stops";
    EXPECT_EQ(f.StatusLabel->text(), mail::SendStoppedText());
    EXPECT_EQ(f.BodyText->toPlainText(), u"了解"_s);

    QTest::mouseClick(f.Command3, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(mainWindow.isVisible());
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    lumopet::NMailInitializeWinSock();
    const int result = RUN_ALL_TESTS();
    lumopet::NMailEndWinSock();
    return result;
}
