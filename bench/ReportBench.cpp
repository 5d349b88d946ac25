// A whole report through the built-in writer: from the click on "Bericht erstellen" to the
// saved .docx, with the three curve pictures of the test console.
#include "GuiApplication.h"

#include "app/Unit1.h"
#include "controls/NumEdit.h"
#include "controls/janColorButton.h"
#include "framework/Bitmap.h"
#include "framework/Edit.h"
#include "framework/GraphicControl.h"
#include "framework/Memo.h"
#include "framework/MessageBox.h"
#include "framework/Shell.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "report/BuiltInWriter.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

using namespace velmora;

void BM_ReportClickToSavedFile(benchmark::State& state) {
    bench::EnsureGuiApplication();
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("run")).toLocal8Bit());
    QDir().mkpath(home.filePath(QStringLiteral("run")));
    SetShellHandler([](const ShellRequest&) { return true; });  // no desktop program
    int boxes = 0;
    SetMessageBoxPresenter([&boxes](const MessageBoxRequest&) { return ++boxes, int(IDOK); });

    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    TForm1 form(nullptr, sound, mixer);
    TServerRegistry builtInOnly;  // even where an office suite is installed
    RegisterBuiltInWriter(builtInOnly);
    form.WordApplication1->SetServerRegistry(&builtInOnly);
    form.Edit1->SetText(QStringLiteral("4711"));
    form.Edit2->SetText(QStringLiteral("Erika"));
    form.Edit3->SetText(QStringLiteral("Mustermann"));
    form.Edit5->SetText(QStringLiteral("Hauptstraße 1"));
    form.NumEdit1->SetText(QStringLiteral("12345"));
    form.Edit4->SetText(QStringLiteral("Musterstadt"));
    form.Memo1->SetLines({QStringLiteral("Hört links schlechter."), QStringLiteral("Kontrolle.")});
    TBitmap curve;
    curve.Assign(form.PaintBox1->RenderImage());
    curve.SetPixelFormat(pf24bit);
    for (int ear = 0; ear < 3; ++ear) {
        curve.SaveToFile(TForm1::CurvePicturePath(ear));
    }
    QDir reports(ReportFolder());

    for (auto _ : state) {
        form.janColorButton2->DispatchMouseDown(mbLeft, ssLeft, 5, 5);
        form.janColorButton2->DispatchMouseUp(mbLeft, 0, 5, 5);
        state.PauseTiming();
        reports.refresh();
        const QStringList saved = reports.entryList({QStringLiteral("*.docx")}, QDir::Files);
        if (saved.size() != 1 || boxes != 0) {
            state.SkipWithError("the report was not saved");
            break;
        }
        reports.remove(saved[0]);
        state.ResumeTiming();
    }
    form.WordApplication1->Disconnect();
    SetShellHandler({});
    SetMessageBoxPresenter({});
}
BENCHMARK(BM_ReportClickToSavedFile)->Unit(benchmark::kMillisecond);

}  // namespace
