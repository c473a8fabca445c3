#include "compose/FriendForm.h"

#include "core/program.h"
#include "core/twips.h"
#include "store/address_book.h"
#include "store/contact_import.h"
#include "ui/file_dialog.h"
#include "ui/limited_text_box.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");

// What a list row shows of a record: the stored address, padded to its 60
// characters, two blanks, then the stored name with its padding.
QString listRow(const AddressRecord& record) {
    return record.EntryAddress.leftJustified(60, u' ') + QStringLiteral("  ") + record.EntryName;
}

// The address box holds one line. An address copied from a mail or a page
// often comes with the line break after it; that break, and whatever
// follows the first line, must not become part of the stored address.
QString firstLineOf(const QString& text) {
    qsizetype begin = 0;
    while (begin < text.size() && (text[begin] == u'\r' || text[begin] == u'\n')) ++begin;
    qsizetype end = begin;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    return text.sliced(begin, end - begin);
}

}  // namespace

FriendForm::FriendForm(WindowDirectory& windows, QWidget* parent) : QWidget(parent), program_(windows.program()) {
    // A fixed single border: no minimise or maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("アドレス帳"));
    setFont(JapaneseFont(9));
    setFixedSize(place(0, 0, 6375, 6960).size());

    Label1[0] = new QLabel(QStringLiteral("メールアドレス"), this);
    Label1[0]->setGeometry(place(120, 90, 1215, 255));
    Text4 = new QLineEdit(this);
    Text4->setGeometry(place(1515, 120, 3135, 270));
    LimitTextLength(Text4, 60);
    Command1 = new QPushButton(QStringLiteral("貼付"), this);
    Command1->setGeometry(place(4800, 0, 975, 375));

    Label1[1] = new QLabel(QStringLiteral("名前"), this);
    Label1[1]->setGeometry(place(840, 645, 495, 255));
    Text2 = new QLineEdit(this);
    Text2->setGeometry(place(1500, 585, 3615, 270));
    LimitTextLength(Text2, 30);
    // Names are typed in Japanese: the input method stays available here.
    // (Qt has no call that switches it on; the user's input method decides.)
    Text2->setAttribute(Qt::WA_InputMethodEnabled, true);

    Command4 = new QPushButton(QStringLiteral("登録"), this);
    Command4->setGeometry(place(120, 1080, 1215, 375));
    Command5 = new QPushButton(QStringLiteral("削除"), this);
    Command5->setGeometry(place(1560, 1080, 1215, 375));
    // In the free place between 削除 and the count: the design's controls
    // keep theirs.
    TransferButton = new QPushButton(QStringLiteral("取込・書出"), this);
    TransferButton->setGeometry(place(2940, 1080, 1560, 375));
    auto* transfer = new QMenu(TransferButton);
    ImportAction = transfer->addAction(QStringLiteral("連絡先の取り込み（vCard・CSV）..."));
    transfer->addSeparator();
    ExportVCardAction = transfer->addAction(QStringLiteral("vCard 形式で書き出し..."));
    ExportCsvAction = transfer->addAction(QStringLiteral("CSV 形式（Google）で書き出し..."));
    TransferButton->setMenu(transfer);
    Label1[2] = new QLabel(QStringLiteral("登録件数"), this);
    Label1[2]->setGeometry(place(4680, 1200, 735, 255));
    Text3 = new QLineEdit(this);
    Text3->setGeometry(place(5520, 1080, 615, 375));
    Text3->setReadOnly(true);

    List1 = new QListWidget(this);
    List1->setGeometry(place(0, 1560, 6375, 4920));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    // The rows are columns padded with blanks: they line up in fixed pitch.
    List1->setFont(JapaneseFixedFont(9));

    Picture1 = new QFrame(this);
    Picture1->setGeometry(place(0, 6480, 6375, 495));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label7 = new QLabel(Picture1);
    Label7->setGeometry(place(120, 120, 6375 - 240, 255));

    // Reloads the list; never seen, it lies beyond the client area.
    Command2 = new QPushButton(this);
    Command2->setGeometry(place(6600, 0, 615, 375));
    Command2->hide();

    connect(Command1, &QPushButton::clicked, this, &FriendForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &FriendForm::Command2_Click);
    connect(Command4, &QPushButton::clicked, this, &FriendForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &FriendForm::Command5_Click);
    connect(ImportAction, &QAction::triggered, this, &FriendForm::ImportContactsFromFile);
    connect(ExportVCardAction, &QAction::triggered, this, [this] { ExportContactsToFile(false); });
    connect(ExportCsvAction, &QAction::triggered, this, [this] { ExportContactsToFile(true); });
}

QRect FriendForm::place(int left, int top, int width, int height) const {
    return TwipsToPixels(Twips{left, top, width, height}, logicalDpiY());
}

QString FriendForm::bookPath() const { return AddressBookPath(program_.paths); }

QString FriendForm::rewriteCopyPath() const { return AddressBookRewriteCopyPath(program_.paths); }

void FriendForm::Form_Load() {
    Text3->setText(QString::number(List1->count()));
    Label7->clear();
    ReloadAddressList();
    move(screen()->availableGeometry().center() - rect().center());
}

void FriendForm::Command1_Click() { Text4->setText(firstLineOf(QGuiApplication::clipboard()->text())); }

void FriendForm::Command2_Click() { ReloadAddressList(); }

void FriendForm::Command4_Click() { AddAddressEntry(); }

void FriendForm::Command5_Click() { DeleteAddressEntry(); }

void FriendForm::ReloadAddressList() {
    List1->clear();
    const Result<std::vector<AddressRecord>> records = ReadAddressRecords(bookPath());
    if (records) {
        // Marked records too: row i stays record i + 1.
        for (const AddressRecord& record : records.value()) List1->addItem(listRow(record));
    }
    Text3->setText(QString::number(List1->count()));
    if (!records) ShowError(this, kErrorTitle, records.error());
}

void FriendForm::AddAddressEntry() {
    if (Text2->text().isEmpty()) {
        ShowNotice(this, QStringLiteral("氏名（名称）が入力されていません。"));
        return;
    }
    if (Text4->text().isEmpty()) {
        ShowNotice(this, QStringLiteral("メールアドレスが入力されていません。"));
        return;
    }
    const Result<int> added = AppendAddressEntry(bookPath(), Text2->text(), Text4->text());
    if (!added) {
        // What was typed stays, to be registered once the book is writable.
        ShowError(this, kErrorTitle, added.error());
        return;
    }
    Label7->setText(QStringLiteral("　登録が完了しました。"));
    ReloadAddressList();
    Text2->clear();
    Text4->clear();
}

void FriendForm::DeleteAddressEntry() {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    if (selected.isEmpty()) {
        ShowNotice(this, QStringLiteral("データが選択されていません。"));
        return;
    }
    const int n = List1->row(selected.first()) + 1;
    Label7->setText(QStringLiteral(" "));
    if (AskToConfirm(this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"))) {
        const Status marked = MarkAddressDeleted(bookPath(), n);
        if (!marked) {
            ShowError(this, kErrorTitle, marked.error());
            ReloadAddressList();
            return;
        }
        Label7->setText(QStringLiteral("削除が完了しました"));
    }
    // Also after No: the book is rewritten either way, which drops a record
    // that an interrupted delete left marked.
    const Status compacted = CompactAddressBook(bookPath(), rewriteCopyPath());
    if (!compacted) {
        Label7->setText(QStringLiteral(" "));
        ShowError(this, kErrorTitle, compacted.error());
    }
    ReloadAddressList();
}

void FriendForm::ImportContactsFromFile() {
    const QString file = ChooseFileToOpen(
        this, {QStringLiteral("連絡先の取り込み"), QDir::homePath(),
               QStringLiteral("連絡先ファイル (*.vcf *.vcard *.csv);;すべてのファイル (*)")});
    if (file.isEmpty()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ContactImportCounts counts = ImportContactFile(bookPath(), file);
    QApplication::restoreOverrideCursor();
    ReloadAddressList();
    const QString sentence = ContactImportSentence(counts);
    if (!counts.error.isEmpty()) {
        Label7->setText(QStringLiteral(" "));
        ShowError(this, kErrorTitle, sentence);
        return;
    }
    Label7->setText(QStringLiteral("　取り込みが完了しました。"));
    ShowNotice(this, sentence);
}

void FriendForm::ExportContactsToFile(bool csv) {
    const QString suggested = QDir::homePath() + (csv ? QStringLiteral("/アドレス帳.csv") : QStringLiteral("/アドレス帳.vcf"));
    QString file = ChooseFileToSave(
        this, {QStringLiteral("連絡先の書き出し"), suggested,
               csv ? QStringLiteral("CSV ファイル (*.csv)") : QStringLiteral("vCard ファイル (*.vcf)")});
    if (file.isEmpty()) return;
    // A name typed without its ending gets the one of the chosen form, so
    // that the file opens as what it is.
    if (QFileInfo(file).suffix().isEmpty()) file += csv ? QStringLiteral(".csv") : QStringLiteral(".vcf");
    const Result<int> written =
        ExportContactFile(bookPath(), file, csv ? ContactFileForm::GoogleCsv : ContactFileForm::VCard4);
    if (!written) {
        ShowError(this, kErrorTitle, written.error());
        return;
    }
    Label7->setText(QStringLiteral("　書き出しが完了しました。"));
    ShowNotice(this, QStringLiteral("%1 件の連絡先を「%2」に書き出しました。")
                         .arg(written.value())
                         .arg(QDir::toNativeSeparators(file)));
}

}  // namespace lumopet
