#pragma once
// Completion under the recipient boxes (宛先, CC, BCC): as the user types an
// address, a list of the people it could be opens under the box. The arrow
// keys choose, Enter, Tab or a click take one, Escape closes the list.
// Taking one replaces only the address being typed: the others in the box
// and their separators stay as they were.
//
// One completer serves all the boxes of a window; its index is built on the
// thread pool when the window opens (loadInBackground), and the list stays
// closed until it is there.

#include "compose/address_completion.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QAbstractItemView;
class QCompleter;
class QLineEdit;
class QPlainTextEdit;
class QStringListModel;
class QWidget;

namespace lumopet {

class AddressCompleter : public QObject {
    Q_OBJECT
public:
    explicit AddressCompleter(QObject* parent = nullptr);

    void setIndex(std::shared_ptr<const AddressIndex> index);
    // Reads the sources on the thread pool and sets the index when done
    // (indexReady). A completer gone by then drops it.
    void loadInBackground(const AddressSources& sources);
    bool hasIndex() const { return index_ != nullptr; }

    // Completes in box from now on, for as long as both live.
    void attach(QLineEdit* box);
    void attach(QPlainTextEdit* box);

    // The list under the box, for the tests.
    QAbstractItemView* popup() const;

Q_SIGNALS:
    void indexReady();

protected:
    // The list's keys: Enter and Tab take the chosen entry, Escape closes,
    // and none of them goes on into the box (a line break or a tab there
    // would become part of the address).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Box {
        QPointer<QWidget> widget;
        QLineEdit* line = nullptr;
        QPlainTextEdit* plain = nullptr;
    };
    static QString textOf(const Box& box);
    static qsizetype cursorOf(const Box& box);

    void typed(const Box& box);
    void accept(const QString& display);
    void showList(const Box& box, const std::vector<KnownPerson>& people);
    void close();

    std::shared_ptr<const AddressIndex> index_;
    QCompleter* completer_;
    QStringListModel* model_;
    Box current_;            // the box the list is open under
    bool replacing_ = false;  // our own edit: not the user's typing
};

}  // namespace lumopet
