// The report that "Bericht erstellen" writes into a word processor.
#include "app/Unit1.h"

#include "app/VisitRecorder.h"
#include "controls/NumEdit.h"
#include "framework/Edit.h"
#include "framework/Memo.h"
#include "report/ReportDocument.h"

namespace velmora {

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
    Recorder->AuditPatient(audit::kReport);
    WriteReport(*WordApplication1, sources);
}

}  // namespace velmora
