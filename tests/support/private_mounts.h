// Real unwritable places for the file tests. Tests run as root, for whom
// permission bits mean nothing, so read-only and full folders are made with
// mounts in a mount namespace private to the test process.
#pragma once

#include <QString>

// Called once from main before any thread starts; false when the process
// may not have mounts of its own (then those tests skip).
bool EnterPrivateMountNamespace();
bool HavePrivateMounts();

// Makes dir read-only by binding it onto itself read-only.
bool MountReadOnly(const QString& dir);
// Mounts a tmpfs of the given size on dir.
bool MountSmallTmpfs(const QString& dir, int kilobytes);
void Unmount(const QString& dir);
