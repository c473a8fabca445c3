#include "compose/address_completer.h"

#include "ui/limited_text_box.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextCursor>
#include <QThreadPool>

#include <algorithm>

namespace lumopet {

namespace {

// The most characters the box takes, or -1 for no limit.
qsizetype LimitOf(QLineEdit* line, QPlainTextEdit* plain) {
    if (line) return line->maxLength();
    if (const auto* limited = dynamic_cast<const LimitedTextEdit*>(plain)) return limited->maxLength();
    return -1;
}

}  // namespace

AddressCompleter::AddressCompleter(QObject* parent)
    : QObject(parent), completer_(new QCompleter(this)), model_(new QStringListModel(this)) {
    completer_->setModel(model_);
    // The index has chosen and ordered the people: the completer only shows them.
    completer_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    completer_->setMaxVisibleItems(kCompletionLimit);
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this, &AddressCompleter::accept);
    // Installed after the completer's own filter, so asked first.
    completer_->popup()->installEventFilter(this);
}

bool AddressCompleter::eventFilter(QObject* watched, QEvent* event) {
    if (watched != completer_->popup() || event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    QAbstractItemView* list = completer_->popup();
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab: {
        const QModelIndex chosen = list->currentIndex();
        list->hide();
        if (chosen.isValid()) accept(chosen.data().toString());
        return true;
    }
    case Qt::Key_Escape:
        list->hide();
        return true;
    default:
        return false;
    }
}

void AddressCompleter::setIndex(std::shared_ptr<const AddressIndex> index) {
    index_ = std::move(index);
    Q_EMIT indexReady();
}

void AddressCompleter::loadInBackground(const AddressSources& sources) {
    QPointer<AddressCompleter> self(this);
    QThreadPool::globalInstance()->start([self, sources] {
        auto index = std::make_shared<const AddressIndex>(BuildAddressIndex(sources));
        // The completer lives on the window thread: only there can it be
        // asked whether it is still there.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [self, index] {
                if (self) self->setIndex(index);
            },
            Qt::QueuedConnection);
    });
}

void AddressCompleter::attach(QLineEdit* box) {
    // textEdited: only what the user typed opens the list, not a text the
    // window puts in.
    connect(box, &QLineEdit::textEdited, this, [this, box] { typed(Box{box, box, nullptr}); });
}

void AddressCompleter::attach(QPlainTextEdit* box) {
    connect(box, &QPlainTextEdit::textChanged, this, [this, box] {
        if (box->hasFocus()) typed(Box{box, nullptr, box});
    });
}

QAbstractItemView* AddressCompleter::popup() const { return completer_->popup(); }

QString AddressCompleter::textOf(const Box& box) {
    return box.line ? box.line->text() : box.plain->toPlainText();
}

qsizetype AddressCompleter::cursorOf(const Box& box) {
    return box.line ? box.line->cursorPosition() : box.plain->textCursor().position();
}

void AddressCompleter::typed(const Box& box) {
    if (replacing_ || !index_) return;
    const std::vector<KnownPerson> people = index_->complete(QueryAt(textOf(box), cursorOf(box)));
    if (people.empty()) {
        close();
        return;
    }
    showList(box, people);
}

void AddressCompleter::showList(const Box& box, const std::vector<KnownPerson>& people) {
    current_ = box;
    QStringList shown;
    for (const KnownPerson& person : people) shown << person.display();
    model_->setStringList(shown);
    completer_->setWidget(box.widget);
    QAbstractItemView* list = completer_->popup();
    // Under the line being typed, as wide as the box or the longest entry.
    QRect under = box.widget->rect();
    if (box.plain) {
        const QRect line = box.plain->cursorRect().translated(box.plain->viewport()->pos());
        under.setTop(line.top());
        under.setBottom(line.bottom());
    }
    under.setWidth(std::max(under.width(), list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() +
                                               2 * list->frameWidth()));
    completer_->complete(under);
    // Enter takes the first at once; the arrows move from there.
    list->setCurrentIndex(completer_->completionModel()->index(0, 0));
}

void AddressCompleter::close() {
    if (completer_->popup()->isVisible()) completer_->popup()->hide();
}

void AddressCompleter::accept(const QString& display) {
    const Box box = current_;
    if (!box.widget) return;
    const QString text = textOf(box);
    const TypedSegment segment = SegmentAt(text, cursorOf(box));
    // A box that would cut the entry takes the bare address, and when even
    // that does not fit, keeps what was typed: a cut address would go to
    // somebody else.
    QString entry = display;
    const qsizetype limit = LimitOf(box.line, box.plain);
    const qsizetype kept = text.size() - (segment.end - segment.start);
    if (limit >= 0 && kept + entry.size() > limit) {
        const qsizetype open = entry.lastIndexOf(u'<');
        if (open >= 0 && entry.endsWith(u'>')) entry = entry.mid(open + 1, entry.size() - open - 2);
        if (kept + entry.size() > limit) return;
    }
    replacing_ = true;
    if (box.line) {
        box.line->setSelection(static_cast<int>(segment.start), static_cast<int>(segment.end - segment.start));
        box.line->insert(entry);
    } else {
        QTextCursor cursor = box.plain->textCursor();
        cursor.setPosition(static_cast<int>(segment.start));
        cursor.setPosition(static_cast<int>(segment.end), QTextCursor::KeepAnchor);
        cursor.insertText(entry);
        box.plain->setTextCursor(cursor);
    }
    replacing_ = false;
}

}  // namespace lumopet
