#pragma once

#include "gdt/GdtCharset.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace velmora {

// GDT field ids used by Velmora.
namespace gdt {
inline constexpr int kRecordType = 8000;
inline constexpr int kRecordLength = 8100;
inline constexpr int kReceiverId = 8315;
inline constexpr int kSenderId = 8316;
inline constexpr int kCharset = 9206;
inline constexpr int kVersion = 9218;
inline constexpr int kPatientNumber = 3000;
inline constexpr int kName = 3101;
inline constexpr int kFirstName = 3102;
inline constexpr int kBirthDate = 3103;
inline constexpr int kTown = 3106;
inline constexpr int kStreet = 3107;
inline constexpr int kPostcode = 3112;
inline constexpr int kPlace = 3113;
inline constexpr int kMobile = 3618;
inline constexpr int kEmail = 3619;
inline constexpr int kTelephone = 3626;
inline constexpr int kProcedure = 8402;
inline constexpr int kDate = 6200;
inline constexpr int kTime = 6201;
inline constexpr int kFindings = 6220;
inline constexpr int kTableLines = 6226;
inline constexpr int kTableText = 6228;
inline constexpr int kFileId = 6302;
inline constexpr int kFileFormat = 6303;
inline constexpr int kFileDescription = 6304;
inline constexpr int kFilePath = 6305;
inline constexpr int kTestId = 8410;
inline constexpr int kTestValue = 8420;
inline constexpr int kTestUnit = 8421;

// A line is its 3-digit length, the 4-digit field id, the content and CR LF.
inline constexpr int kLineOverhead = 9;
inline constexpr int kMaxLineLength = 999;
}  // namespace gdt

// A GDT line: the field id and its content, as text.
struct GdtField {
    int id = 0;
    QString content;

    bool operator==(const GdtField&) const = default;
};

// Writes a record: the 8000 line, the 8100 line with the record's byte length (5 digits, as in
// version 2.1), then `fields`, each line with its length prefix and CR LF, in `charset`. Control
// characters in a content become blanks and a content longer than a line holds is cut, so that
// every line stays a line of its stated length.
QByteArray GdtWriteRecord(int recordType, const std::vector<GdtField>& fields, GdtCharset charset);

}  // namespace velmora
