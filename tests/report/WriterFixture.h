#pragma once

// Reports through the built-in writer into a home directory of the test's own; the desktop's
// "open" is recorded instead of run.

#include "framework/Bitmap.h"
#include "framework/Dialogs.h"
#include "framework/Shell.h"
#include "report/BuiltInWriter.h"
#include "report/ReportDocument.h"
#include "report/WordApplication.h"

#include "BoxRecorder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

#include <csignal>
#include <optional>

namespace velmora::test {

inline QString Blanks(int n) {
    return QString(n, QLatin1Char(' '));
}

// The paragraphs of the report of FilledSources(), a picture's paragraph empty.
inline const QStringList& ExpectedLines() {
    static const QStringList lines = {
        QStringLiteral("Velmora - Relativtest vom 07.12.26"),
        QString::fromUtf8(kMakersNotice),
        QString(),
        QStringLiteral("Patient:") + Blanks(25) + QStringLiteral("Erika Mustermann"),
        QStringLiteral("Patienten-ID:") + Blanks(16) + QStringLiteral("4711"),
        QStringLiteral("Anschrift:") + Blanks(21) + QStringLiteral("Hauptstraße 1"),
        Blanks(37) + QStringLiteral("12345 Musterstadt"),
        QStringLiteral("Telefon:") + Blanks(24) + QStringLiteral("0301234"),
        QStringLiteral("E-Mail:") + Blanks(25) + QStringLiteral("erika@example.org"),
        QStringLiteral("Behandelnder Arzt:") + Blanks(6) + QStringLiteral("Dr. Ohr"),
        QString(),
        QStringLiteral("Kurve für beide Ohren:"),
        QString(),
        QString(),  // picture
        QString(),
        QStringLiteral("Kurve für das linke Ohr:"),
        QString(),
        QString(),  // picture
        QString(),
        QStringLiteral("Kurve für das rechte Ohr:"),
        QString(),
        QString(),  // picture
        QString(),
        QStringLiteral("Bemerkungen:"),
        QStringLiteral("Hört links schlechter."),
        QStringLiteral("Kontrolle in 3 Monaten."),
    };
    return lines;
}
// The paragraphs that hold the three pictures.
inline constexpr int kPictureParagraphs[] = {13, 17, 21};

class WriterFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // As the program does: a peer that goes away is an error of the write, not the end of the
        // test program (a word processor's pipe, the desktop's opener).
        std::signal(SIGPIPE, SIG_IGN);
        // The writer lays out its PDF with the fonts of the graphical application.
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char arg0[] = "velmora-test";
            static char* argv[] = {arg0, nullptr};
            new QApplication(argc, argv);  // lives to the end of the test program
        }
        ASSERT_TRUE(home.isValid());
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
            saved_.emplace_back(name, qEnvironmentVariableIsSet(name)
                                          ? std::optional<QByteArray>(qgetenv(name))
                                          : std::nullopt);
        }
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
        ASSERT_EQ(ReportFolder(), home.filePath(QStringLiteral("Documents/Velmora")));
        previousShell_ = SetShellHandler([this](const ShellRequest& request) {
            opened.push_back(request);
            return openSucceeds;
        });
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        RegisterBuiltInWriter(registry);
        word.SetServerRegistry(&registry);
        // The save dialog: recorded, and answered as `chooseFile` says (cancelled when empty).
        previousDialog_ = TSaveDialog::SetPresenter([this](TSaveDialog& dialog) {
            dialogs.push_back({dialog.Title(), dialog.FileName()});
            if (chooseFile.isEmpty()) {
                return false;
            }
            dialog.SetFileName(chooseFile);
            return true;
        });
    }
    void TearDown() override {
        word.Disconnect();
        QLocale::setDefault(QLocale::c());
        SetShellHandler(previousShell_);
        TSaveDialog::SetPresenter(previousDialog_);
        for (const auto& [name, value] : saved_) {
            if (value) {
                qputenv(name, *value);
            } else {
                qunsetenv(name);
            }
        }
    }

    // A 24-bit bitmap file with a pattern that tells its pictures apart.
    QString MakePicture(const QString& name, int width, int height, int seed) {
        TBitmap bitmap(width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                bitmap.Image().setPixel(x, y, qRgb((x * 7 + seed) & 255, (y * 5) & 255, seed));
            }
        }
        bitmap.SetPixelFormat(pf24bit);
        const QString path = home.filePath(name);
        EXPECT_TRUE(bitmap.SaveToFile(path));
        return path;
    }

    TReportSources FilledSources() {
        TReportSources s;
        s.PatientId = QStringLiteral("4711");
        s.FirstName = QStringLiteral("Erika");
        s.Name = QStringLiteral("Mustermann");
        s.Street = QStringLiteral("Hauptstraße 1");
        s.Postcode = QStringLiteral("12345");
        s.Town = QStringLiteral("Musterstadt");
        s.Telephone = QStringLiteral("0301234");
        s.EMail = QStringLiteral("erika@example.org");
        s.Doctor = QStringLiteral("Dr. Ohr");
        s.Remarks = QStringLiteral("Hört links schlechter.\r\nKontrolle in 3 Monaten.");
        s.Date = QDate(2026, 12, 7);
        s.CurvePictures = {MakePicture(QStringLiteral("beide_tmp.bmp"), 340, 140, 10),
                           MakePicture(QStringLiteral("links_tmp.bmp"), 340, 140, 120),
                           MakePicture(QStringLiteral("rechts_tmp.bmp"), 200, 90, 230)};
        return s;
    }

    // The reports saved so far.
    QStringList Reports() const {
        return QDir(ReportFolder()).entryList({QStringLiteral("*.docx")}, QDir::Files);
    }

    QTemporaryDir home;
    BoxRecorder boxes;
    std::vector<ShellRequest> opened;
    bool openSucceeds = true;
    struct Dialog {
        QString title;
        QString fileName;
    };
    std::vector<Dialog> dialogs;
    QString chooseFile;
    TServerRegistry registry;
    TWordApplication word{nullptr};

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
    ShellHandler previousShell_;
    TSaveDialog::Presenter previousDialog_;
};

}  // namespace velmora::test
