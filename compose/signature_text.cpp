#include "compose/signature_text.h"

namespace lumopet {
namespace {

bool startsWithSeparatorLine(QStringView signature) {
    return signature == kSignatureSeparator || signature.startsWith(kSignatureSeparator + u'\n');
}

}  // namespace

QString SignatureBlock(QStringView signature) {
    if (signature.isEmpty()) return {};
    // The line break before the separator is the program's own, so taking
    // the block out gives the body back exactly as it was typed, whether
    // it ended in a line break or not.
    if (startsWithSeparatorLine(signature)) return u'\n' + signature.toString();
    return u'\n' + kSignatureSeparator + u'\n' + signature.toString();
}

int SignatureAtEnd(QStringView body, const std::array<QString, 3>& signatures) {
    // The longest wins: a block that ends with another one's must not be
    // taken for the shorter.
    int found = -1;
    qsizetype foundLength = 0;
    for (int i = 0; i < static_cast<int>(signatures.size()); ++i) {
        const QString block = SignatureBlock(signatures[i]);
        if (block.isEmpty() || !body.endsWith(block) || block.size() <= foundLength) continue;
        found = i;
        foundLength = block.size();
    }
    return found;
}

SignedBody BodyWithSignature(const QString& body, QStringView current, QStringView next) {
    const QString oldBlock = SignatureBlock(current);
    const QString newBlock = SignatureBlock(next);
    SignedBody result{body, false};
    if (!oldBlock.isEmpty()) {
        if (body.endsWith(oldBlock)) {
            if (oldBlock == newBlock) return result;
            result.body.chop(oldBlock.size());
        } else {
            result.keptEditedBlock = true;
        }
    }
    result.body += newBlock;
    return result;
}

}  // namespace lumopet
