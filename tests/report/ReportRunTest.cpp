// The report run against a scripted word processor: every call in its order with its
// arguments, and what happens when the word processor fails.
#include "report/ReportDocument.h"
#include "report/WordApplication.h"

#include "BoxRecorder.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

namespace velmora::test {
namespace {

using Calls = std::vector<std::string>;

// The calls of one step of the report, as the word processor sees them.
Calls Bold(int on) {
    return {"Selection", "Font", "Bold(" + std::to_string(on) + ")"};
}
Calls Size(int points) {
    return {"Selection", "Font", "Size(" + std::to_string(points) + ")"};
}
Calls Type(const std::string& text) {
    return {"Selection", "TypeText(" + text + ")"};
}
Calls Paragraph() {
    return {"Selection", "TypeParagraph"};
}
Calls Picture(const QString& path) {
    return {"Selection", "InlineShapes", "AddPicture(" + path.toStdString() + ",-,-,-)",
            "Selection", "TypeParagraph"};
}
Calls Join(std::initializer_list<Calls> steps) {
    Calls all;
    for (const Calls& step : steps) {
        all.insert(all.end(), step.begin(), step.end());
    }
    return all;
}
std::string Blanks(int n) {
    return std::string(std::size_t(n), ' ');
}

class ReportRun : public ::testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        word.SetServerRegistry(&registry);
        ASSERT_TRUE(pictures.isValid());
        for (int ear = 0; ear < 3; ++ear) {
            sources.CurvePictures[std::size_t(ear)] =
                pictures.filePath(QStringLiteral("curve%1.bmp").arg(ear));
        }
        sources.Date = QDate(2026, 12, 7);
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    void CreatePicture(int ear) {
        QFile file(sources.CurvePictures[std::size_t(ear)]);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    // Everything a run sends after connecting, for the given picture sections.
    Calls ExpectedRun(const std::string& patient, const std::string& id, const std::string& street,
                      const std::string& town, const std::string& telephone,
                      const std::string& mail, const std::string& doctor,
                      const std::string& remarks, std::array<bool, 3> withPicture) {
        const auto picture = [&](int ear) {
            return withPicture[std::size_t(ear)] ? Picture(sources.CurvePictures[std::size_t(ear)])
                                                 : Calls{};
        };
        return Join({
            {"Visible(-1)", "Documents", "Add(-,-,-,-)"},
            Bold(1),
            Size(18),
            Type("Velmora - Relativtest vom 07.12.26\n"),
            Bold(0),
            Size(14),
            Type(std::string(kMakersNotice) + "\n\n"),
            Bold(0),
            Size(14),
            Type("Patient:" + Blanks(25) + patient + "\n"),
            Type("Patienten-ID:" + Blanks(16) + id + "\n"),
            Type("Anschrift:" + Blanks(21) + street + "\n"),
            Type(Blanks(37) + town + "\n"),
            Type("Telefon:" + Blanks(24) + telephone + "\n"),
            Type("E-Mail:" + Blanks(25) + mail + "\n"),
            Type("Behandelnder Arzt:" + Blanks(6) + doctor + "\n"),
            Paragraph(),
            Bold(1),
            Type("Kurve für beide Ohren:\n"),
            Bold(0),
            Paragraph(),
            picture(0),
            Paragraph(),
            Bold(1),
            Type("Kurve für das linke Ohr:\n"),
            Bold(0),
            Paragraph(),
            picture(1),
            Paragraph(),
            Bold(1),
            Type("Kurve für das rechte Ohr:\n"),
            Bold(0),
            Paragraph(),
            picture(2),
            Bold(1),
            Paragraph(),
            Type("Bemerkungen:\n"),
            Bold(0),
            Type(remarks),
            {"ActiveDocument", "Close(-,-,-)"},
        });
    }

    BoxRecorder boxes;
    TServerRegistry registry;
    ScriptPtr script = std::make_shared<Script>();
    std::uint32_t factory = RegisterScripted(registry, script);
    TWordApplication word{nullptr};
    QTemporaryDir pictures;
    TReportSources sources;
};

TEST_F(ReportRun, FilledFieldsAllPicturesAndRemarksOfSeveralLines) {
    sources.PatientId = QStringLiteral("4711");
    sources.FirstName = QStringLiteral("Erika");
    sources.Name = QStringLiteral("Mustermann");
    sources.Street = QStringLiteral("Hauptstraße 1");
    sources.Postcode = QStringLiteral("12345");
    sources.Town = QStringLiteral("Musterstadt");
    sources.Telephone = QStringLiteral("0301234");
    sources.EMail = QStringLiteral("erika@example.org");
    sources.Doctor = QStringLiteral("Dr. Ohr");
    sources.Remarks = QStringLiteral("Zeile eins\r\nZeile zwei\r\n");
    for (int ear = 0; ear < 3; ++ear) {
        CreatePicture(ear);
    }

    WriteReport(word, sources);

    const Calls expected =
        Join({{"CreateInstance"},
              ExpectedRun("Erika Mustermann", "4711", "Hauptstraße 1", "12345 Musterstadt",
                          "0301234", "erika@example.org", "Dr. Ohr", "Zeile eins\r\nZeile zwei\r\n",
                          {true, true, true})});
    EXPECT_EQ(script->calls, expected);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(word.Connected());  // a successful close keeps the connection
}

TEST_F(ReportRun, EmptyFieldsAndNoPictures) {
    WriteReport(word, sources);
    const Calls expected =
        Join({{"CreateInstance"},
              ExpectedRun(" ", "", "", " ", "", "", "", "\"\"", {false, false, false})});
    EXPECT_EQ(script->calls, expected);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ReportRun, OnlyTheLeftPictureAndASecondRunOnTheSameConnection) {
    CreatePicture(1);
    WriteReport(word, sources);
    WriteReport(word, sources);
    const Calls one = ExpectedRun(" ", "", "", " ", "", "", "", "\"\"", {false, true, false});
    EXPECT_EQ(script->calls, Join({{"CreateInstance"}, one, one}));
}

TEST_F(ReportRun, NoWordProcessorShowsTheErrorBoxAndSendsNothing) {
    registry.RevokeFactory(factory);
    WriteReport(word, sources);
    EXPECT_TRUE(script->calls.empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Fehler"));
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Das Programm 'MS Word' ist nicht installiert\noder kann nicht "
                             "gefunden werden!\nSie können ohne 'MS Word' keinen Bericht "
                             "erstellen."));
    EXPECT_EQ(boxes.shown[0].flags & 0xF0, unsigned(MB_ICONERROR));
    EXPECT_NE(boxes.shown[0].flags & 0x0F, unsigned(MB_OK));  // the Yes button, not OK
    EXPECT_FALSE(word.Connected());
}

TEST_F(ReportRun, ACloseThatFailsOrWarnsDisconnects) {
    for (const HRESULT result : {E_FAIL, S_FALSE}) {
        script->calls.clear();
        script->results["Close"] = result;
        WriteReport(word, sources);
        ASSERT_GE(script->calls.size(), 3u);
        EXPECT_EQ(script->calls[script->calls.size() - 2], "Close(-,-,-)");
        EXPECT_EQ(script->calls.back(), "Quit(-,-,-)");
        EXPECT_FALSE(word.Connected());
    }
    EXPECT_TRUE(boxes.shown.empty());  // Close is not a guarded call
}

// The user closed the word processor (or it ended) after a report: the next report connects
// anew, without a box, and is complete.
TEST_F(ReportRun, AnInstanceThatHasGoneAwayIsReplacedAtTheNextReportWithoutABox) {
    WriteReport(word, sources);
    script->gone = true;
    script->calls.clear();
    WriteReport(word, sources);
    const Calls one = ExpectedRun(" ", "", "", " ", "", "", "", "\"\"", {false, false, false});
    EXPECT_EQ(script->calls, Join({{"Visible(-1)", "Quit(-,-,-)", "CreateInstance"}, one}));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(word.Connected());
}

// It goes away in the middle of a run, or with the finished report as it closes it: the server
// that stands in for it (registered first) writes the whole report once more and saves it, and
// one box says where it is; only where nothing stands in, or that fails too, does the box say
// that the report is not finished.
TEST_F(ReportRun, AnInstanceLostDuringARunLeavesTheWholeReportToTheStandInWithOneBox) {
    const QString lost = QStringLiteral("Die Verbindung zu LibreOffice Writer ist verloren.\n");
    const QString saved = lost + QStringLiteral(
                                     "Der Bericht wurde als Datei gespeichert: "
                                     "/home/p/Documents/Velmora/Velmora-Bericht 2026.docx");
    const QString unfinished = lost + QStringLiteral("Der Bericht wurde nicht fertiggestellt.");
    const struct {
        const char* name;
        std::size_t goneAfter;  // calls of the lost run
        bool lostAtClose;
        bool standIn;
        bool standInFails;
        QString box;
    } cases[] = {
        {"lost while typing", 12, false, true, false, saved},
        {"lost as it closes", 0, true, true, false, saved},
        {"lost, nothing stands in", 12, false, false, false, unfinished},
        {"lost, and the stand-in too", 12, false, true, true, unfinished},
    };
    CreatePicture(1);
    const Calls whole = ExpectedRun(" ", "", "", " ", "", "", "", "\"\"", {false, true, false});
    // What the stand-in is sent: no window to show, the changes saved, where they went.
    Calls standInRun(whole.begin() + 1, whole.end() - 1);
    standInRun.insert(standInRun.begin(), "CreateInstance");
    standInRun.insert(standInRun.end(), {"Close(-1,-,-)", "FullName", "Quit(-,-,-)"});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TServerRegistry servers;
        const ScriptPtr standIn = std::make_shared<Script>();
        standIn->fullName = "/home/p/Documents/Velmora/Velmora-Bericht 2026.docx";
        if (c.standIn) {
            RegisterScripted(servers, standIn);
        }
        const ScriptPtr office = std::make_shared<Script>();
        RegisterScripted(servers, office);
        TWordApplication writer(nullptr);
        writer.SetServerRegistry(&servers);
        WriteReport(writer, sources);  // connected, as after an earlier report
        ASSERT_EQ(office->calls.size(), whole.size() + 1);
        office->calls.clear();
        office->goneAfter = c.goneAfter;
        if (c.lostAtClose) {
            office->results["Close"] = RPC_E_DISCONNECTED;
        }
        if (c.standInFails) {
            standIn->results["Add"] = RPC_E_DISCONNECTED;
        }
        boxes.shown.clear();

        WriteReport(writer, sources);

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Fehler"));
        EXPECT_EQ(boxes.shown[0].text, c.box);
        // Nothing after the first failed call but the farewell.
        EXPECT_EQ(office->calls.size(), c.lostAtClose ? whole.size() + 1 : c.goneAfter + 2);
        EXPECT_EQ(office->calls.back(), "Quit(-,-,-)");
        EXPECT_FALSE(writer.Connected());
        if (c.standIn && !c.standInFails) {
            EXPECT_EQ(standIn->calls, standInRun);
        }
        // The next report starts afresh, with the word processor again.
        boxes.shown.clear();
        office->calls.clear();
        office->results.clear();
        WriteReport(writer, sources);
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_EQ(office->calls.front(), "CreateInstance");
    }
}

}  // namespace
}  // namespace velmora::test
