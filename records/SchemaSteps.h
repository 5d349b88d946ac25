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
// instead of every patient. Step 3: writes kept on a workstation for a server that could not be
// reached, in the order made, until they are on the server (used in the workstation's own file).
// Step 4: the audit trail, a line for every search that shows patients, load, report, export,
// change and deletion (time, user, workstation, action, ids; no health data); it has no foreign
// keys, so that the line of a deletion outlives what was deleted. Step 5: every version of a
// patient's fields, with time, user and workstation (a correction leaves the original readable).
// Step 6: the visit a visit corrects (a finished visit is never changed; its correction is a new
// visit that names it). Step 7: the date of birth the practice's software sent, with the patient
// and in each version (not shown on the window).
//
// Further steps add to these; a step never rewrites what an earlier one laid out. Each step runs in
// its own transaction together with its row in schema_step, so a database is always at one step.
inline constexpr int kSchemaVersion = 7;

// Brings the schema of `db` up to step `upTo` (kSchemaVersion when negative). `postgres` selects
// the few words the two databases spell differently. False with the German reason when a step
// fails or the database is at a later step than this program knows (made by a newer program).
bool UpgradeSchema(QSqlDatabase& db, bool postgres, int upTo, int* version, QString* error);

}  // namespace velmora
