#pragma once

#include <QString>

namespace velmora {

// The program speaks German whatever the machine's locale: Qt's own texts (the standard dialogs,
// the context menus of the fields, the buttons) come from Qt's German translation, which this
// installs into the application; dates and numbers follow the German locale. False when the
// translation is not installed (Debian: qt6-translations-l10n); the texts then stay Qt's own.
bool InstallGermanTranslation();

// The reason for a failed file operation, from the C library's error number: German for the
// errors an operator meets (a missing folder, no permission, a full or read-only disk, a file
// that exists or is in use), the system's text for others.
QString ReasonOf(int error);

}  // namespace velmora
