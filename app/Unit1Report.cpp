// The report that "Bericht erstellen" writes into a word processor.
#include "app/Unit1.h"

#include "app/GdtLink.h"
#include "app/VisitRecorder.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Application.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "framework/Shell.h"
#include "report/ReportDocument.h"
#include "report/ReportThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>
#include <exception>
#include <memory>
#include <optional>

namespace velmora {

void TForm1::janColorButton2click(TComponent*) {
    if (reportRunning_) {
        return;  // one report at a time
    }
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
    sources.CurvePictures = PicturePaths;
    // The run takes them as they are now (three small files read: the window's share of the
    // pictures): what the operator does while it runs ("Neuer Patient", a picture kept anew)
    // does not change the report of the patient it was started for.
    std::array<QByteArray, 3> pictures;
    for (std::size_t ear = 0; ear < 3; ++ear) {
        QFile kept(PicturePaths[ear]);
        if (!PicturePaths[ear].isEmpty() && kept.open(QIODevice::ReadOnly)) {
            pictures[ear] = kept.readAll();
        }
    }
    sources.Comparison = ReportComparison();
    Recorder->AuditPatient(audit::kReport);
    // For a patient who came by GDT the report goes to the practice's software as a PDF with
    // the result: the run says where it wrote it.
    const bool pdfForPractice = gdt_ && gdt_->Current() != nullptr;
    const QString gdtPatient = pdfForPractice ? gdt_->Current()->patient.patientNumber : QString();
    const auto practicePdf = std::make_shared<QString>();

    // The word processor is talked to on the report's thread only; the window stays operable
    // and shows that it is busy until the run has ended.
    if (!reportThread_) {
        reportThread_ = std::make_unique<TReportThread>();
    }
    reportRunning_ = true;
    janColorButton2->SetEnabled(false);
    setCursor(Qt::BusyCursor);
    TWordApplication* const word = WordApplication1.get();
    reportThread_->Run(
        [word, sources = std::move(sources), pictures = std::move(pictures), pdfForPractice,
         practicePdf]() mutable {
            // The word processor takes the pictures by their names: files of the run's own in
            // the private folder, gone with it.
            const QString folder = PrivateDirectory();
            std::optional<QTemporaryDir> copies;
            if (!folder.isEmpty()) {
                copies.emplace(QDir(folder).filePath(QStringLiteral("report-XXXXXX")));
            }
            for (std::size_t ear = 0; ear < 3; ++ear) {
                if (pictures[ear].isEmpty() || !copies || !copies->isValid()) {
                    continue;
                }
                QString& path = sources.CurvePictures[ear];
                QFile copy(copies->filePath(QFileInfo(path).fileName()));
                if (copy.open(QIODevice::WriteOnly) &&
                    copy.write(pictures[ear]) == pictures[ear].size() && copy.flush()) {
                    path = copy.fileName();
                }
            }
            try {
                *practicePdf = WriteReport(*word, sources, pdfForPractice);
            } catch (const std::exception& error) {
                // As the message loop does with an error that escapes a handler.
                HandleException(error);
            }
        },
        this,
        [this, practicePdf, gdtPatient] {
            // Only with the visit it was made in: a next patient taken meanwhile has none.
            if (!practicePdf->isEmpty() && gdt_ && gdt_->Current() != nullptr &&
                gdt_->Current()->patient.patientNumber == gdtPatient) {
                gdtReportPdf_ = *practicePdf;
            }
            ReportFinished();
        });
}

void TForm1::ReportFinished() {
    if (destroying_) {
        return;
    }
    reportRunning_ = false;
    unsetCursor();
    janColorButton2->SetEnabled(true);
    if (closeAfterReport_) {
        closeAfterReport_ = false;
        Close();
    }
}

}  // namespace velmora
