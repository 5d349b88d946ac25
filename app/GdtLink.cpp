#include "app/GdtLink.h"

#include "gdt/GdtResult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace velmora {

namespace {

QString Configured(const QSettings& settings, const char* key, const QString& fallback) {
    const QString value =
        settings.value(QStringLiteral("GDT/") + QString::fromUtf8(key)).toString().trimmed();
    return value.isEmpty() ? fallback : value;
}

// A pending result: the folder it goes to on its first line, then the record's bytes.
QByteArray PendingFile(const QString& folder, const QString& fileName, const QByteArray& bytes) {
    return QFile::encodeName(folder) + '\n' + fileName.toUtf8() + '\n' + bytes;
}

}  // namespace

GdtSettings GdtSettings::Read() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::home().filePath(QStringLiteral(".config"));
    }
    const QSettings file(QDir(config).filePath(QStringLiteral("velmora/velmora.conf")),
                         QSettings::IniFormat);
    GdtSettings settings;
    settings.folder = Configured(file, "Verzeichnis", {});
    settings.ownCode = Configured(file, "Eigenes Kürzel", settings.ownCode);
    settings.practiceCode = Configured(file, "Praxis-Kürzel", settings.practiceCode);
    settings.ownId = Configured(file, "Eigene Kennung", settings.ownId);
    settings.charset = GdtCharsetOf(Configured(file, "Zeichensatz", {}));
    const QString keep = Configured(file, "Anforderung behalten", {}).toLower();
    settings.keepRequest = keep == u"ja" || keep == u"true" || keep == u"1";
    return settings;
}

PatientFields PatientFieldsOf(const GdtPatient& patient) {
    PatientFields fields;
    fields.patientId = patient.patientNumber;
    fields.name = patient.name;
    fields.firstName = patient.firstName;
    fields.postcode = patient.postcode;
    fields.town = patient.town;
    fields.street = patient.street;
    fields.telephone = patient.telephone;
    fields.email = patient.email;
    fields.birthDate = patient.birthDate;
    return fields;
}

PatientFields WithRequestFields(PatientFields stored, const GdtPatient& patient) {
    const PatientFields sent = PatientFieldsOf(patient);
    for (const auto& [field, value] : {std::pair{&stored.patientId, &sent.patientId},
                                       {&stored.name, &sent.name},
                                       {&stored.firstName, &sent.firstName},
                                       {&stored.postcode, &sent.postcode},
                                       {&stored.town, &sent.town},
                                       {&stored.street, &sent.street},
                                       {&stored.telephone, &sent.telephone},
                                       {&stored.email, &sent.email},
                                       {&stored.birthDate, &sent.birthDate}}) {
        if (!value->isEmpty()) {
            *field = *value;
        }
    }
    return stored;
}

GdtLink::GdtLink(GdtSettings settings, QString pendingFolder)
    : settings_(std::move(settings)), pendingFolder_(std::move(pendingFolder)) {}

QString GdtLink::DefaultPendingFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        data = QDir::home().filePath(QStringLiteral(".local/share"));
    }
    return QDir(data).filePath(QStringLiteral("velmora/gdt-ausstehend"));
}

GdtRequestFile GdtLink::Read(const QString& path) {
    GdtRequestFile read = GdtReadRequestFile(path);
    if (read.request) {
        lastRequestFolder_ = QFileInfo(path).absolutePath();
        QFile file(path);
        lastRequestBytes_ = file.open(QIODevice::ReadOnly) ? file.read(kGdtMaxRequestBytes) : "";
    }
    if (QFileInfo(path).absoluteFilePath() == declined_) {
        declined_.clear();  // offered now; declined again, it says so
    }
    return read;
}

void GdtLink::RequestTaken(const QString& path) {
    if (settings_.keepRequest) {
        return;
    }
    // The practice's software writes the next request under the same name: one written while
    // this one was asked about is not deleted with it.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.read(kGdtMaxRequestBytes) == lastRequestBytes_) {
        file.close();
        QFile::remove(path);
    }
}

void GdtLink::Declined(const QString& path) {
    declined_ = QFileInfo(path).absoluteFilePath();
}

QString GdtLink::Waiting() const {
    return !declined_.isEmpty() && QFileInfo::exists(declined_) ? declined_ : QString();
}

QString GdtLink::CurrentFile() const {
    return QDir(pendingFolder_).filePath(QStringLiteral("aktuell.anforderung"));
}

void GdtLink::Begin(const GdtRequest& request, const QString& folder, const QDateTime& started) {
    current_ = Taken{request, folder, started};
    // The request as read, with where it came from and when its visit started.
    QDir().mkpath(pendingFolder_);
    QSaveFile file(CurrentFile());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QFile::encodeName(folder) + '\n' + started.toString(Qt::ISODate).toLatin1() +
                   '\n' + lastRequestBytes_);
        file.commit();
    }
}

void GdtLink::Drop() {
    current_.reset();
    QFile::remove(CurrentFile());
}

const GdtRequest* GdtLink::Restore() {
    if (current_) {
        return &current_->request;
    }
    QFile file(CurrentFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    const QByteArray content = file.readAll();
    const qsizetype firstEnd = content.indexOf('\n');
    const qsizetype secondEnd = firstEnd < 0 ? -1 : content.indexOf('\n', firstEnd + 1);
    if (secondEnd < 0) {
        return nullptr;
    }
    auto read = GdtReadRequest(content.sliced(secondEnd + 1));
    if (!std::holds_alternative<GdtRequest>(read)) {
        return nullptr;
    }
    current_ =
        Taken{std::get<GdtRequest>(std::move(read)), QFile::decodeName(content.first(firstEnd)),
              QDateTime::fromString(
                  QString::fromLatin1(content.sliced(firstEnd + 1, secondEnd - firstEnd - 1)),
                  Qt::ISODate)};
    return &current_->request;
}

QString GdtLink::ResultFolder() const {
    if (!settings_.folder.isEmpty()) {
        return settings_.folder;
    }
    return current_ ? current_->folder : lastRequestFolder_;
}

QString GdtLink::Finish(const VisitLevels& levels, const QString& reportPdf) {
    if (!current_) {
        return WritePending();
    }
    const GdtRequest& request = current_->request;
    GdtResult result;
    result.requestReceiverId = request.receiverId.isEmpty() ? settings_.ownId : request.receiverId;
    result.requestSenderId = request.senderId;
    result.patientNumber = request.patient.patientNumber;
    result.name = request.patient.name;
    result.firstName = request.patient.firstName;
    result.birthDate = request.patient.birthDate;
    result.visitStarted = current_->started;
    // Right, left, both; low to high.
    for (const auto& [ear, gdtEar] : {std::pair{Ear::Right, GdtThreshold::Ear::Right},
                                      {Ear::Left, GdtThreshold::Ear::Left},
                                      {Ear::Both, GdtThreshold::Ear::Both}}) {
        for (std::size_t slot = 0; slot < kTestFrequencies.size(); ++slot) {
            const int level = levels[std::size_t(ear)][slot];
            if (level >= 0) {
                result.thresholds.push_back({gdtEar, kTestFrequencies[slot], level});
            }
        }
    }
    const QString folder = current_->folder;
    const QString target = settings_.folder.isEmpty() ? folder : settings_.folder;
    if (!reportPdf.isEmpty()) {
        const QString copy = QDir(target).absoluteFilePath(
            settings_.ownCode + current_->started.toString(QStringLiteral("yyMMddHHmmss")) +
            QStringLiteral(".PDF"));
        result.reportPdf = QFile::exists(copy) || QFile::copy(reportPdf, copy)
                               ? copy
                               : QFileInfo(reportPdf).absoluteFilePath();
    }
    Drop();
    if (result.thresholds.empty() && reportPdf.isEmpty()) {
        return WritePending();
    }
    const GdtCharset charset = settings_.charset.value_or(request.charset);
    const QByteArray bytes = GdtWriteResult(result, charset);
    // Kept first, so that a crash while it is written to the exchange folder loses nothing.
    if (!QDir().mkpath(pendingFolder_)) {
        return QStringLiteral("Der Ordner „%1“ kann nicht angelegt werden.")
            .arg(QDir::toNativeSeparators(pendingFolder_));
    }
    QFile::setPermissions(pendingFolder_,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile pending(QDir(pendingFolder_)
                          .filePath(QDateTime::currentDateTimeUtc().toString(
                                        QStringLiteral("yyyyMMdd-HHmmsszzz-")) +
                                    NewRecordId() + QStringLiteral(".gdt")));
    if (!pending.open(QIODevice::WriteOnly) ||
        pending.write(PendingFile(target, settings_.ResultFileName(), bytes)) < 0 ||
        !pending.commit()) {
        // Velmora's own folder failed: straight to the exchange folder, then.
        const GdtWrittenFile written =
            GdtWriteResultFile(target, settings_.ResultFileName(), bytes);
        return written.Ok() ? WritePending() : written.error;
    }
    return WritePending();
}

QString GdtLink::WritePending() {
    const QDir dir(pendingFolder_);
    QString problem;
    for (const QString& name : dir.entryList({QStringLiteral("*.gdt")}, QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray content = file.readAll();
        file.close();
        const qsizetype firstEnd = content.indexOf('\n');
        const qsizetype secondEnd = firstEnd < 0 ? -1 : content.indexOf('\n', firstEnd + 1);
        if (secondEnd < 0) {
            continue;  // not one of ours
        }
        const QString folder = QFile::decodeName(content.first(firstEnd));
        const QString fileName =
            QString::fromUtf8(content.sliced(firstEnd + 1, secondEnd - firstEnd - 1));
        const GdtWrittenFile written =
            GdtWriteResultFile(folder, fileName, content.sliced(secondEnd + 1));
        if (!written.Ok()) {
            problem = written.error;
            continue;
        }
        QFile::remove(path);
    }
    return problem;
}

int GdtLink::PendingCount() const {
    return int(QDir(pendingFolder_).entryList({QStringLiteral("*.gdt")}, QDir::Files).size());
}

}  // namespace velmora
