#pragma once

#include "records/PatientRecords.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace velmora {

// A patient's visits taken out of Velmora in open formats, for a spreadsheet or another program.

// A visit with every take, in the order taken.
struct ExportedVisit {
    VisitInfo visit;
    std::vector<ThresholdTake> takes;
};

enum class ExportFormat { Csv, Fhir };
// The format of a file name's extension: .csv, .json; none for another.
std::optional<ExportFormat> ExportFormatOf(const QString& path);

// One row per threshold taken: Patienten-ID, Name, Vorname, Datum, Uhrzeit, Ohr, Frequenz in Hz,
// Stufe; ';' between the fields, UTF-8 with a byte order mark and CR LF, the level with a decimal
// comma, as a German spreadsheet opens it. A text that a spreadsheet would take for a formula
// (=, +, -, @ first) starts with an apostrophe.
QByteArray PatientCsv(const PatientFields& patient, const std::vector<ExportedVisit>& visits);

// A FHIR R4 Bundle (JSON, type "collection"): the Patient, and one Observation per visit with a
// component per ear and frequency (the last take counts). The level is a Quantity in "Stufe"
// coded in Velmora's own code system (kVelmoraCodeSystem): a relative level is no hearing level,
// so no dB unit and no audiometry code of a standard terminology is used.
QByteArray PatientFhirBundle(const QString& internalId, const PatientFields& patient,
                             const std::vector<ExportedVisit>& visits, const QDateTime& exportedAt);
inline constexpr char kVelmoraCodeSystem[] = "urn:velmora:relativer-hoertest";

// The stored patient with this Patienten-ID (exactly); its internal id.
std::optional<QString> PatientWithNumber(PatientRecords& records, const QString& patientNumber);

// Writes the visits of the patient `internalId` to `path` in the format of its extension. Empty,
// or why not, in German.
QString ExportPatient(PatientRecords& records, const QString& internalId, const QString& path);

}  // namespace velmora
