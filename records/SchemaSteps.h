#pragma once

#include <QString>

class QSqlDatabase;

namespace velmora {

// The layout of the patient records, as a list of steps from an empty database on.
//
// Step 1: patients (the ten fields of the window, a stable internal id, the practice's
// Patienten-ID, normalised keys for finding them again and a revision counted up at every change),
// visits (a UUID, start, end, open or finished, who made it on which workstation and sound output)
// and every threshold taken (a second take of a frequency is kept too; the last counts). Step 2:
// the words patients are found by, one row per word, so that a keystroke's search reads an index
// instead of every patient.
//
// Further steps add to these; a step never rewrites what an earlier one laid out. Each step runs in
// its own transaction together with its row in schema_step, so a database is always at one step.
inline constexpr int kSchemaVersion = 2;

// Brings the schema of `db` up to step `upTo` (kSchemaVersion when negative). `postgres` selects
// the few words the two databases spell differently. False with the German reason when a step
// fails or the database is at a later step than this program knows (made by a newer program).
bool UpgradeSchema(QSqlDatabase& db, bool postgres, int upTo, int* version, QString* error);

}  // namespace velmora
