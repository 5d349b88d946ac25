#pragma once

#include "gdt/GdtExchange.h"
#include "gdt/GdtRequest.h"
#include "records/PatientRecords.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace velmora {

// The group [GDT] of ~/.config/velmora/velmora.conf: how Velmora and the practice's software
// exchange their files.
struct GdtSettings {
    QString folder;                                 // Verzeichnis: the exchange folder
    QString ownCode = QStringLiteral("VELM");       // Eigenes Kürzel
    QString practiceCode = QStringLiteral("PRAX");  // Praxis-Kürzel
    QString ownId = QStringLiteral("VELMORA");      // Eigene Kennung (8315/8316)
    std::optional<GdtCharset> charset;              // Zeichensatz; else the request's
    bool keepRequest = false;                       // Anforderung behalten

    // From velmora.conf in $XDG_CONFIG_HOME (~/.config when unset).
    static GdtSettings Read();
    // VELMPRAX.GDT and PRAXVELM.GDT with the default codes.
    QString RequestFileName() const { return GdtFileName(ownCode, practiceCode); }
    QString ResultFileName() const { return GdtFileName(practiceCode, ownCode); }
};

// The patient's fields from a request: Patienten-ID, Name, Vorname, PLZ, Wohnort, Straße,
// Telefon, E-Mail on the window, the date of birth kept with them; the others empty.
PatientFields PatientFieldsOf(const GdtPatient& patient);
// `stored` with every field the request sends in place of the stored one.
PatientFields WithRequestFields(PatientFields stored, const GdtPatient& patient);

// The link to the practice's software for the window: the request the patient on the window
// came with, and the result written when their visit finishes.
//
// A result that cannot be written to the exchange folder is kept in Velmora's own data folder
// ($XDG_DATA_HOME/velmora/gdt-ausstehend) and written there again at the next finish and start,
// oldest first, so that nothing measured is lost between Velmora and the practice's software.
class GdtLink {
public:
    explicit GdtLink(GdtSettings settings, QString pendingFolder = DefaultPendingFolder());

    const GdtSettings& Settings() const { return settings_; }
    static QString DefaultPendingFolder();

    // Reads a request; the file stays until it is taken (RequestTaken). The refusal names the file
    // and the line, in German.
    GdtRequestFile Read(const QString& path);
    // The request last read from `path` was taken (its patient on the window, or the request
    // done with): the file is deleted unless the settings keep it, or the practice's software
    // has written a newer request there meanwhile.
    void RequestTaken(const QString& path);
    // The request last read from `path` was declined while another visit went on: the file
    // stays, to be offered again when that visit finishes (a newer request of the practice's
    // software under the same name takes its place).
    void Declined(const QString& path);
    // The declined request still waiting there; empty without one.
    QString Waiting() const;

    // The patient on the window came with `request` from `folder`, their visit started at
    // `started`: a result is written when it finishes. Kept on the disk until then, so that after
    // a crash the way back to the practice's software is not lost (Restore).
    void Begin(const GdtRequest& request, const QString& folder, const QDateTime& started);
    // The patient on the window is no longer the request's (the request withdrawn).
    void Drop();
    const GdtRequest* Current() const { return current_ ? &current_->request : nullptr; }
    QString CurrentFolder() const { return current_ ? current_->folder : QString(); }
    // The request whose visit a crash left unfinished, taken up again (Current() then); null
    // without one.
    const GdtRequest* Restore();

    // The visit of the request's patient finished with `levels` (tenths per ear and frequency
    // slot, -1 where none) and the report's PDF (empty without one): the result, written or kept
    // for later. The PDF is copied beside the result under a short name (Eigenes Kürzel and the
    // visit's start, "VELM260304091500.PDF"), so that its path fits the 60 characters of a 2.1
    // line; where it cannot be copied, the result names it where it is. Without a threshold and a
    // report nothing is written. Empty, or why the result is waiting, in German.
    QString Finish(const VisitLevels& levels, const QString& reportPdf);
    // Writes the results still waiting; empty, or why they still wait.
    QString WritePending();
    int PendingCount() const;
    // The folder results go to: the exchange folder, else the one the request came from.
    QString ResultFolder() const;

private:
    struct Taken {
        GdtRequest request;
        QString folder;
        QDateTime started;
    };
    QString CurrentFile() const;
    GdtSettings settings_;
    QString pendingFolder_;
    std::optional<Taken> current_;
    QString lastRequestFolder_;
    QByteArray lastRequestBytes_;
    QString declined_;
};

}  // namespace velmora
