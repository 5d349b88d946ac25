#pragma once

#include "gdt/GdtCharset.h"
#include "gdt/GdtRecord.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace velmora {

// The record types a practice's software sends a device.
enum class GdtRequestType {
    MasterData = 6301,       // the patient's data
    Examination = 6302,      // a new examination of the patient
    Cancel = 6303,           // a request not yet begun is withdrawn (3.x)
    ShowExamination = 6311,  // show the patient's data of an examination
};

// The patient as the request names it, texts as they stand (trimmed of blanks at the end).
struct GdtPatient {
    QString patientNumber;  // 3000
    QString name;           // 3101
    QString firstName;      // 3102
    QString birthDate;      // 3103, TTMMJJJJ as sent
    QString postcode;       // 3112, or split off the front of 3106
    QString town;           // 3113, or 3106 without its postcode
    QString street;         // 3107
    QString telephone;      // 3626, else 3618
    QString email;          // 3619

    bool operator==(const GdtPatient&) const = default;
};

struct GdtRequest {
    GdtRequestType type = GdtRequestType::Examination;
    QString receiverId;  // 8315: this device's id as the sender knows it
    QString senderId;    // 8316: the practice software's id
    QString version;     // 9218 as sent, empty when absent
    GdtCharset charset = kGdtDefaultCharset;
    bool charsetGiven = false;  // whether 9206 named it
    GdtPatient patient;
    std::vector<GdtField> fields;  // every line after 8000, in order
};

// Why a request was refused: the line (1 for the first; one past the last for what is missing
// at the end) and the reason, in German.
struct GdtRefusal {
    int line = 0;
    QString reason;

    // "Zeile <n>: <reason>"
    QString Message() const;
};

// Reads a request (6301, 6302, 6303, 6311) of GDT 2.x or 3.x. Lines ending in LF only, a missing
// 8100, ids longer than 8 characters and a version written as "2.10" are taken; a line whose
// length prefix does not match it, a record type that is not a request, an unknown character set
// and a request without a patient number (3000) are refused. The bytes are read as code page 437
// until 9206 names the set, and then in that set.
std::variant<GdtRequest, GdtRefusal> GdtReadRequest(QByteArrayView bytes);

// The largest request file read; a longer one is not a request.
inline constexpr qsizetype kGdtMaxRequestBytes = 256 * 1024;

}  // namespace velmora
