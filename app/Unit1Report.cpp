// The report that "Bericht erstellen" writes into a word processor.
#include "app/Unit1.h"

#include "app/GdtLink.h"
#include "app/VisitRecorder.h"
#include "controls/NumEdit.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "report/ReportDocument.h"

#include <QDir>
#include <QSet>
#include <QStandardPaths>

namespace velmora {
namespace {

// Where the built-in writer keeps its reports (a module of its own, loaded at the first report):
// "Velmora" in the user's documents folder, else in the home folder.
QDir ReportFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents.isEmpty() ? QDir::homePath() : documents)
        .filePath(QStringLiteral("Velmora"));
}

}  // namespace

void TForm1::janColorButton2click(TComponent*) {
    Recorder->SaveFields();
    TReportSources sources;
    sources.PatientId = Edit1->Text();
    sources.FirstName = Edit2->Text();
    sources.Name = Edit3->Text();
    sources.Town = Edit4->Text();
    sources.Street = Edit5->Text();
    sources.EMail = Edit6->Text();
    sources.Doctor = Edit7->Text();
    sources.Postcode = NumEdit1->Text();
    sources.Telephone = NumEdit2->Text();
    sources.Remarks = Memo1->Text();
    sources.Date = QDate::currentDate();
    // Only the pictures kept for this patient in this session ("Kurve abspeichern": both ears,
    // left, right), and the one of the ear on screen as its curve stands now.
    RenewKeptCurve();
    for (int ear = 0; ear < 3; ++ear) {
        sources.CurvePictures[std::size_t(ear)] = PicturePaths[std::size_t(ear)];
    }
    sources.Comparison = ReportComparison();
    // The built-in writer keeps a PDF beside the document in the report folder; for a patient
    // who came by GDT it goes to the practice's software with the result.
    const bool forPractice = gdt_ && gdt_->Current() != nullptr;
    const QDir reports = ReportFolder();
    const QStringList pdfs{QStringLiteral("*.pdf")};
    const QStringList before = forPractice ? reports.entryList(pdfs, QDir::Files) : QStringList();
    WriteReport(*WordApplication1, sources);
    if (forPractice) {
        const QSet<QString> earlier(before.begin(), before.end());
        for (const QString& name : reports.entryList(pdfs, QDir::Files, QDir::Time)) {
            if (!earlier.contains(name)) {
                gdtReportPdf_ = reports.filePath(name);  // the newest
                break;
            }
        }
    }
}

}  // namespace velmora
