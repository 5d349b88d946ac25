// The test console started as the program starts it (app/main.cpp): the sound server of
// PULSE_SERVER through the real sound output and mixer, the window built and shown, ended after
// its first paint (see FirstPaint.h). With --simulated, the simulated devices take the place of
// the sound server, which leaves the window's own start-up. The patient records are opened as the
// program opens them, after the first picture (--database as the program takes it).

#include "FirstPaint.h"

#include "app/RecordsCommandLine.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/FontConfiguration.h"
#include "framework/German.h"
#include "platform/mixer/PulseMixerDevice.h"
#include "platform/mixer/SimulatedMixerDevice.h"
#include "platform/pulse/PulseContext.h"
#include "platform/sound/PulseSoundOutput.h"
#include "platform/sound/SimulatedSoundOutput.h"

#include <QApplication>

namespace {

void Run(velmora::SoundOutput& sound, velmora::MixerDevice& mixer,
         const velmora::RecordsCommandLine& recordsOptions, int stayMs) {
    velmora::OpenedRecords records;
    velmora::TForm1 window(nullptr, sound, mixer);
    velmora::bench::QuitAfterFirstPaint quit(&window, stayMs);
    window.show();
    window.AfterFirstPicture([&] {
        records = velmora::OpenRecords(recordsOptions);
        window.TakeRecords(records.records.get(), records.server, records.problem);
    });
    QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace velmora;
    const auto options = bench::ParseProbeOptions(argc, argv);
    const RecordsCommandLine recordsOptions = RecordsCommandLine::Read(argc, argv);
    FontConfigurationReader fontConfiguration;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("velmora"));
    InstallGermanTranslation();
    SetApplicationTitle(QStringLiteral("Velmora - Relativtest"));
    fontConfiguration.Wait();
    if (options.simulated) {
        SimulatedSoundOutput sound;
        SimulatedMixerDevice mixer;
        Run(sound, mixer, recordsOptions, options.stayMs);
    } else {
        PulseContext pulse({}, "Velmora", PulseContext::Opening::WhenAsked);
        PulseSoundOutput sound(pulse);
        PulseMixerDevice mixer(pulse, sound);
        Run(sound, mixer, recordsOptions, options.stayMs);
    }
    bench::ReportMemory(options);
    return 0;
}
