#include "viewer/TyakuForm.h"

#include "viewer/copy_reader.h"
#include "viewer/copy_search_texts.h"
#include "viewer/message_pane.h"
#include "viewer/remote_images.h"

#include "core/program.h"
#include "core/text_helpers.h"
#include "store/history_file.h"
#include "ui/message_box.h"
#include "ui/window_directory.h"
#include "ui/window_helpers.h"
#include "viewer/editor_module.h"
#include "viewer/history_list_model.h"
#include "viewer/history_view.h"
#include "viewer/mail_export_window.h"
#include "viewer/mail_import_window.h"
#include "viewer/search_text.h"
#include "viewer/tyaku_layout.h"
#include "viewer/viewer_editor.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QFuture>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPromise>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextEdit>
#include <QThreadPool>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

namespace lumopet {
namespace {

namespace layout = tyaku_layout;

const QString kErrorTitle = QStringLiteral("エラー");
const QString kNoData = QStringLiteral("選択するデータがありません");
const QString kNoSelection = QStringLiteral("データが選択されていません");
const QString kToYourself = QStringLiteral("自分宛となっています。");
const QString kDeleteAll = QStringLiteral("すべてのデータを削除して良いですか？");
// 全件削除 while the list is filtered: only what is shown goes.
const QString kDeleteShown = QStringLiteral("表示中の %1 件を削除しますか");
const QString kNothingShown = QStringLiteral("表示中のデータがありません");
const QString kNotDeleted = QStringLiteral("メールを削除できませんでした。\n");
const QString kLoadErrorTitle = QStringLiteral("ルモペット  Form_LoadError");

const QString kHelpCommand1 =
    QStringLiteral("メールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。");
const QString kHelpCommand3 =
    QStringLiteral("メールアドレスをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。");
const QString kHelpCommand4 =
    QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。");
// Said for the sent history as well.
const QString kHelpCommand5 = QStringLiteral("受信したメール全件削除します。");

const QString kHelpJunkList = QStringLiteral("迷惑メールとして振り分けたメールの一覧を表示します。");
const QString kHelpBackToReceived = QStringLiteral("着信履歴に戻ります。");
const QString kHelpToJunk = QStringLiteral(
    "選択したメールを迷惑メールに移し、迷惑メールフィルタに学習させます。リストからメールを選択（クリック）してから実行して下さい。");
const QString kHelpNotJunk = QStringLiteral(
    "選択したメールを着信履歴に戻し、迷惑メールではないことを迷惑メールフィルタに学習させます。");

constexpr int kFieldHeight = 375;
// What the search box says it searches: the columns are named as each
// history fills them.
const QString kSearchReceived = QStringLiteral("検索（件名・差出人・日付・本文）");
const QString kSearchSent = QStringLiteral("検索（件名・日付・宛先・本文）");
// The pause in the typing after which the search starts: short enough to
// feel immediate, long enough that a word typed quickly is searched once.
constexpr int kSearchPauseMs = 200;
// The editor's search box, in the band: as high as the count field.
constexpr int kSearchBoxWidth = 1800;
constexpr int kSearchBoxHeight = 270;

QPushButton* button(const QString& caption, QWidget* parent) {
    auto* made = new QPushButton(caption, parent);
    made->setAutoDefault(false);
    made->setMouseTracking(true);
    return made;
}

// The text without its blanks (U+0020) around it, as the boxes have
// always been read.
QString withoutBlanks(QStringView text) { return WithoutBlanksAround(text).toString(); }

// A field shows its text from the start: a date or an address wider than
// the field is read from the left.
void showField(QLineEdit* field, const QString& text) {
    field->setText(text);
    field->setCursorPosition(0);
}

// The count field. Its design width shows four digits in our font, and a
// full history counts 32,766: the box is made wide enough for five of the
// widest digit, growing to the right, where nothing lies.
class CountBox : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    void fitFiveDigits() {
        ensurePolished();
        const QFontMetrics metrics = fontMetrics();
        int widest = 0;
        for (char16_t digit = u'0'; digit <= u'9'; ++digit)
            widest = std::max(widest, metrics.horizontalAdvance(QChar(digit)));
        // As QLineEdit reckons its own size: the text and the cursor's pixel
        // inside its fixed margin of 2 pixels a side, the text margins, then
        // the style's frame around it.
        const QMargins margins = textMargins();
        const int inner = 5 * widest + 1 + 2 * 2 + margins.left() + margins.right();
        QStyleOptionFrame option;
        initStyleOption(&option);
        const int needed = style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(inner, height()), this).width();
        if (needed > width()) resize(needed, height());
    }
};

// The records the search finds, and the records whose copies' whole texts
// (kept for the messages their records could not hold) hold the query.
HistorySearchResult SearchWithCopies(const TyakuForm::SearchFunction& search, const QString& file,
                                     const QString& query, const std::vector<QByteArray>& fingerprints,
                                     const std::atomic<bool>& cancel) {
    HistorySearchResult answer = search(file, query, cancel);
    if (answer.cancelled || fingerprints.empty()) return answer;
    const std::vector<int> more = RecordsFoundInCopies(CopySearchTextsPath(file), SearchForm(query), fingerprints, cancel);
    if (cancel.load()) return HistorySearchResult{true, {}};
    if (more.empty()) return answer;
    std::vector<int> both;
    both.reserve(answer.records.size() + more.size());
    std::set_union(answer.records.begin(), answer.records.end(), more.begin(), more.end(), std::back_inserter(both));
    answer.records = std::move(both);
    return answer;
}

bool sameRows(const std::vector<ViewerRow>& a, const std::vector<ViewerRow>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ViewerRow& x, const ViewerRow& y) {
        return x.subject == y.subject && x.from == y.from && x.date == y.date;
    });
}

}  // namespace

TyakuForm::TyakuForm(WindowDirectory& windows, QWidget* parent)
    : QWidget(parent), windows_(windows), program_(windows.program()) {
    // A sizable border with the minimise and maximise buttons.
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("着信履歴"));
    setFont(JapaneseFont(9));

    client_ = new QWidget(this);
    client_->setMouseTracking(true);
    buildControls();
    // Only now: the filter looks at the controls.
    client_->installEventFilter(this);

    editor_ = new ViewerEditor(windows, this, rtfEd);
    // The menu bar above the client area, as a window's menu bar is; the
    // controls' places count from below it.
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    if (QMenuBar* menus = editor_->menuBar()) frame->setMenuBar(menus);
    frame->addWidget(client_);
    // The toolbar and the search box live in the band across the top.
    for (QWidget* inBand : std::initializer_list<QWidget*>{editor_->toolBar(), editor_->Label2, editor_->Text1}) {
        if (!inBand) continue;
        inBand->setParent(Picture1);
        inBand->show();
    }
    if (editor_->Label2) editor_->Label2->setFont(JapaneseFont(8));
    connect(editor_, &ViewerEditor::ImportMailRequested, this, &TyakuForm::importMail);
    connect(editor_, &ViewerEditor::ExportMailRequested, this, &TyakuForm::exportMail);
    // A document the editor opens or begins takes the text box back from
    // the message.
    for (QAction* takesTheBox : {editor_->mnew, editor_->mopen}) {
        if (takesTheBox) connect(takesTheBox, &QAction::triggered, this, [this] { clearShownMessage(); });
    }

    reader_ = new CopyReader(program_.paths, this);
    connect(reader_, &CopyReader::messageRead, this, &TyakuForm::takeReading);
    connect(reader_, &CopyReader::sourcesLoaded, this, [this] {
        showRowsFromCopies();
        // The record on display may have a copy now.
        if (shownRecord_ > 0 && !shown_ && recordBufferNumber_ == shownRecord_) readCopyOf(recordBuffer_, shownRecord_);
    });
    remoteImages_ = new RemoteImageFetcher(this);
    if (const Result<ViewerOptions> options = ReadViewerOptions(program_.paths.path(files::ProgramOptions)))
        options_ = options.value();
    buildViewMenu();

    search_ = [](const QString& file, const QString& query, const std::atomic<bool>& cancel) {
        return SearchHistory(file, query, cancel);
    };
    searchTimer_ = new QTimer(this);
    searchTimer_->setSingleShot(true);
    searchTimer_->setInterval(kSearchPauseMs);
    connect(searchTimer_, &QTimer::timeout, this, &TyakuForm::startSearch);
    connect(SearchBox, &QLineEdit::textChanged, this, &TyakuForm::searchTextChanged);
    // Enter need not wait for the pause.
    connect(SearchBox, &QLineEdit::returnPressed, this, &TyakuForm::startSearch);

    // The design's client area, and the search row on top of it.
    const int menuHeight = editor_->menuBar() ? editor_->menuBar()->sizeHint().height() : 0;
    resize(place(0, 0, layout::kClientWidth, layout::kClientHeight + layout::kSearchRowTwips).size() +
           QSize(0, menuHeight));
}

TyakuForm::~TyakuForm() {
    // A search still running stops at its next block; it holds nothing of
    // this window's.
    if (searchCancel_) searchCancel_->store(true);
    // The message's document goes with shown_, before the widgets do: the
    // view must not be left holding it while it closes.
    htmlView->setDocument(blankDocument_);
}

void TyakuForm::buildControls() {
    Picture1 = new QFrame(client_);
    Picture1->setGeometry(place(layout::Picture1.left, layout::Picture1.top, layout::Picture1.width,
                                layout::Picture1.height));

    const auto at = [this](QWidget* control, const Twips& t) {
        control->setGeometry(place(t.left, t.top, t.width, t.height));
    };
    // The controls from the list down lie below the search row.
    const auto below = [this](QWidget* control, const Twips& t) {
        control->setGeometry(place(t.left, t.top + layout::kSearchRowTwips, t.width, t.height));
    };
    Command1 = button(QStringLiteral("１件削除"), client_);
    at(Command1, layout::Command1);
    Command3 = button(QStringLiteral("アドレス帳登録"), client_);
    at(Command3, layout::Command3);
    Command4 = button(QStringLiteral("返事を出す"), client_);
    at(Command4, layout::Command4);
    Command5 = button(QStringLiteral("全件削除"), client_);
    at(Command5, layout::Command5);
    Label1 = new QLabel(QStringLiteral("件数"), client_);
    at(Label1, layout::Label1);
    auto* count = new CountBox(client_);
    Text2 = count;
    at(Text2, layout::Text2);
    count->fitFiveDigits();
    // A count, not an entry: typing into it would only confuse the click
    // on the list, which reads it.
    Text2->setReadOnly(true);

    SearchBox = new QLineEdit(client_);
    at(SearchBox, layout::SearchBox);
    SearchBox->setPlaceholderText(kSearchReceived);
    SearchBox->setClearButtonEnabled(true);
    SearchBox->installEventFilter(this);
    SearchCount = new QLabel(client_);
    at(SearchCount, layout::SearchCount);
    JunkListButton = button(QStringLiteral("迷惑メール一覧"), client_);
    JunkListButton->setObjectName(QStringLiteral("JunkListButton"));
    JunkVerdictButton = button(QStringLiteral("迷惑メール"), client_);
    JunkVerdictButton->setObjectName(QStringLiteral("JunkVerdictButton"));
    for (QPushButton* junkButton : {JunkListButton, JunkVerdictButton}) junkButton->hide();

    model_ = new HistoryListModel(this);
    MailListView = new QTreeView(client_);
    below(MailListView, layout::MailListView);
    MailListView->setModel(model_);
    // The rows all have one height, so the view need not measure 32,766 of
    // them to place its scroll bar.
    MailListView->setUniformRowHeights(true);
    MailListView->setRootIsDecorated(false);
    MailListView->setItemsExpandable(false);
    MailListView->setAllColumnsShowFocus(true);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MailListView->header()->setStretchLastSection(false);
    MailListView->header()->setSectionsMovable(false);
    MailListView->viewport()->installEventFilter(this);
    MailListView->installEventFilter(this);

    // After the list: where they meet, the fields lie over its last pixels.
    Text7 = new QLineEdit(client_);
    below(Text7, layout::Text7);
    Text8 = new QLineEdit(client_);
    below(Text8, layout::Text8);
    Text9 = new QLineEdit(client_);
    below(Text9, layout::Text9);

    rtfEd = new QPlainTextEdit(client_);
    below(rtfEd, layout::rtfEd);
    rtfEd->viewport()->setMouseTracking(true);
    rtfEd->viewport()->installEventFilter(this);
    // The load step shows it.
    rtfEd->hide();
    editorLeft_ = static_cast<float>(layout::rtfEd.left);
    editorArea_ = rtfEd->geometry();
    // In the text box's place, shown with a message read from its copy.
    htmlView = new HtmlMessageView(client_);
    htmlView->setObjectName(QStringLiteral("htmlView"));
    htmlView->hide();
    // Owned here, not by the view: a view deletes the documents it owns
    // when it is given another.
    blankDocument_ = new MessageDocument(this);
    htmlView->setDocument(blankDocument_);
    attachmentStrip = new AttachmentStrip(client_);
    attachmentStrip->setObjectName(QStringLiteral("attachmentStrip"));
    attachmentStrip->hide();
    notesBar = new MessageNotesBar(client_);
    notesBar->setObjectName(QStringLiteral("notesBar"));
    notesBar->hide();
    connect(attachmentStrip, &AttachmentStrip::openRequested, this, &TyakuForm::OpenAttachment);
    connect(attachmentStrip, &AttachmentStrip::saveRequested, this, &TyakuForm::SaveAttachment);
    connect(notesBar, &MessageNotesBar::loadImagesRequested, this, &TyakuForm::LoadRemoteImages);
    connect(htmlView, &QTextBrowser::anchorClicked, this, &TyakuForm::openLink);

    Text5 = new QLineEdit(client_);
    at(Text5, layout::Text5);
    Text5->hide();

    // Last, so that it lies over the editor.
    Text4 = new QPlainTextEdit(client_);
    below(Text4, layout::Text4);
    Text4->setReadOnly(true);
    Text4->hide();

    for (QPushButton* helped : {Command1, Command3, Command4, Command5, JunkListButton, JunkVerdictButton})
        helped->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &TyakuForm::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &TyakuForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &TyakuForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &TyakuForm::Command5_Click);
    connect(JunkListButton, &QPushButton::clicked, this, &TyakuForm::JunkList_Click);
    connect(JunkVerdictButton, &QPushButton::clicked, this, &TyakuForm::JunkVerdict_Click);
}

QRect TyakuForm::place(double left, double top, double width, double height) const {
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

int TyakuForm::toPixels(double twips) const { return qRound(twips * logicalDpiY() / 1440.0); }

double TyakuForm::toTwips(int pixels) const { return pixels * 1440.0 / logicalDpiY(); }

void TyakuForm::Form_Load() {
    // The columns take their shares of the list's width as it is now,
    // before the list is fitted to the window.
    const layout::ColumnWidths columns = layout::LoadColumnWidths(static_cast<float>(toTwips(MailListView->width())));
    QHeaderView* header = MailListView->header();
    header->resizeSection(HistoryListModel::SubjectColumn, toPixels(columns.subject));
    header->resizeSection(HistoryListModel::FromColumn, toPixels(columns.from));
    header->resizeSection(HistoryListModel::DateColumn, toPixels(columns.date));

    editorLeft_ = layout::kEditorLoadLeft;
    const double W = layout::OuterWidth(toTwips(width()));
    const QRect list = MailListView->geometry();
    MailListView->setGeometry(QRect(list.topLeft(), QSize(toPixels(0.99 * W), list.height())));
    const QRect editor =
        place(editorLeft_, layout::kEditorLoadTop + layout::kSearchRowTwips, 0.98 * W, layout::rtfEd.height);
    placeEditor(editor);

    runLoadStep([this] { return editor_->LoadCurrentDocument(); });
    runLoadStep([] {
        EditorModule::Instance().DocumentDirty = false;
        return success();
    });
    runLoadStep([this] {
        if (!htmlShown_) rtfEd->show();
        return success();
    });

    // A window made after a mail check starts as the check left it.
    ShowCheckedMail();
    CentreOnScreen(this);
}

void TyakuForm::runLoadStep(const std::function<Status()>& step) {
    // OK offers the step again, Cancel goes on without it. The box says
    // what went wrong, where it used to say nothing at all.
    for (Status done = step(); !done; done = step()) {
        if (ShowMessage(this, {MessageKind::RetryWarning, done.error(), kLoadErrorTitle}) != MessageAnswer::Ok) return;
    }
}

void TyakuForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void TyakuForm::Form_Resize() {
    const layout::Resized r = layout::Resize(layout::OuterWidth(toTwips(width())),
                                             layout::OuterHeight(toTwips(height())), editorLeft_,
                                             layout::kSearchRowTwips);
    MailListView->setGeometry(place(layout::MailListView.left, r.listTop, r.listWidth, r.listHeight));
    Text7->setGeometry(place(r.subjectLeft, r.fieldsTop, r.subjectWidth, kFieldHeight));
    Text8->setGeometry(place(r.fromLeft, r.fieldsTop, r.fromWidth, kFieldHeight));
    Text9->setGeometry(place(r.dateLeft, r.fieldsTop, r.dateWidth, kFieldHeight));
    Picture1->setGeometry(place(layout::Picture1.left, layout::Picture1.top, r.bandWidth, layout::Picture1.height));
    placeEditor(place(editorLeft_, r.editorTop, r.editorWidth, r.editorHeight));
    layoutBand();
}

void TyakuForm::layoutBand() {
    // The band is as wide as the window, but only what lies inside the
    // client area can be seen: the search box keeps to that part.
    const int visible = std::min(Picture1->width(), width());
    const int height = Picture1->height();
    const int gap = toPixels(60);
    int left = 0;
    if (QToolBar* tools = editor_->toolBar()) {
        const int toolsWidth = std::min(tools->sizeHint().width(), visible);
        tools->setGeometry(0, 0, toolsWidth, height);
        left = toolsWidth + gap;
    }
    // The search box at the right end, its prompt in two lines between the
    // toolbar and the box.
    int right = visible;
    if (QLineEdit* search = editor_->Text1) {
        const QRect box = place(0, 0, kSearchBoxWidth, kSearchBoxHeight);
        right = std::max(left, visible - gap - box.width());
        search->setGeometry(right, (height - box.height()) / 2, box.width(), box.height());
    }
    if (QLabel* prompt = editor_->Label2) prompt->setGeometry(left, 0, std::max(0, right - gap - left), height);
}

QString TyakuForm::historyFile() const { return HistoryPath(program_.paths, viewerMode_); }

QString TyakuForm::rewriteCopyFile() const { return RewriteCopyPath(program_.paths, viewerMode_); }

void TyakuForm::LoadHistory(History history) {
    viewerMode_ = history;
    setWindowTitle(history == History::Received ? QStringLiteral("着信履歴")
                   : history == History::Junk   ? QStringLiteral("迷惑メール")
                                                : QStringLiteral("送信履歴"));
    SearchBox->setPlaceholderText(history == History::Sent ? kSearchSent : kSearchReceived);
    // Mail from elsewhere comes in as received mail only, into 着信履歴.
    if (editor_->mimport) editor_->mimport->setEnabled(history == History::Received);
    showJunkButtons();
    // A load lists the whole history, as it always has: the search it
    // clears with the list.
    clearSearch();
    model_->clear();
    clearMessageBoxes();
    // The copies are paired off the window's thread; until they are, the
    // records are shown as they are stored.
    reader_->loadSources(history);
    FillViewerList();
}

void TyakuForm::importMail() {
    if (viewerMode_ != History::Received) return;
    ShowMailImportWindow(this, program_, [this] {
        // The new records at the end of a list read afresh, as a load
        // lists them.
        if (viewerMode_ == History::Received) LoadHistory(History::Received);
    });
}

void TyakuForm::exportMail() { ShowMailExportWindow(this, program_, viewerMode_, ShownRecords(), ChosenRecord()); }

void TyakuForm::clearMessageBoxes() {
    Text9->clear();
    Text8->clear();
    Text7->clear();
    rtfEd->clear();
    clearShownMessage();
    shownRecord_ = 0;
    // Nothing shown, nothing highlighted.
    MailListView->selectionModel()->clear();
}

void TyakuForm::FillViewerList() {
    // Only the three columns of each record are read, and the last record
    // whole: the fields, the editor and the clipboard end on it, as if
    // every record had been shown in turn, without doing so 32,766 times.
    Result<HistoryView> read = ReadHistoryView(historyFile());
    if (!read) {
        model_->clear();
        listIsHistory_ = false;
        Text2->setText(QStringLiteral("0"));
        ShowError(this, kErrorTitle, read.error());
        return;
    }
    HistoryView& view = read.value();
    const int count = static_cast<int>(view.rows.size());
    model_->setRows(std::move(view.rows));
    fingerprints_ = std::move(view.fingerprints);
    listIsHistory_ = true;
    showRowsFromCopies();
    if (view.last) showRecord(*view.last, count);
    Text2->setText(QString::number(count));
}

void TyakuForm::showRecord(const HistoryRecord& record, int n) {
    recordBuffer_ = record;
    recordBufferNumber_ = n;
    shownRecord_ = n;
    // The reply window pastes the received record read last.
    if (viewerMode_ != History::Sent) program_.viewer.receivedRecordBody = record.Body;
    // A record's fields come without their blanks already.
    showField(Text7, record.Subject);
    showField(Text8, record.Column2);
    showField(Text9, record.Column3);
    ShowMessageText(record.Body);
    highlightRow(n);
    readCopyOf(record, n);
}

void TyakuForm::highlightRow(int n) {
    // After a mail check the rows are the check's, and record n of the
    // history is none of them.
    const int i = model_->rowOfRecord(n);
    if (!listIsHistory_ || i < 0) return;
    QItemSelectionModel* selection = MailListView->selectionModel();
    const QModelIndex row = model_->index(i, 0);
    if (selection->isRowSelected(i, {}) && selection->currentIndex().row() == i) return;
    // The current row follows too (keys move on from there); without the
    // view's scrolling to it.
    const bool scrolls = MailListView->hasAutoScroll();
    MailListView->setAutoScroll(false);
    selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    MailListView->setAutoScroll(scrolls);
}

void TyakuForm::ShowMessageText(const QString& text) {
    rtfEd->setPlainText(EditorText(text));
    const QString shown = rtfEd->toPlainText();
    // The clipboard gets the text as the editor holds it. (Reading it back
    // from the clipboard, as the blanks are taken off, would only add a
    // way to lose it: another program may own the clipboard by then.)
    QGuiApplication::clipboard()->setText(shown);
    const QString trimmed = withoutBlanks(shown);
    if (trimmed != shown) rtfEd->setPlainText(trimmed);
}

int TyakuForm::recordOfChosenRow() const {
    const QModelIndexList rows = MailListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : model_->recordOfRow(rows.first().row());
}

Result<HistoryRecord> TyakuForm::recordAsShown(int n) const {
    if (recordBufferNumber_ == n) return recordBuffer_;
    return ReadRecord(historyFile(), n);
}

int TyakuForm::ChosenRecord() const { return listIsHistory_ ? recordOfChosenRow() : 0; }

std::vector<int> TyakuForm::ShownRecords() const {
    if (listIsHistory_) return model_->shownRecords();
    // A mail check's rows are messages, not records: what stands shown is
    // the history the next load lists, every complete record of it.
    const qint64 count = std::max<qint64>(QFileInfo(historyFile()).size(), 0) / kHistoryRecordSize;
    std::vector<int> all(static_cast<size_t>(count));
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i + 1);
    return all;
}

void TyakuForm::MailListView_Click() {
    if (Text2->text().toInt() == 0) {
        ShowNotice(this, kNoData);
        return;
    }
    const int n = recordOfChosenRow();
    // Rows there, none chosen (a click beside them): nothing to show.
    if (n < 1) return;
    showChosenRecord(n);
}

void TyakuForm::followCurrentRow() {
    // The arrow keys, Page Up and Down, Home and End move the highlight: the
    // message shown goes with it, so that what a button acts on is always
    // what the user reads.
    const int n = recordOfChosenRow();
    if (n >= 1 && (n != shownRecord_ || !listIsHistory_)) showChosenRecord(n);
}

QString TyakuForm::recordSubject(int n) const {
    if (n == shownRecord_) return Text7->text();
    return listIsHistory_ && n >= 1 && n <= static_cast<int>(model_->rows().size()) ? model_->shownTexts(n).subject
                                                                                     : QString();
}

void TyakuForm::showChosenRecord(int n) {
    const Result<HistoryRecord> record = ReadRecord(historyFile(), n);
    if (!record) {
        ShowError(this, kErrorTitle, record.error());
        return;
    }
    // The marker says "a row is chosen". A message without a date would
    // leave it empty and could never be deleted or answered: its row
    // number stands in.
    const QString date = withoutBlanks(record.value().Column3);
    Text5->setText(date.isEmpty() ? QString::number(n) : date);
    showRecord(record.value(), n);
}

bool TyakuForm::noRowChosen() {
    if (!Text5->text().isEmpty()) return false;
    ShowNotice(this, kNoSelection);
    return true;
}

void TyakuForm::clearSelectionMarker() { Text5->clear(); }

void TyakuForm::Command1_Click() {
    if (noRowChosen()) return;
    const int n = recordOfChosenRow();
    if (n < 1) {
        // The marker outlived its row (the list was built again since).
        ShowNotice(this, kNoSelection);
        return;
    }
    // The record, not its row: SelectedRow is a record number. The list is
    // held still while the question waits (no answer of a search comes in
    // under it); after the deletion the search runs again.
    SelectedRow = n;
    const bool filtering = searching();
    const bool wasPending = SearchPending();
    cancelSearch();
    if (!AskToConfirm(this, DeleteOneQuestion(viewerMode_, recordSubject(SelectedRow)))) {
        // Nothing changed: the search that was held back goes on.
        if (wasPending) startSearch();
        clearSelectionMarker();
        return;
    }
    const Result<HistoryRecord> read = recordAsShown(SelectedRow);
    if (!read) {
        if (wasPending) startSearch();
        clearSelectionMarker();
        ShowError(this, kErrorTitle, kNotDeleted + read.error());
        return;
    }
    const HistoryRecord& shown = read.value();
    recordBuffer_.Live = 0;
    clearMessageBoxes();
    const Status deleted = DeleteHistoryRecord(historyFile(), rewriteCopyFile(), SelectedRow, shown);
    listAfterRemoval(deleted ? SelectedRow : 0);
    if (filtering) refilterAfterDeletion();
    if (viewerMode_ == History::Sent) windows_.SetMainStatusLine(Text2->text());
    clearSelectionMarker();
    if (!deleted) ShowError(this, kErrorTitle, kNotDeleted + deleted.error());
    // A junk record's message came from the server as a received one did.
    if (deleted && viewerMode_ != History::Sent) {
        if (const Status noted = NoteReceivedRecordDeleted(program_.paths, shown); !noted)
            ShowError(this, kErrorTitle, noted.error());
    }
}

void TyakuForm::listAfterRemoval(int n) {
    // When exactly record n went, the list loses row n and is the file
    // again: the other rows need not be read anew (the last record does,
    // for the fields and the editor). After anything else (a failure, a
    // list that showed a mail check, another record that was still marked
    // and went too) the list is built again from the file.
    const int before = static_cast<int>(model_->rows().size());
    const bool onlyRowN = n >= 1 && listIsHistory_ && n <= before &&
                          QFileInfo(historyFile()).size() == static_cast<qint64>(before - 1) * kHistoryRecordSize;
    if (!onlyRowN) {
        model_->clear();
        FillViewerList();
        return;
    }
    model_->removeRecord(n);
    if (static_cast<size_t>(n - 1) < fingerprints_.size()) fingerprints_.erase(fingerprints_.begin() + (n - 1));
    const int count = before - 1;
    if (count > 0) {
        const Result<HistoryRecord> last = ReadRecord(historyFile(), count);
        if (!last) {
            model_->clear();
            FillViewerList();
            return;
        }
        showRecord(last.value(), count);
    }
    Text2->setText(QString::number(count));
}

void TyakuForm::Command5_Click() {
    // Opening the received history, and the one shown when it is another,
    // creates them when they are missing.
    Status there = CreateHistoryIfMissing(HistoryPath(program_.paths, History::Received));
    if (there && viewerMode_ != History::Received) there = CreateHistoryIfMissing(historyFile());
    if (!there) {
        ShowError(this, kErrorTitle, there.error());
        return;
    }
    if (searching()) {
        deleteShown();
        return;
    }
    if (!AskToConfirm(this, kDeleteAll)) return;
    // Read before they go.
    const std::optional<QList<QByteArray>> going = fingerprintsToNote();
    recordBuffer_.Live = 0;
    const Status deleted = DeleteAllHistoryRecords(historyFile(), rewriteCopyFile());
    model_->clear();
    Text2->setText(QStringLiteral("0"));
    clearMessageBoxes();
    if (!deleted) {
        // What is left is listed, so that the rows are the records again.
        FillViewerList();
        ShowError(this, kErrorTitle, kNotDeleted + deleted.error());
    }
    if (deleted && viewerMode_ != History::Sent) {
        const Status noted =
            going ? NoteReceivedRecordsDeleted(program_.paths, *going) : NoteAllReceivedRecordsDeleted(program_.paths);
        if (!noted) ShowError(this, kErrorTitle, noted.error());
    }
}

void TyakuForm::deleteShown() {
    // The question names what the list shows, and the list shows what the
    // box says: a search still on its way is settled first.
    if (SearchBox->text() != appliedQuery_ || searchRunning_ || searchTimer_->isActive()) filterNow();
    cancelSearch();
    const std::vector<int> numbers = model_->shownRecords();
    if (numbers.empty()) {
        ShowNotice(this, kNothingShown);
        return;
    }
    if (!AskToConfirm(this, kDeleteShown.arg(numbers.size()))) return;
    std::vector<ListedRecord> shown;
    shown.reserve(numbers.size());
    for (int n : numbers) {
        shown.push_back({n, model_->rows()[static_cast<size_t>(n - 1)]});
        if (n == recordBufferNumber_) recordBuffer_.Live = 0;
    }
    clearMessageBoxes();
    const RecordsRemoval removal = DeleteHistoryRecords(historyFile(), rewriteCopyFile(), viewerMode_, std::move(shown));
    // The rows are the records again, and the search shows what is left
    // of its answer.
    model_->clear();
    FillViewerList();
    refilterAfterDeletion();
    if (!removal.status) ShowError(this, kErrorTitle, kNotDeleted + removal.status.error());
    if (removal.removed > 0 && viewerMode_ != History::Sent) {
        if (const Status noted = NoteReceivedRecordsDeleted(program_.paths, removal.fingerprints); !noted)
            ShowError(this, kErrorTitle, noted.error());
    }
}

bool TyakuForm::SearchPending() const { return searchTimer_->isActive() || searchRunning_; }

bool TyakuForm::searching() const {
    return model_->filtered() || !SearchForm(SearchBox->text()).isEmpty();
}

void TyakuForm::searchTextChanged() {
    // The keystroke makes the search in flight old news.
    cancelSearch();
    if (SearchForm(SearchBox->text()).isEmpty()) {
        showWholeList();
        return;
    }
    searchTimer_->start();
}

void TyakuForm::cancelSearch() {
    searchTimer_->stop();
    if (searchCancel_) searchCancel_->store(true);
    searchCancel_.reset();
    ++searchGeneration_;
    searchRunning_ = false;
}

void TyakuForm::startSearch() {
    cancelSearch();
    const QString query = SearchBox->text();
    if (SearchForm(query).isEmpty()) {
        showWholeList();
        return;
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    searchCancel_ = cancel;
    const int generation = searchGeneration_;
    searchRunning_ = true;

    // The thread gets copies of what it needs and a promise; the answer
    // comes back to this thread through the watcher, which goes with the
    // window.
    auto promise = std::make_shared<QPromise<HistorySearchResult>>();
    auto* watcher = new QFutureWatcher<HistorySearchResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation, query] {
        watcher->deleteLater();
        // A later keystroke, a deletion or a load took over.
        if (generation != searchGeneration_ || watcher->future().resultCount() == 0) return;
        searchRunning_ = false;
        searchCancel_.reset();
        HistorySearchResult answer = watcher->result();
        if (answer.cancelled) return;
        applySearch(query, std::move(answer.records));
    });
    promise->start();
    watcher->setFuture(promise->future());
    // A received message whose record lost part of it is found in its copy
    // too, by the record's fingerprint.
    std::vector<QByteArray> fingerprints;
    if (viewerMode_ != History::Sent && listIsHistory_) fingerprints = fingerprints_;
    QThreadPool::globalInstance()->start([promise, cancel, search = search_, file = historyFile(), query,
                                          fingerprints = std::move(fingerprints)] {
        promise->addResult(SearchWithCopies(search, file, query, fingerprints, *cancel));
        promise->finish();
    });
}

void TyakuForm::applySearch(const QString& query, std::vector<int> records) {
    if (!listIsHistory_) {
        // The list shows a mail check's rows; the search was of the
        // history, and its rows come back to show the answer.
        Result<HistoryView> read = ReadHistoryView(historyFile());
        if (!read) {
            ShowError(this, kErrorTitle, read.error());
            return;
        }
        model_->setRows(std::move(read.value().rows));
        fingerprints_ = std::move(read.value().fingerprints);
        listIsHistory_ = true;
        showRowsFromCopies();
        Text2->setText(QString::number(model_->rows().size()));
    }
    appliedQuery_ = query;
    model_->showOnly(std::move(records));
    afterFilterChange();
}

void TyakuForm::afterFilterChange() {
    if (model_->filtered()) {
        SearchCount->setText(QStringLiteral("%1 / %2").arg(model_->rowCount()).arg(model_->rows().size()));
    } else {
        SearchCount->clear();
    }
    // The record on display keeps its highlight where it is still listed.
    // Where it is not, no row is chosen: a button must not act on a record
    // the list does not show.
    if (model_->rowOfRecord(shownRecord_) >= 0) {
        highlightRow(shownRecord_);
    } else {
        clearSelectionMarker();
    }
}

void TyakuForm::showWholeList() {
    appliedQuery_.clear();
    const bool was = model_->filtered();
    model_->showAll();
    afterFilterChange();
    if (!was) return;
    // Back among all the rows, the record on display is where the user
    // finds it.
    const int row = model_->rowOfRecord(shownRecord_);
    if (listIsHistory_ && row >= 0) MailListView->scrollTo(model_->index(row, 0));
}

void TyakuForm::clearSearch() {
    cancelSearch();
    {
        const QSignalBlocker quiet(SearchBox);
        SearchBox->clear();
    }
    appliedQuery_.clear();
    model_->showAll();
    SearchCount->clear();
}

void TyakuForm::filterNow() {
    cancelSearch();
    const QString query = SearchBox->text();
    if (SearchForm(query).isEmpty()) {
        showWholeList();
        return;
    }
    // The file was just written or listed, so it is in the page cache: a
    // full history is searched in well under the time its compaction took.
    const std::atomic<bool> never{false};
    std::vector<QByteArray> fingerprints;
    if (viewerMode_ != History::Sent && listIsHistory_) fingerprints = fingerprints_;
    HistorySearchResult answer = SearchWithCopies(search_, historyFile(), query, fingerprints, never);
    applySearch(query, std::move(answer.records));
}

void TyakuForm::refilterAfterDeletion() {
    filterNow();
    // The fields end on the last row the list shows, as after a deletion
    // in the whole list they end on the last record.
    const int last = model_->recordOfRow(model_->rowCount() - 1);
    if (last == 0) {
        clearMessageBoxes();
        return;
    }
    if (last == recordBufferNumber_ && shownRecord_ == last) return;
    const Result<HistoryRecord> record = ReadRecord(historyFile(), last);
    if (!record) {
        clearMessageBoxes();
        ShowError(this, kErrorTitle, record.error());
        return;
    }
    showRecord(record.value(), last);
}

void TyakuForm::Command4_Click() {
    if (viewerMode_ == History::Sent) {
        ShowNotice(this, kToYourself);
        return;
    }
    if (noRowChosen()) return;
    clearSelectionMarker();
    // From the boxes as they are, which the user may have edited; "Re:" is
    // the reply window's to add.
    windows_.ShowBackForm(ReplySource{withoutBlanks(Text7->text()), withoutBlanks(Text8->text()),
                                      withoutBlanks(rtfEd->toPlainText()), shownCopy_});
}

void TyakuForm::Command3_Click() {
    if (viewerMode_ == History::Sent) {
        ShowNotice(this, kToYourself);
        return;
    }
    if (noRowChosen()) return;
    clearSelectionMarker();
    windows_.ShowFriendFormWithAddress(Text8->text());
}

void TyakuForm::ShowCheckedMail() {
    showJunkButtons();
    if (viewerMode_ == History::Junk) {
        showCheckInJunkView();
        return;
    }
    const ViewerData& checked = program_.viewer;
    if (checked.listedChecks != checkedChecks_ || !sameRows(checked.rows, checkedRows_)) {
        checkedChecks_ = checked.listedChecks;
        checkedRows_ = checked.rows;
        // The check's rows are messages, not records: no search of the
        // history describes them, and the user came to see all of them.
        clearSearch();
        model_->setRows(checked.rows);
        listIsHistory_ = false;
        // The check added copies: they are paired for the next click.
        reader_->loadSources(viewerMode_);
    }
    if (checked.subject != checkedSubject_ || checked.from != checkedFrom_ || checked.date != checkedDate_ ||
        checked.body != checkedBody_) {
        checkedSubject_ = checked.subject;
        checkedFrom_ = checked.from;
        checkedDate_ = checked.date;
        checkedBody_ = checked.body;
        showField(Text7, checked.subject);
        showField(Text9, checked.date);
        showField(Text8, checked.from);
        clearShownMessage();
        rtfEd->setPlainText(EditorText(checked.body));
        shownRecord_ = 0;
    }
}

void TyakuForm::showHelp(const QString& text) {
    if (Text4->toPlainText() != text) Text4->setPlainText(text);
    Text4->show();
    Text4->raise();
}

QString TyakuForm::helpOf(const QObject* control) const {
    const bool junkView = viewerMode_ == History::Junk;
    if (control == Command1) return kHelpCommand1;
    if (control == Command3) return kHelpCommand3;
    if (control == Command4) return kHelpCommand4;
    if (control == Command5) return kHelpCommand5;
    if (control == JunkListButton) return junkView ? kHelpBackToReceived : kHelpJunkList;
    if (control == JunkVerdictButton) return junkView ? kHelpNotJunk : kHelpToJunk;
    return {};
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Leave && Text4->isVisible()) {
        // The mouse left a button (perhaps for another window, or the list):
        // its help goes with it, rather than lying over the text until the
        // mouse happens to cross the bare window.
        // What a move of a message said stays when the mouse leaves its
        // button: it came for the click, not for the hover.
        if (!helpOf(watched).isEmpty() && !showingJunkNote()) Text4->hide();
        return false;
    }
    if (type == QEvent::MouseMove || type == QEvent::Enter) {
        if (const QString help = helpOf(watched); !help.isEmpty()) {
            if (watched != JunkVerdictButton || !showingJunkNote()) showHelp(help);
            return false;
        }
        if (watched == rtfEd->viewport() && type == QEvent::MouseMove) {
            Text4->hide();
        } else if (watched == client_ && type == QEvent::MouseMove) {
            // Over the bare window only: a move that a control passed up to
            // the window is over that control.
            const auto* move = static_cast<QMouseEvent*>(event);
            if (!client_->childAt(move->position().toPoint())) {
                Text4->hide();
                Text4->clear();
            }
        }
        return false;
    }
    if (watched == MailListView->viewport() && type == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // After the view's own handling of the press has chosen the row.
        MailListView_Click();
        return false;
    }
    if (watched == SearchBox && type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Esc empties the box, and the list is whole again.
        SearchBox->clear();
        return true;
    }
    if (watched == MailListView && type == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            MailListView_Click();
            return true;
        }
        // Once the view has moved its highlight for the key.
        QTimer::singleShot(0, this, &TyakuForm::followCurrentRow);
    }
    return QWidget::eventFilter(watched, event);
}

void TyakuForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A mail check runs with this window disabled and leaves its rows in
    // the program's viewer data; they show when the window comes back.
    if (event->type() == QEvent::EnabledChange && isEnabled()) ShowCheckedMail();
    // 受信の設定 may have turned the junk filter on or off meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) showJunkButtons();
}

void TyakuForm::closeEvent(QCloseEvent* event) {
    // The close box: the editor tidies its settings and the window goes
    // (it is deleted on close). Never cancelled.
    editor_->ClearEditorSettings();
    event->accept();
}

}  // namespace lumopet
