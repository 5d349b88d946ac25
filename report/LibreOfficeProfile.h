#pragma once

// Which LibreOffice profile the report's instance runs on, and the pipe it is reached on: part of
// the LibreOffice server, without UNO, so that tests can name the pipe as the server does.

#include <QString>

namespace velmora {

// The user's own profile, where LibreOffice keeps it: "libreoffice/4" in the user's configuration
// folder (XDG_CONFIG_HOME, else ~/.config).
QString UserLibreOfficeProfile();

// A profile of the program's own, for a machine where the user's cannot be used:
// "velmora/libreoffice" in the user's data folder.
QString PrivateLibreOfficeProfile();

// Whether an instance can keep its profile in `folder`: it is a folder of this user's that can
// be written, or can be made where it is missing.
bool ProfileUsable(const QString& folder);

// The pipe that an instance on `profile` accepts the program's connections on:
// "velmora-writer-<user id>-<the first 8 hexadecimal digits of the SHA-1 of the profile's path>".
// There is one instance per profile (LibreOffice hands a second start on the same profile to the
// first), so each profile has a pipe of its own.
QString LibreOfficePipeName(const QString& profile);

}  // namespace velmora
