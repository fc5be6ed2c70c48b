// Writing a finished file so that a failure never costs the user the file
// that was there before: the bytes go to a fresh file beside the target,
// which takes the target's name only when every byte is on disk. The file a
// symbolic link names is the one replaced, and the link stays. A file that a
// fresh one would not stand in for (hard-linked, someone else's, or in a
// folder the user may not write) is written where it is, once the space
// for the whole of it is reserved; its owner, group and permissions stay.
// What is no regular file (a device, a FIFO) is written where it is as the
// bytes come, as the shell's > would: renaming over it would put a file in
// its place. Every program's files go this way: pictures, reports, exports,
// tirvane-read's output and the recorder's notices. QtCore only.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <stdexcept>

class QIODevice;

// A file that could not be created or written; the message is the one the
// user sees.
class EFCreateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One file written by the rules above, in as many pieces as the writer
// likes; or an open descriptor (standard output) written as the bytes come.
// Until Commit the earlier file stays as it was; a file destroyed without
// Commit, or after a failure, leaves it so and no stray file beside it.
class TOutputFile {
public:
    // Opens fileName's place at once, so a place that cannot be written is
    // known before anything is made to fill it.
    explicit TOutputFile(const QString& fileName);
    // Writes to fd, which stays open.
    explicit TOutputFile(int fd);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // False once anything failed; nothing more is written after that.
    bool Write(const char* data, qsizetype size);
    bool Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }
    // The file takes its name (or the device has all of it); false when any
    // of it was lost.
    bool Commit();

    bool Failed() const { return FError != 0; }
    // Whether the failure came before anything could be written: the place
    // could not take a file at all.
    bool FailedToCreate() const { return FFailedToCreate; }
    // The system's reason for the failure.
    QString ErrorText() const;

private:
    enum class TMode {
        Descriptor, // the caller's descriptor, written as the bytes come
        Fresh,      // a fresh file beside the target, renamed over it at the end
        InPlace,    // a regular file written where it is, all at once at the end
        Device,     // no regular file: written where it is as the bytes come
    };

    void Open();
    void OpenInPlace(TMode mode);
    bool Fail(int error, bool creating = false);
    bool WriteFileInPlace();

    QString FPath;
    QByteArray FTarget; // the file a link names, encoded
    QByteArray FFresh;  // removed unless it took the target's name
    QByteArray FHeld;   // what a file written in place gets at the end
    TMode FMode = TMode::Descriptor;
    int FFd = -1;
    int FError = 0;
    bool FFailedToCreate = false;
    bool FCommitted = false;
};

// Replaces (or creates) fileName with exactly bytes. Throws EFCreateError with
// "Cannot create file "<path>". <system text>" when the file cannot be made,
// or "Cannot write file "<path>". <system text>" when the bytes cannot be
// stored; in both cases an earlier file of that name is left untouched and
// no stray file remains. (Written in place, only an input/output error part
// way through the bytes could still leave the old file damaged.)
void WriteFileReplacing(const QString& fileName, const QByteArray& bytes);

// The same without exceptions, for a writer that streams into a device (a
// picture's save, rows as they are read): false when the file could not be
// written whole, or when write returned false, with the system's reason in
// error. The device is sequential and buffered; the file is complete only
// once this returns true.
bool WriteFileWhole(const QString& fileName, const std::function<bool(QIODevice&)>& write, QString* error = nullptr);
bool WriteFileWhole(const QString& fileName, const QByteArray& bytes, QString* error = nullptr);
