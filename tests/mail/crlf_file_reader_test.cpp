#include "mail/crlf_file_reader.h"

#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace lumopet::mail {
namespace {

// Read in pieces of every size curl might ask for, the file comes out whole
// with CR LF, and no piece is larger than asked: an LF that does not fit
// after its CR comes first in the next piece.
TEST(CrLfFileReader, GivesTheFileWithCrLfInPiecesOfAnySize) {
    test::TempFolder folder;
    QByteArray lf = "\n\nfirst line\nx\n\n";
    for (int i = 0; i < 2000; ++i) lf += QByteArray::number(i) + (i % 3 ? "\n" : "\n\n");
    folder.write(QStringLiteral("message"), lf);
    const QByteArray expected = QByteArray(lf).replace("\n", "\r\n");
    for (const size_t room : {1, 2, 3, 5, 64, 65536}) {
        QFile file(folder.path(QStringLiteral("message")));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        CrLfFileReader reader(file.handle());
        QByteArray out;
        std::vector<char> piece(room);
        for (ssize_t got; (got = reader.read(piece.data(), room)) != 0;) {
            ASSERT_GT(got, 0) << room;
            ASSERT_LE(static_cast<size_t>(got), room);
            out.append(piece.data(), got);
        }
        EXPECT_TRUE(out == expected) << "pieces of " << room;
    }
}

}  // namespace
}  // namespace lumopet::mail
