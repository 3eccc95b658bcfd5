// Writer of .LSZ archives: the signature, then one 51-byte header and the stored bytes per
// member. Members are stored unchanged or imploded; empty files are always stored, since the
// decoder refuses the 4-byte stream of empty data.
#ifndef TOOLS_LSZ_ARCHIVE_WRITER_H
#define TOOLS_LSZ_ARCHIVE_WRITER_H

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "archive.h"
#include "implode.h"

enum MemberMethod {
    MEMBER_STORE,
    MEMBER_IMPLODE,
    MEMBER_AUTO // implode, unless the stream would not be smaller than the file
};

struct MemberOptions {
    MemberMethod method = MEMBER_AUTO;
    ImplodeOptions implode;
};

struct DosDateTime {
    uint16_t date;
    uint16_t time;
};

// One member, ready to be appended: its header (name, sizes, CRC, time, method) and the bytes
// that follow it in the archive.
struct EncodedMember {
    MemberHeader header;
    std::vector<uint8_t> stored;
};

struct ArchiveWriter {
    FILE* file = nullptr;
    std::string path;
    uint32_t size = 0;              // bytes written so far
    std::vector<std::string> names; // members so far, for the duplicate check
    std::string error;              // why the last call failed
};

// True for a name that a reader can create in its destination directory: 1 to 18
// characters, no '\\', '/' or ':', not "." or "..", not a DOS device name.
bool IsWritableMemberName(const std::string& name);

// MS-DOS date and time of a POSIX time, seconds halved. Broken down in local time, as DOS
// times are, or in UTC when asked. Times before 1980 are clamped to its first second, times
// after 2107 to the last second DOS can hold.
DosDateTime DosTimeFromPosix(time_t t, bool utc);

// Builds a member from the file's bytes. Fails (with a reason in *error) on an unusable name
// or invalid implode options.
bool EncodeMember(const std::string& name, const std::vector<uint8_t>& data, DosDateTime when,
                  const MemberOptions& options, EncodedMember* out, std::string* error);

// Creates (or replaces) the archive file and writes the signature.
bool OpenArchive(ArchiveWriter* w, const std::string& path);
// Appends one member. Refuses a name already in the archive (compared without regard to
// ASCII case, as the target file system will) and an archive that would grow past the 2 GiB
// that readers can address.
bool AppendMember(ArchiveWriter* w, const EncodedMember& member);
// True when path names the archive being written (the same file, under whatever name), which
// cannot be one of its own members.
bool IsArchiveBeingWritten(const ArchiveWriter* w, const std::string& path);
// Closes the file; returns false when the data could not be written out.
bool CloseArchive(ArchiveWriter* w);
// Closes and deletes a partly written archive.
void AbandonArchive(ArchiveWriter* w);

// Reads a file and its modification time, for EncodeMember.
bool ReadInputFile(const std::string& path, std::vector<uint8_t>* data, time_t* mtime,
                   std::string* error);

#endif
