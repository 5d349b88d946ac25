#include "gdt/GdtRecord.h"

#include <algorithm>

namespace velmora {

namespace {

QByteArray Line(int id, QByteArray content) {
    content.truncate(gdt::kMaxLineLength - gdt::kLineOverhead);
    const int length = int(content.size()) + gdt::kLineOverhead;
    QByteArray line = QByteArray::number(length).rightJustified(3, '0');
    line += QByteArray::number(id).rightJustified(4, '0');
    line += content;
    line += "\r\n";
    return line;
}

}  // namespace

QByteArray GdtWriteRecord(int recordType, const std::vector<GdtField>& fields, GdtCharset charset) {
    QByteArray body;
    for (const GdtField& field : fields) {
        QString content = field.content;
        for (QChar& c : content) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
                c = QLatin1Char(' ');
            }
        }
        body += Line(field.id, GdtEncode(content, charset));
    }
    const QByteArray head = Line(gdt::kRecordType, QByteArray::number(recordType));
    // The record's length counts every line, this one (always 14 bytes) included.
    constexpr int kLengthLine = gdt::kLineOverhead + 5;
    const qsizetype total = head.size() + kLengthLine + body.size();
    const QByteArray length =
        Line(gdt::kRecordLength,
             QByteArray::number(std::min<qsizetype>(total, 99999)).rightJustified(5, '0'));
    return head + length + body;
}

}  // namespace velmora
