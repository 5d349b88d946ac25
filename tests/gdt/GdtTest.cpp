// GDT requests from a table of record files (versions, character sets, sloppy writers, faults),
// results read back by an independent reader, and result files placed beside the ones the
// practice's software has not taken yet.
#include "gdt/GdtExchange.h"
#include "gdt/GdtRequest.h"
#include "gdt/GdtResult.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <iconv.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::test {
namespace {

// --- the test's own reading and writing of GDT lines, apart from gdt/

// A line with its length prefix, counted here: 3 + 4 + content bytes + CR LF.
std::string L(const std::string& id, const std::string& content, const char* end = "\r\n") {
    const std::size_t length = 9 + content.size();
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%03zu", length);
    return prefix + id + content + end;
}

// A record: the 8000 line, an 8100 line with the total (digits wide) unless digits is 0, then
// the lines.
std::string Record(const std::string& type, const std::vector<std::string>& lines, int digits = 5,
                   const char* end = "\r\n") {
    std::string body;
    for (const std::string& line : lines) {
        body += line;
    }
    const std::string head = L("8000", type, end);
    if (digits == 0) {
        return head + body;
    }
    const std::size_t lengthLine = L("8100", std::string(std::size_t(digits), '0'), end).size();
    char total[16];
    std::snprintf(total, sizeof total, "%0*zu", digits, head.size() + lengthLine + body.size());
    return head + L("8100", total, end) + body;
}

// Bytes from one character set into another through glibc's iconv, independent of gdt/GdtCharset.
std::string Convert(const std::string& bytes, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, iconv_t(-1)) << from << " to " << to;
    std::string out(bytes.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), std::size_t(-1)) << from << " to " << to;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}
std::string ToUtf8(const std::string& bytes, const char* charset) {
    return Convert(bytes, charset, "UTF-8");
}
std::string FromUtf8(const std::string& text, const char* charset) {
    return Convert(text, "UTF-8", charset);
}
const char* IconvName(int charset) {
    return charset == 1 ? "ISO646-DE" : charset == 2 ? "CP437" : "WINDOWS-1252";
}

// A record read by the test: every line checked for its length prefix and CR LF, the 8100 value
// against the file's size, the contents converted from the set 9206 names.
struct ReadBack {
    std::vector<std::pair<std::string, std::string>> fields;  // id, UTF-8 content
    std::vector<std::string> faults;

    std::vector<std::string> All(const std::string& id) const {
        std::vector<std::string> values;
        for (const auto& [i, v] : fields) {
            if (i == id) {
                values.push_back(v);
            }
        }
        return values;
    }
    std::string One(const std::string& id) const {
        const auto values = All(id);
        return values.size() == 1 ? values[0] : "<" + std::to_string(values.size()) + " times>";
    }
};

ReadBack ReadRecord(const std::string& bytes) {
    ReadBack back;
    std::vector<std::pair<std::string, std::string>> raw;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            back.faults.push_back("a line without CR LF at byte " + std::to_string(pos));
            break;
        }
        const std::string line = bytes.substr(pos, end - pos);
        const std::size_t stated = std::stoul(line.substr(0, 3));
        if (stated != line.size() + 2) {
            back.faults.push_back("length " + line.substr(0, 3) + " of line " + line);
        }
        if (line.size() + 2 > 999 || line.find('\n') != std::string::npos ||
            line.find('\r') != std::string::npos) {
            back.faults.push_back("a broken line " + line);
        }
        raw.emplace_back(line.substr(3, 4), line.substr(7));
        pos = end + 2;
    }
    int charset = 2;
    for (const auto& [id, content] : raw) {
        if (id == "9206") {
            charset = std::stoi(content);
        }
        if (id == "8100" && (content.size() != 5 || std::stoul(content) != bytes.size())) {
            back.faults.push_back("8100 " + content + " for " + std::to_string(bytes.size()) +
                                  " bytes");
        }
    }
    for (const auto& [id, content] : raw) {
        back.fields.emplace_back(id, ToUtf8(content, IconvName(charset)));
    }
    if (raw.size() < 2 || raw[0].first != "8000" || raw[1].first != "8100") {
        back.faults.push_back("8000 and 8100 are not the first lines");
    }
    return back;
}

std::string Utf8(const QString& text) {
    return text.toStdString();
}

// --- requests

// The worked request of a practice's software (character set 3, 207 bytes), byte for byte.
const std::string kWorkedRequest =
    "01380006302\r\n014810000207\r\n0168315VELMORA\r\n0168316PRAXEDV\r\n01092063\r\n"
    "014921802.10\r\n01330004711\r\n0153101M\xfcller\r\n0133102Anna\r\n017310315031962\r\n"
    "019310653111 Bonn\r\n0223107Hauptstra\xdf"
    "e 5\r\n01031102\r\n0158402AUDI00\r\n";

// The same patient as a request in another set, version or line ending.
std::string Request(int charset, const std::string& version = "02.10", const char* end = "\r\n",
                    int lengthDigits = 5, const std::string& type = "6302") {
    std::vector<std::string> lines = {L("8315", "VELMORA", end), L("8316", "PRAXEDV", end)};
    if (charset != 0) {
        lines.push_back(L("9206", std::to_string(charset), end));
    }
    const char* set = IconvName(charset == 0 ? 2 : charset);
    lines.push_back(L("9218", version, end));
    lines.push_back(L("3000", "4711", end));
    lines.push_back(L("3101", FromUtf8("Müller-Lüdenscheidt", set), end));
    lines.push_back(L("3102", FromUtf8("Jörg", set), end));
    lines.push_back(L("3103", "15031962", end));
    lines.push_back(L("3106", FromUtf8("53111 Bonn-Röttgen", set), end));
    lines.push_back(L("3107", FromUtf8("Hauptstraße 5", set), end));
    return Record(type, lines, lengthDigits, end);
}

struct RequestCase {
    const char* what;
    std::string file;
    // Taken: the patient's number, name, first name, postcode, town, street, telephone, e-mail.
    std::vector<std::string> patient;
    GdtCharset charset = GdtCharset::CodePage437;
    GdtRequestType type = GdtRequestType::Examination;
    // Refused: the line and a word of the reason.
    int refusedLine = 0;
    const char* reason = "";
};

const std::vector<std::string> kJoerg = {"4711",         "Müller-Lüdenscheidt", "Jörg", "53111",
                                         "Bonn-Röttgen", "Hauptstraße 5",       "",     ""};

std::vector<RequestCase> RequestCases() {
    std::string wrongLength = Request(2);
    wrongLength.replace(wrongLength.find("0133000"), 3, "014");  // line 7, 3000
    std::string threeZero = Record(
        "6302",
        {L("8315", "VELMORA_HOERTEST"), L("8316", "PRAXIS_SOFTWARE_3"), L("9206", "3"),
         L("9218", "03.00"), L("3000", "PAT-0000123456"), L("3101", "M\xfcller"), L("3102", "Anna"),
         L("3106", "53111 Bonn"), L("3112", "53113"), L("3113", "Bonn"), L("3107", "Weg 1"),
         L("3626", "0228 12345"), L("3618", "0170 98765"), L("3619", "anna@example.org")},
        7);
    std::string noNumber =
        Record("6302", {L("8315", "VELMORA"), L("3101", "Anna"), L("3102", "B")});
    std::string wrongTotal = Request(2);
    wrongTotal.replace(wrongTotal.find("8100") + 4, 5, "00999");
    return {
        {"the worked request, ANSI",
         kWorkedRequest,
         {"4711", "Müller", "Anna", "53111", "Bonn", "Hauptstraße 5", "", ""},
         GdtCharset::Ansi},
        {"7-bit German", Request(1), kJoerg, GdtCharset::German7Bit},
        {"code page 437", Request(2), kJoerg, GdtCharset::CodePage437},
        {"ANSI", Request(3), kJoerg, GdtCharset::Ansi},
        {"no 9206: code page 437", Request(0), kJoerg, GdtCharset::CodePage437},
        {"LF only, lengths counting CR LF", Request(2, "02.10", "\n"), kJoerg},
        {"LF only, lengths counting LF",
         [] {
             std::string s = Request(2, "02.10", "\r\n");
             std::string lf;
             // Each line's prefix one less and 8100 the file's own size.
             std::size_t pos = 0;
             while (pos < s.size()) {
                 const std::size_t end = s.find("\r\n", pos);
                 const std::string line = s.substr(pos, end - pos);
                 char prefix[8];
                 std::snprintf(prefix, sizeof prefix, "%03zu", line.size() + 1);
                 lf += prefix + line.substr(3) + "\n";
                 pos = end + 2;
             }
             const std::size_t at = lf.find("8100") + 4;
             char total[8];
             std::snprintf(total, sizeof total, "%05zu", lf.size());
             lf.replace(at, 5, total);
             return lf;
         }(),
         kJoerg},
        {"no 8100", Request(2, "02.10", "\r\n", 0), kJoerg},
        {"sloppy version 2.10", Request(2, "2.10"), kJoerg},
        {"3.0 with 7-digit 8100, long ids, 3112/3113, telephones and e-mail",
         threeZero,
         {"PAT-0000123456", "Müller", "Anna", "53113", "Bonn", "Weg 1", "0228 12345 / 0170 98765",
          "anna@example.org"},
         GdtCharset::Ansi},
        {"master data 6301", Request(2, "02.10", "\r\n", 5, "6301"), kJoerg,
         GdtCharset::CodePage437, GdtRequestType::MasterData},
        {"cancel 6303", Request(2, "03.00", "\r\n", 5, "6303"), kJoerg, GdtCharset::CodePage437,
         GdtRequestType::Cancel},
        {"show 6311", Request(2, "02.10", "\r\n", 5, "6311"), kJoerg, GdtCharset::CodePage437,
         GdtRequestType::ShowExamination},
        {"DOS end-of-file mark", Request(2) + "\x1a", kJoerg},
        {"a wrong length", wrongLength, {}, {}, {}, 7, "Längenangabe 014"},
        {"a wrong 8100", wrongTotal, {}, {}, {}, 2, "Satzlänge"},
        {"no 3000", noNumber, {}, {}, {}, 6, "Patientennummer"},
        {"unknown record type",
         Request(2, "02.10", "\r\n", 5, "6399"),
         {},
         {},
         {},
         1,
         "Unbekannte Satzart „6399“"},
        {"a result is no request",
         Request(2, "02.10", "\r\n", 5, "6310"),
         {},
         {},
         {},
         1,
         "keine Anforderung"},
        {"unknown character set",
         Record("6302", {L("9206", "7"), L("3000", "1")}),
         {},
         {},
         {},
         3,
         "Zeichensatz „7“"},
        {"not starting with 8000", L("3000", "4711") + L("8000", "6302"), {}, {}, {}, 1, "Satzart"},
        {"a letter in a length", "01a80006302\r\n", {}, {}, {}, 1, "keine Zahl"},
        {"a short line", L("8000", "6302") + "0123\r\n", {}, {}, {}, 2, "zu kurz"},
        {"two records", Request(2) + Request(2), {}, {}, {}, 13, "zweite Satzart"},
        {"empty", "", {}, {}, {}, 1, "leer"},
        {"text, not GDT", "Hallo Welt\nZweite Zeile\n", {}, {}, {}, 1, "keine Zahl"},
    };
}

TEST(GdtRequestTest, TableOfRecordFiles) {
    for (const RequestCase& c : RequestCases()) {
        SCOPED_TRACE(c.what);
        const auto read = GdtReadRequest(QByteArray::fromStdString(c.file));
        if (c.refusedLine != 0) {
            ASSERT_TRUE(std::holds_alternative<GdtRefusal>(read));
            const GdtRefusal& refusal = std::get<GdtRefusal>(read);
            EXPECT_EQ(refusal.line, c.refusedLine) << Utf8(refusal.reason);
            EXPECT_NE(Utf8(refusal.Message()).find(c.reason), std::string::npos)
                << Utf8(refusal.Message());
            EXPECT_EQ(Utf8(refusal.Message()).rfind("Zeile " + std::to_string(c.refusedLine), 0),
                      0u);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<GdtRequest>(read))
            << Utf8(std::get<GdtRefusal>(read).Message());
        const GdtRequest& request = std::get<GdtRequest>(read);
        const GdtPatient& p = request.patient;
        EXPECT_EQ((std::vector<std::string>{Utf8(p.patientNumber), Utf8(p.name), Utf8(p.firstName),
                                            Utf8(p.postcode), Utf8(p.town), Utf8(p.street),
                                            Utf8(p.telephone), Utf8(p.email)}),
                  c.patient);
        EXPECT_EQ(request.charset, c.charset);
        EXPECT_EQ(request.type, c.type);
        EXPECT_FALSE(request.receiverId.isEmpty());
        EXPECT_FALSE(request.senderId.isEmpty());
    }
}

TEST(GdtRequestTest, TheRequestFileIsRefusedWithItsNameAndLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("VELMPRAX.GDT"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(RequestCases()[14].file));  // a wrong length
    file.close();
    const GdtRequestFile read = GdtReadRequestFile(path);
    EXPECT_FALSE(read.request);
    EXPECT_TRUE(read.error.contains(QStringLiteral("VELMPRAX.GDT")));
    EXPECT_TRUE(read.error.contains(QStringLiteral("Zeile 7:"))) << Utf8(read.error);
    EXPECT_FALSE(GdtReadRequestFile(dir.filePath(QStringLiteral("fehlt.GDT"))).request);
}

// --- results

TEST(GdtResultTest, ReadBackByAnIndependentReaderInEachCharacterSet) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("B4711.pdf"));
    QFile pdfFile(pdf);
    ASSERT_TRUE(pdfFile.open(QIODevice::WriteOnly));
    pdfFile.write("%PDF-1.4\n");
    pdfFile.close();
    GdtResult result;
    result.requestReceiverId = QStringLiteral("VELMORA");
    result.requestSenderId = QStringLiteral("PRAXEDV");
    result.patientNumber = QStringLiteral("4711");
    result.name = QStringLiteral("Müller-Lüdenscheidt");
    result.firstName = QStringLiteral("Jörg");
    result.birthDate = QStringLiteral("15031962");
    result.visitStarted = QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7));
    result.thresholds = {{GdtThreshold::Ear::Right, 1000, 45},
                         {GdtThreshold::Ear::Left, 250, 30},
                         {GdtThreshold::Ear::Right, 125, 0},
                         {GdtThreshold::Ear::Both, 8000, 99}};
    result.reportPdf = pdf;
    for (const int charset : {1, 2, 3}) {
        SCOPED_TRACE(charset);
        const ReadBack back = ReadRecord(GdtWriteResult(result, GdtCharset(charset)).toStdString());
        EXPECT_EQ(back.faults, std::vector<std::string>{});
        EXPECT_EQ(back.One("8000"), "6310");
        EXPECT_EQ(back.One("8315"), "PRAXEDV");
        EXPECT_EQ(back.One("8316"), "VELMORA");
        EXPECT_EQ(back.One("9206"), std::to_string(charset));
        EXPECT_EQ(back.One("9218"), "02.10");
        EXPECT_EQ(back.One("3000"), "4711");
        EXPECT_EQ(back.One("3101"), "Müller-Lüdenscheidt");
        EXPECT_EQ(back.One("3102"), "Jörg");
        EXPECT_EQ(back.One("3103"), "15031962");
        EXPECT_EQ(back.One("8402"), "AUDI00");
        EXPECT_EQ(back.One("6200"), "08122026");
        EXPECT_EQ(back.One("6201"), "090507");
        EXPECT_EQ(back.One("6220"), "Relativer Hörtest, Stufen 0.0 bis 9.9 (nicht dB HL)");
        EXPECT_EQ(back.All("8410"),
                  (std::vector<std::string>{"RE1000", "LI0250", "RE0125", "BE8000"}));
        EXPECT_EQ(back.All("8420"), (std::vector<std::string>{"4.5", "3.0", "0.0", "9.9"}));
        EXPECT_EQ(back.All("8421"), std::vector<std::string>(4, "Stufe"));
        // Each test block stands together: 8410, then its value and unit.
        for (std::size_t i = 0; i + 2 < back.fields.size(); ++i) {
            if (back.fields[i].first == "8410") {
                EXPECT_EQ(back.fields[i + 1].first, "8420");
                EXPECT_EQ(back.fields[i + 2].first, "8421");
            }
        }
        const std::vector<std::string> table = back.All("6228");
        EXPECT_EQ(back.One("6226"), std::to_string(table.size()));
        ASSERT_EQ(table.size(), 4u);  // frequencies, right, left, both
        for (const std::string& line : table) {
            EXPECT_LE(QString::fromStdString(line).size(), 60) << line;
        }
        EXPECT_EQ(table[0], "Hz       125  250 1000 8000");
        EXPECT_EQ(table[1], "Rechts   0.0    -  4.5    -");
        EXPECT_EQ(table[2], "Links      -  3.0    -    -");
        EXPECT_EQ(table[3], "Beide      -    -    -  9.9");
        EXPECT_EQ(back.One("6302"), "VELMORA");
        EXPECT_EQ(back.One("6303"), "PDF");
        EXPECT_EQ(back.One("6304"), "Hoertest-Bericht");
        EXPECT_TRUE(QFile::exists(QString::fromStdString(back.One("6305"))));
    }
    // Without thresholds and report: no table and no file.
    result.thresholds.clear();
    result.reportPdf.clear();
    const ReadBack bare = ReadRecord(GdtWriteResult(result, GdtCharset::Ansi).toStdString());
    EXPECT_EQ(bare.faults, std::vector<std::string>{});
    EXPECT_TRUE(bare.All("6228").empty() && bare.All("6226").empty() && bare.All("6305").empty());
}

TEST(GdtResultTest, ContentsThatDoNotFitALineStayLines) {
    GdtResult result;
    result.patientNumber = QStringLiteral(
        "1\r\n0138000"
        "6302");  // a line break sent along
    result.name = QString(2000, QLatin1Char('x'));
    result.firstName = QStringLiteral("Zoë 李");  // not in any set
    const ReadBack back = ReadRecord(GdtWriteResult(result, GdtCharset::CodePage437).toStdString());
    EXPECT_EQ(back.faults, std::vector<std::string>{});
    EXPECT_EQ(back.All("8000").size(), 1u);
    EXPECT_EQ(back.One("3101").size(), 990u);
    EXPECT_EQ(back.One("3102"), "Zoë ?");
}

// --- files

std::string Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing>";
}

TEST(GdtExchangeTest, AResultBesideOnesNotTakenYetGetsTheNextExtension) {
    QTemporaryDir dir;
    const QString name = GdtFileName(QStringLiteral("PRAX"), QStringLiteral("VELM"));
    EXPECT_EQ(name, QStringLiteral("PRAXVELM.GDT"));
    std::vector<QString> written;
    for (const char* bytes : {"first", "second", "third"}) {
        const GdtWrittenFile file = GdtWriteResultFile(dir.path(), name, bytes);
        ASSERT_TRUE(file.Ok()) << Utf8(file.error);
        written.push_back(QFileInfo(file.path).fileName());
        EXPECT_EQ(Contents(file.path), bytes);
    }
    EXPECT_EQ(written,
              (std::vector<QString>{QStringLiteral("PRAXVELM.GDT"), QStringLiteral("PRAXVELM.001"),
                                    QStringLiteral("PRAXVELM.002")}));
    // The practice's software took the first: its name is free again.
    QFile::remove(dir.filePath(name));
    EXPECT_EQ(QFileInfo(GdtWriteResultFile(dir.path(), name, "fourth").path).fileName(), name);
    EXPECT_EQ(Contents(dir.filePath(QStringLiteral("PRAXVELM.001"))), "second");
    // No temporary file stays behind; the result is readable by another user.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_TRUE(QFileInfo(dir.filePath(name)).permissions() & QFileDevice::ReadOther);
}

TEST(GdtExchangeTest, AFolderThatIsNotThereIsToldInGerman) {
    QTemporaryDir dir;
    const GdtWrittenFile file =
        GdtWriteResultFile(dir.filePath(QStringLiteral("fehlt")), QStringLiteral("A.GDT"), "x");
    EXPECT_FALSE(file.Ok());
    EXPECT_TRUE(file.error.contains(QStringLiteral("ist nicht vorhanden"))) << Utf8(file.error);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

}  // namespace
}  // namespace velmora::test
