// Writing a finished file so that a failure never costs the user the file
// that was there before: the bytes go to a fresh file beside the target,
// which takes the target's name only when every byte is on disk. The file a
// symbolic link names is the one replaced, and the link stays. A file that a
// fresh one would not stand in for (hard-linked, someone else's, or in a
// folder the user may not write) is written where it is, once the space
// for the whole picture is reserved; its owner, group and permissions stay.
#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

// A file that could not be created or written; the message is the one the
// user sees.
class EFCreateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces (or creates) fileName with exactly bytes. Throws EFCreateError with
// "Cannot create file "<path>". <system text>" when the file cannot be made,
// or "Cannot write file "<path>". <system text>" when the bytes cannot be
// stored; in both cases an earlier file of that name is left untouched and
// no stray file remains. (Written in place, only an input/output error part
// way through the bytes could still leave the old file damaged.)
void WriteFileReplacing(const QString& fileName, const QByteArray& bytes);
