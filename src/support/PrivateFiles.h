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

// Whether path is a folder that only this user can enter: a folder, not a
// link, owned by the effective user, open to no one else. Others' files
// placed there (a socket that answers for us) cannot be trusted otherwise.
// With create, a missing one is made 0700 first. Gives why not, empty when it is.
QString checkOwnFolder(const QString &path, bool create);

} // namespace PrivateFiles
