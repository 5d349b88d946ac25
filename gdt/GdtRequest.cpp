#include "gdt/GdtRequest.h"

#include <QRegularExpression>

namespace velmora {

namespace {

bool AllDigits(QByteArrayView bytes) {
    return !bytes.isEmpty() &&
           std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Printable form of a few bytes for a message: code page 437, control characters as '?'.
QString Shown(QByteArrayView bytes) {
    QString text =
        GdtDecode(bytes.first(std::min<qsizetype>(bytes.size(), 20)), GdtCharset::CodePage437);
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            c = QLatin1Char('?');
        }
    }
    return text;
}

struct RawField {
    int id = 0;
    QByteArray content;
    int line = 0;
};

QString FieldText(const std::vector<GdtField>& fields, int id) {
    for (const GdtField& field : fields) {
        if (field.id == id) {
            return field.content.trimmed();
        }
    }
    return {};
}

GdtPatient PatientOf(const std::vector<GdtField>& fields) {
    GdtPatient patient;
    patient.patientNumber = FieldText(fields, gdt::kPatientNumber);
    patient.name = FieldText(fields, gdt::kName);
    patient.firstName = FieldText(fields, gdt::kFirstName);
    patient.birthDate = FieldText(fields, gdt::kBirthDate);
    patient.street = FieldText(fields, gdt::kStreet);
    patient.email = FieldText(fields, gdt::kEmail);
    // "53111 Bonn", also "D-53111 Bonn": the postcode off the front of the place.
    static const QRegularExpression postcodeFirst(
        QStringLiteral("^((?:[A-Z]{1,2}-)?\\d{4,5})\\s+(\\S.*)$"));
    const QString residence = FieldText(fields, gdt::kTown);
    QString postcode;
    QString town = residence;
    if (const QRegularExpressionMatch m = postcodeFirst.match(residence); m.hasMatch()) {
        postcode = m.captured(1);
        town = m.captured(2);
    }
    const QString givenPostcode = FieldText(fields, gdt::kPostcode);
    const QString givenPlace = FieldText(fields, gdt::kPlace);
    patient.postcode = givenPostcode.isEmpty() ? postcode : givenPostcode;
    patient.town = givenPlace.isEmpty() ? town : givenPlace;
    // One telephone field: the line, and the mobile beside it when both are sent.
    const QString telephone = FieldText(fields, gdt::kTelephone);
    const QString mobile = FieldText(fields, gdt::kMobile);
    if (telephone.isEmpty() || mobile.isEmpty()) {
        patient.telephone = telephone.isEmpty() ? mobile : telephone;
    } else {
        patient.telephone = telephone + QStringLiteral(" / ") + mobile;
    }
    return patient;
}

}  // namespace

QString GdtRefusal::Message() const {
    return QStringLiteral("Zeile %1: %2").arg(line).arg(reason);
}

std::variant<GdtRequest, GdtRefusal> GdtReadRequest(QByteArrayView bytes) {
    // What follows the record is not part of it: an end-of-file mark of old DOS programs and
    // empty lines. The last line's own end is counted as it was written.
    const QByteArrayView original = bytes;
    while (!bytes.isEmpty() &&
           (bytes.back() == '\x1a' || bytes.back() == '\n' || bytes.back() == '\r')) {
        bytes.chop(1);
    }
    if (bytes.isEmpty()) {
        return GdtRefusal{1, QStringLiteral("Die Datei ist leer.")};
    }
    if (bytes.size() > kGdtMaxRequestBytes) {
        return GdtRefusal{1, QStringLiteral("Die Datei ist zu groß für eine GDT-Anforderung.")};
    }
    const QByteArrayView after = original.sliced(bytes.size());
    const qsizetype lastTerminator = after.startsWith("\r\n") ? 2 : after.startsWith('\n') ? 1 : 0;
    std::vector<RawField> raw;
    qsizetype bytesAsWritten = 0;  // each line as it stands in the file
    qsizetype bytesWithCrLf = 0;   // each line as if it ended in CR LF
    int lineNumber = 0;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        ++lineNumber;
        qsizetype end = bytes.indexOf('\n', pos);
        qsizetype terminator = 1;
        if (end < 0) {
            end = bytes.size();
            terminator = lastTerminator;
        }
        QByteArrayView line = bytes.sliced(pos, end - pos);
        if (terminator == 1 && line.endsWith('\r')) {
            line.chop(1);
            ++terminator;
        }
        pos = end + (end < bytes.size() ? 1 : 0);
        if (line.size() < 7) {
            return GdtRefusal{lineNumber,
                              QStringLiteral("Die Zeile „%1“ ist zu kurz für Längenangabe und "
                                             "Feldkennung.")
                                  .arg(Shown(line))};
        }
        const QByteArrayView length = line.first(3);
        const QByteArrayView id = line.sliced(3, 4);
        const QByteArrayView content = line.sliced(7);
        if (!AllDigits(length)) {
            return GdtRefusal{
                lineNumber,
                QStringLiteral("Die Längenangabe „%1“ ist keine Zahl.").arg(Shown(length))};
        }
        if (!AllDigits(id)) {
            return GdtRefusal{
                lineNumber, QStringLiteral("Die Feldkennung „%1“ ist keine Zahl.").arg(Shown(id))};
        }
        const int stated = length.toInt();
        const qsizetype asWritten = line.size() + terminator;
        const qsizetype withCrLf = content.size() + gdt::kLineOverhead;
        if (stated != asWritten && stated != withCrLf) {
            return GdtRefusal{
                lineNumber, QStringLiteral("Die Längenangabe %1 passt nicht zur Zeile (%2 Bytes).")
                                .arg(QString::fromLatin1(length.toByteArray()))
                                .arg(withCrLf)};
        }
        bytesAsWritten += asWritten;
        bytesWithCrLf += withCrLf;
        raw.push_back({id.toInt(), content.toByteArray(), lineNumber});
    }

    if (raw.front().id != gdt::kRecordType) {
        return GdtRefusal{1,
                          QStringLiteral("Die Datei beginnt nicht mit der Satzart (Feld 8000).")};
    }
    const QByteArray& type = raw.front().content;
    GdtRequest request;
    if (type == "6301" || type == "6302" || type == "6303" || type == "6311") {
        request.type = GdtRequestType(type.toInt());
    } else if (type == "6300" || type == "6310") {
        return GdtRefusal{1, QStringLiteral("Die Satzart %1 ist keine Anforderung an ein Gerät.")
                                 .arg(QString::fromLatin1(type))};
    } else {
        return GdtRefusal{1, QStringLiteral("Unbekannte Satzart „%1“.").arg(Shown(type))};
    }

    // A second record would make the first one's length and fields wrong; it is named first.
    for (std::size_t i = 1; i < raw.size(); ++i) {
        if (raw[i].id == gdt::kRecordType) {
            return GdtRefusal{raw[i].line,
                              QStringLiteral("Eine zweite Satzart (Feld 8000) in derselben Datei; "
                                             "eine Anforderung steht allein.")};
        }
    }
    for (std::size_t i = 1; i < raw.size(); ++i) {
        const RawField& field = raw[i];
        switch (field.id) {
            case gdt::kRecordLength: {
                const QByteArray value = field.content.trimmed();
                if (!AllDigits(value) || value.size() > 9 ||
                    (value.toLongLong() != bytesAsWritten && value.toLongLong() != bytesWithCrLf)) {
                    return GdtRefusal{
                        field.line,
                        QStringLiteral("Die Satzlänge „%1“ passt nicht zur Datei (%2 Bytes).")
                            .arg(Shown(field.content))
                            .arg(bytesWithCrLf)};
                }
                break;
            }
            case gdt::kCharset: {
                const std::optional<GdtCharset> charset =
                    GdtCharsetOf(GdtDecode(field.content, GdtCharset::CodePage437));
                if (!charset) {
                    return GdtRefusal{field.line,
                                      QStringLiteral("Unbekannter Zeichensatz „%1“ (erwartet: 1, "
                                                     "2 oder 3).")
                                          .arg(Shown(field.content))};
                }
                request.charset = *charset;
                request.charsetGiven = true;
                break;
            }
            default:
                break;
        }
    }

    request.fields.reserve(raw.size() - 1);
    for (std::size_t i = 1; i < raw.size(); ++i) {
        request.fields.push_back({raw[i].id, GdtDecode(raw[i].content, request.charset)});
    }
    request.receiverId = FieldText(request.fields, gdt::kReceiverId);
    request.senderId = FieldText(request.fields, gdt::kSenderId);
    request.version = FieldText(request.fields, gdt::kVersion);
    request.patient = PatientOf(request.fields);
    if (request.patient.patientNumber.isEmpty()) {
        return GdtRefusal{
            lineNumber + 1,
            QStringLiteral("Die Anforderung endet ohne Patientennummer (Feld 3000).")};
    }
    return request;
}

}  // namespace velmora
