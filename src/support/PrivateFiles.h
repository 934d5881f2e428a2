#pragma once

#include <QString>

// Settings hold the cloud token and the profile every transcript: whatever
// the umask, they are the user's alone. Existing ones are tightened too.
namespace PrivateFiles {

// Creates the folder and its parents; the folder itself becomes 0700.
// Gives why it failed, empty on success.
QString ensureFolder(const QString &path);

// Makes a file 0600 when it exists.
void restrictFile(const QString &path);

} // namespace PrivateFiles
