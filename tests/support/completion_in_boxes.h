#pragma once
// Completion in a window's recipient boxes, as the compose and the reply
// window's tests check it: once the window has read its people, typing into
// each box opens the list under it with the one person it should find.

#include "compose/address_completer.h"

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <initializer_list>

namespace lumopet::test {

inline void ExpectCompletionInEachBox(QWidget& window, AddressCompleter& completer,
                                      std::initializer_list<QWidget*> boxes, const QString& typed,
                                      const QString& found) {
    QSignalSpy ready(&completer, &AddressCompleter::indexReady);
    ASSERT_TRUE(completer.hasIndex() || ready.wait(5000));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (QWidget* box : boxes) {
        box->setFocus();
        QTest::keyClicks(box, typed);
        ASSERT_TRUE(QTest::qWaitFor([&] { return completer.popup()->isVisible(); }, 2000)) << box->y();
        const QAbstractItemModel* shown = completer.popup()->model();
        ASSERT_EQ(shown->rowCount(), 1) << box->y();
        EXPECT_TRUE(shown->index(0, 0).data().toString().contains(found)) << box->y();
        QTest::keyClick(completer.popup(), Qt::Key_Escape);
    }
}

}  // namespace lumopet::test
