#include "ReportDocument.h"

#include "framework/MessageBox.h"
#include "report/OleCheck.h"
#include "report/WordApplication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <exception>
#include <memory>

namespace velmora {

using namespace Word_2k;

namespace {

static_assert(sizeof(kPatientLabel) - 1 == 33 && sizeof(kPatientIdLabel) - 1 == 29 &&
              sizeof(kAddressLabel) - 1 == 31 && sizeof(kTownIndent) - 1 == 37 &&
              sizeof(kTelephoneLabel) - 1 == 32 && sizeof(kEMailLabel) - 1 == 32 &&
              sizeof(kDoctorLabel) - 1 == 24);

constexpr char kNoWordProcessor[] =
    "Das Programm 'MS Word' ist nicht installiert\noder kann nicht gefunden werden!\n"
    "Sie können ohne 'MS Word' keinen Bericht erstellen.";

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// One step of the report; each fetches the selection (and its font) afresh.
class ReportWriter {
public:
    explicit ReportWriter(TWordApplication& word) : word_(word) {}

    void Bold(bool on) { word_.Get_Selection().get_Font().set_Bold(on ? 1 : 0); }
    void Size(float points) { word_.Get_Selection().get_Font().set_Size(points); }
    void Type(const QString& text) { word_.Get_Selection().TypeText(WideString(text)); }
    void NewParagraph() { word_.Get_Selection().TypeParagraph(); }

    // The picture, if its file exists, followed by a paragraph break.
    void Picture(const QString& path) {
        if (!QFile::exists(path)) {
            return;
        }
        word_.Get_Selection().get_InlineShapes().AddPicture(WideFileName(path));
        NewParagraph();
    }

private:
    TWordApplication& word_;
};

// A level as the gauge shows it, one decimal; a dash where none was taken.
QString Level(int tenths) {
    return tenths < 0 ? QStringLiteral("–")
                      : QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

// The comparison with the earlier visit: a heading and one line per frequency, the columns
// separated by tabs; like the remarks before it, the document ends without a line feed.
void WriteComparison(ReportWriter& report, const TReportComparison& comparison) {
    static const int frequencies[7] = {125, 250, 500, 1000, 2000, 4000, 8000};
    report.Bold(true);
    report.NewParagraph();
    report.Type(QStringLiteral("Vergleich mit der Untersuchung vom ") +
                comparison.EarlierDate.toString(QStringLiteral("dd.MM.yyyy")) + u'\n');
    report.Type(
        QStringLiteral("Frequenz\tLinks heute\tLinks damals\tRechts heute\tRechts "
                       "damals\n"));
    report.Bold(false);
    QStringList lines;
    for (std::size_t slot = 0; slot < 7; ++slot) {
        lines << QStringLiteral("%1 Hz\t%2\t%3\t%4\t%5")
                     .arg(frequencies[slot])
                     .arg(Level(comparison.LeftToday[slot]), Level(comparison.LeftEarlier[slot]),
                          Level(comparison.RightToday[slot]), Level(comparison.RightEarlier[slot]));
    }
    if (!comparison.OtherOutput.isEmpty()) {
        lines << QStringLiteral(
                     "Die frühere Untersuchung wurde über eine andere Tonausgabe (%1) "
                     "gemacht; die Pegel sind nicht unmittelbar vergleichbar.")
                     .arg(comparison.OtherOutput);
    }
    report.Type(lines.join(u'\n'));
}

// Types the whole report into a new document of the connected word processor and closes it,
// with `saveChanges` for Close; the closed document in *closed. Close's result.
HRESULT TypeReport(TWordApplication& word, const TReportSources& sources, TVariant* saveChanges,
                   WordDocumentPtr* closed, TVariant* visible = TNoParam()) {
    word.Get_Documents().Add(TNoParam(), TNoParam(), TNoParam(), visible);  // released at once

    ReportWriter report(word);
    const QString lf = QStringLiteral("\n");

    report.Bold(true);
    report.Size(18);
    report.Type(QStringLiteral("Velmora - Relativtest vom ") +
                QLocale().toString(sources.Date, QLocale::ShortFormat) + lf);

    report.Bold(false);
    report.Size(14);
    report.Type(Text(kMakersNotice) + lf + lf);

    report.Bold(false);
    report.Size(14);

    report.Type(Text(kPatientLabel) + sources.FirstName + QLatin1Char(' ') + sources.Name + lf);
    report.Type(Text(kPatientIdLabel) + sources.PatientId + lf);
    report.Type(Text(kAddressLabel) + sources.Street + lf);
    report.Type(Text(kTownIndent) + sources.Postcode + QLatin1Char(' ') + sources.Town + lf);
    report.Type(Text(kTelephoneLabel) + sources.Telephone + lf);
    report.Type(Text(kEMailLabel) + sources.EMail + lf);
    report.Type(Text(kDoctorLabel) + sources.Doctor + lf);

    report.NewParagraph();
    report.Bold(true);
    report.Type(QStringLiteral("Kurve für beide Ohren:\n"));
    report.Bold(false);
    report.NewParagraph();
    report.Picture(sources.CurvePictures[0]);
    report.NewParagraph();

    report.Bold(true);
    report.Type(QStringLiteral("Kurve für das linke Ohr:\n"));
    report.Bold(false);
    report.NewParagraph();
    report.Picture(sources.CurvePictures[1]);
    report.NewParagraph();

    report.Bold(true);
    report.Type(QStringLiteral("Kurve für das rechte Ohr:\n"));
    report.Bold(false);
    report.NewParagraph();
    report.Picture(sources.CurvePictures[2]);

    report.Bold(true);
    report.NewParagraph();
    report.Type(QStringLiteral("Bemerkungen:\n"));
    report.Bold(false);
    report.Type(sources.Remarks);
    if (sources.Comparison) {
        WriteComparison(report, *sources.Comparison);
    }

    *closed = word.Get_ActiveDocument();
    return closed->Close(saveChanges);
}

constexpr char kConnectionLost[] = "Die Verbindung zu LibreOffice Writer ist verloren.";

// The report written by the server that stands in for the word processor (the built-in writer)
// into a document added with `visible`, and saved; the file it was saved in, or empty.
QString TypeByStandIn(TServerRegistry& registry, const TReportSources& sources, TVariant* visible) {
    QString savedAs;
    IUnknown* found = nullptr;
    if (SUCCEEDED(registry.CreateStandInInstance(CLSID_WordApplication, &found))) {
        const IUnknownPtr server(found);
        found->Release();  // `server` holds its own reference
        _ApplicationPtr application;
        application.QueryFrom(server.get());
        TWordApplication standIn(nullptr);
        standIn.SetConnectKind(ckAttachToInterface);
        standIn.ConnectTo(application);
        try {
            TVariant save = TVariant::Bool(true);
            WordDocumentPtr closed;
            WideString name;
            if (standIn.Connected() &&
                TypeReport(standIn, sources, &save, std::addressof(closed), visible) == S_OK &&
                SUCCEEDED(closed.get_FullName(&name))) {
                savedAs = name.ToQString();
            }
        } catch (const EServerGone&) {
            // Gone as well: the box below says that the report is not finished.
        }
        standIn.Disconnect();
    }
    return savedAs;
}

// The report that the word processor could not finish, written by the server that stands in for
// it, saved as a file and opened, so that the operator has it; one box says where it is. The
// file, or empty.
QString WriteStandInReport(TServerRegistry& registry, const TReportSources& sources) {
    const QString savedAs = TypeByStandIn(registry, sources, TNoParam());
    MessageBox(
        QString::fromUtf8(kConnectionLost) + QLatin1Char('\n') +
            (savedAs.isEmpty() ? QStringLiteral("Der Bericht wurde nicht fertiggestellt.")
                               : QStringLiteral("Der Bericht wurde als Datei gespeichert: ") +
                                     QDir::toNativeSeparators(savedAs)),
        QStringLiteral("Fehler"), MB_OK | MB_ICONERROR);
    return savedAs;
}

// The PDF that the built-in writer keeps beside the report's .docx; empty where there is none.
QString PdfBeside(const QString& document) {
    if (!document.endsWith(QStringLiteral(".docx"), Qt::CaseInsensitive)) {
        return {};
    }
    const QFileInfo docx(document);
    const QString pdf = docx.dir().filePath(docx.completeBaseName() + QStringLiteral(".pdf"));
    return QFileInfo::exists(pdf) ? pdf : QString();
}

// The report once more for the practice's file: by the built-in writer into a document nobody
// sees, saved as PDF only and opened nowhere.
QString WritePracticePdf(TServerRegistry& registry, const TReportSources& sources) {
    try {
        TVariant hidden = TVariant::Bool(false);
        return TypeByStandIn(registry, sources, &hidden);
    } catch (const std::exception&) {
        return {};  // the report itself is made; only the practice's copy is missing
    }
}

}  // namespace

QString WriteReport(TWordApplication& word, const TReportSources& sources, bool pdfForPractice) {
    // A word processor that the user closed, or that ended, since the last report: this report
    // connects anew (to one that runs, or a new one) instead of failing at every step. Showing
    // the one still connected is the run's first step.
    bool shown = false;
    if (word.Connected()) {
        shown = word.GetDefaultInterface().set_Visible(OLE_TRUE) != RPC_E_DISCONNECTED;
        if (!shown) {
            word.Disconnect();
        }
    }
    try {
        word.Connect();
    } catch (const std::exception&) {
        MessageBox(QString::fromUtf8(kNoWordProcessor), QStringLiteral("Fehler"),
                   MB_ICONERROR | MB_YESONLY);
        return {};
    }

    // From here on, a word processor that goes away (or stops answering) leaves the report to the
    // server that stands in for it.
    QString savedAs;
    {
        const ServerGoneEndsCalls serverGoneEndsRun;
        try {
            if (!shown) {
                word.Set_Visible(OLE_TRUE);
            }
            WordDocumentPtr closed;
            const HRESULT hr = TypeReport(word, sources, TNoParam(), std::addressof(closed));
            if (hr == RPC_E_DISCONNECTED) {
                throw EServerGone();  // it went away with the finished report
            }
            if (hr != S_OK) {
                word.Disconnect();
                return {};  // not finished: nothing goes to the practice's file
            }
            WideString name;
            if (pdfForPractice && SUCCEEDED(closed.get_FullName(&name))) {
                savedAs = name.ToQString();
            }
        } catch (const EServerGone&) {
            word.Disconnect();
            savedAs = WriteStandInReport(word.ServerRegistry(), sources);
            if (savedAs.isEmpty()) {
                return {};
            }
        }
    }
    if (!pdfForPractice) {
        return {};
    }
    const QString beside = PdfBeside(savedAs);
    return beside.isEmpty() ? WritePracticePdf(word.ServerRegistry(), sources) : beside;
}

}  // namespace velmora
