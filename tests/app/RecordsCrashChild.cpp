// A test console that takes one threshold and is then killed: started by PatientRecordsCrashTest
// with the records' address. It types a patient, takes 5.0 at 2000 Hz on the right ear, says
// "taken" once the handler has returned, and waits to be killed.
#include "app/Unit1.h"

#include "controls/ExTrackBar.h"
#include "framework/Edit.h"
#include "framework/RadioButton.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/sound/SimulatedSoundOutput.h"
#include "records/PatientRecords.h"
#include "records/RecordsDatabase.h"

#include <QApplication>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[]) {
    using namespace velmora;
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    QString error;
    const auto address = DatabaseAddress::Parse(QString::fromLocal8Bit(argv[1]), &error);
    const auto database = address ? RecordsDatabase::Open(*address, &error) : nullptr;
    if (!database) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    PatientRecords records(*database);
    SimulatedSoundOutput sound;
    SimulatedMixerDevice mixer;
    mixer.AddDevice("Card");
    TForm1 window(nullptr, sound, mixer, &records);
    window.Edit2->SetText(QStringLiteral("Erika"));
    window.Edit3->SetText(QStringLiteral("Mustermann"));
    window.RadioButton2->SetChecked(true);
    window.RadioButton8->SetChecked(true);
    window.ExTrackBar1->SetPosition(5);
    window.HemisphereButton2Click(nullptr);
    std::fputs("taken\n", stdout);
    std::fflush(stdout);
    for (;;) {
        ::pause();
    }
}
