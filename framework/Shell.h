#pragma once

#include <QString>

#include <functional>

namespace velmora {

// Show commands of ShellExecute, with their classic values.
constexpr int SW_SHOWNORMAL = 1;

// What ShellExecute was asked to do.
struct ShellRequest {
    QString operation;
    QString file;
    QString parameters;
    QString directory;
    int showCommand = SW_SHOWNORMAL;
};

// Asks the desktop to act on a file or link, as the shell's "open" does: a mail link opens the
// user's mail program with a new message, a web address the web browser. No command line and no
// shell are involved: the link goes to the desktop's URL handler (QDesktopServices), so nothing
// in it is ever run as a command. Returns false when the desktop found no program for it (for a
// file: when the desktop's MIME database, xdg-mime, names none for its type).
//
// Tests install their own handler to see what would be opened.
bool ShellExecute(const QString& operation, const QString& file, const QString& parameters = {},
                  const QString& directory = {}, int showCommand = SW_SHOWNORMAL);

using ShellHandler = std::function<bool(const ShellRequest&)>;
// Installs a handler and returns the previous one; an empty handler restores the default.
ShellHandler SetShellHandler(ShellHandler handler);

// Deletes a file; false when there is none, the path is empty or the file cannot be deleted.
bool DeleteFile(const QString& path);

// Moves the finished file `from` to `to` on the same file system, at once and whole. Without
// `replace` a file that is at `to` (even one that appeared a moment ago) is never replaced: the
// move fails with EEXIST in *error. Else *error is the system's error number of a failure.
bool MoveIntoPlace(const QString& from, const QString& to, bool replace, int* error);

// A directory for files that only this user may read: "velmora" under the user's runtime
// directory (XDG_RUNTIME_DIR), else under the user's cache directory, created with mode 0700.
// An existing directory is used only when it is a real directory (not a link) owned by this user
// and closed to everyone else; otherwise the result is empty and *error says why.
QString PrivateDirectory(QString* error = nullptr);
// The same when it exists already (and is safe, as above); empty, and nothing made, otherwise.
QString ExistingPrivateDirectory();

}  // namespace velmora
