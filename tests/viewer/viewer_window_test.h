#pragma once
// The history viewer offscreen, on a program folder of the test's own:
// what the viewer's window tests share. Message boxes are written down in
// messages and answered with answer; each test writes its own records.

#include "core/program.h"
#include "store/history_file.h"
#include "tests/support/fake_windows.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"
#include "viewer/TyakuForm.h"
#include "viewer/editor_module.h"
#include "viewer/history_list_model.h"

#include <QLineEdit>
#include <QTest>
#include <QPlainTextEdit>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace lumopet::test {

class ViewerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        SetMessageAnswerer([this](const MessageRequest& request) {
            messages.push_back(request);
            return request.kind == MessageKind::Question ? answer : MessageAnswer::Ok;
        });
        EditorModule::Instance() = EditorModule{};
    }
    void TearDown() override {
        form.reset();
        SetMessageAnswerer({});
    }

    QString file(History h) const { return HistoryPath(program.paths, h); }
    // Each record's subject, "(marked)" after the ones marked for deletion.
    QStringList subjectsInFile(History h) const {
        QStringList subjects;
        for (const HistoryRecord& r : ReadAll(file(h))) subjects << r.Subject + (r.Live ? "" : "(marked)");
        return subjects;
    }

    // The window opened and shown on the history, its boxes forgotten.
    TyakuForm& open(History h) {
        form = std::make_unique<TyakuForm>(windows);
        form->Form_Load();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->LoadHistory(h);
        messages.clear();
        return *form;
    }
    void clickRow(int row) {
        const QRect cell = form->MailListView->visualRect(form->MailListView->model()->index(row, 0));
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // The fields and the editor below the list.
    QStringList texts() const {
        return {form->Text7->text(), form->Text8->text(), form->Text9->text(), form->rtfEd->toPlainText()};
    }
    // What the fields and the editor show of a record.
    static QStringList shownTexts(const HistoryRecord& r) {
        return {r.Subject, r.Column2, r.Column3, QString(r.Body).replace("\r\n", "\n")};
    }
    QStringList messageTexts() const {
        QStringList list;
        for (const MessageRequest& m : messages) list << m.text;
        return list;
    }

    TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    std::unique_ptr<TyakuForm> form;
    std::vector<MessageRequest> messages;
    MessageAnswer answer = MessageAnswer::Yes;
};

}  // namespace lumopet::test
