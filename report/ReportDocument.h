#pragma once

#include <QDate>
#include <QString>

#include <array>
#include <optional>

namespace velmora {

class TWordApplication;

// Today's thresholds beside those of the patient's earlier visit, per ear and test frequency
// (125 ... 8000 Hz): levels in tenths as the gauge shows them, -1 where none was taken.
struct TReportComparison {
    QDate EarlierDate;
    std::array<int, 7> LeftToday{}, LeftEarlier{}, RightToday{}, RightEarlier{};
    // The earlier visit's sound output, where it was another than today's; empty otherwise.
    QString OtherOutput;
};

// What a report is made of: the patient fields as the window shows them, today's date and the
// curve pictures. Each text is taken whole, as it stands.
struct TReportSources {
    QString PatientId;  // Edit1
    QString FirstName;  // Edit2
    QString Name;       // Edit3
    QString Town;       // Edit4
    QString Street;     // Edit5
    QString EMail;      // Edit6
    QString Doctor;     // Edit7, the treating ear, nose and throat doctor
    QString Postcode;   // NumEdit1, its displayed text
    QString Telephone;  // NumEdit2, its displayed text
    QString Remarks;    // Memo1, lines separated by CR LF as the memo holds them
    QDate Date;
    // Bitmap files of the curves: both ears, left ear, right ear. A path whose file does not
    // exist leaves its section without a picture.
    std::array<QString, 3> CurvePictures;
    // For a patient seen before: the comparison that ends the report. A first visit has none, and
    // its report is as it always was.
    std::optional<TReportComparison> Comparison;
};

// The labels of the patient block; their trailing blanks line the values up in the word
// processor's proportional default font.
inline constexpr char kPatientLabel[] = "Patient:                         ";
inline constexpr char kPatientIdLabel[] = "Patienten-ID:                ";
inline constexpr char kAddressLabel[] = "Anschrift:                     ";
inline constexpr char kTownIndent[] = "                                     ";
inline constexpr char kTelephoneLabel[] = "Telefon:                        ";
inline constexpr char kEMailLabel[] = "E-Mail:                         ";
inline constexpr char kDoctorLabel[] = "Behandelnder Arzt:      ";

// The maker's notice under the title.
inline constexpr char kMakersNotice[] =
    "Erstellt mit Velmora - Relativtest V 1.00, (c) 2026 Das Velmora-Team";

// Writes the report into a new document of the word processor that `word` connects to (the
// running instance or a new one, as its ConnectKind says), from top to bottom at the
// selection, and closes the document, which leaves saving to the word processor. If closing
// fails, `word` disconnects.
//
// When no word processor can be reached, the operator is told so in the "Fehler" box and
// nothing is sent. A failing guarded call shows its box: Yes ends the run with an
// EOleException (for the window's error box), No and Cancel let the run go on.
//
// A word processor that goes away or stops answering during the run (its calls fail with
// RPC_E_DISCONNECTED), its Close included, is let go, and the whole report is written once more
// by the server that stands in for it (the registry's first, the built-in writer: saved as .docx
// and PDF, and opened); one box tells the operator that the connection was lost and where the
// file is ("... als Datei gespeichert: <path>"), or that the report is not finished where nothing
// stands in.
//
// With `pdfForPractice` (a patient who came from the practice's software), the finished report
// is also wanted as PDF for the practice's file, and its path is returned (empty where there is
// none): the built-in writer's PDF beside its .docx when the report went through it, else the
// same report written once more by the built-in writer (the server that stands in) into a
// document nobody sees, saved as PDF only and opened nowhere. A report not finished has none.
//
// Runs on one thread with everything else that uses `word` (the report's thread in the program);
// its boxes are shown by the window's thread.
QString WriteReport(TWordApplication& word, const TReportSources& sources,
                    bool pdfForPractice = false);

}  // namespace velmora
