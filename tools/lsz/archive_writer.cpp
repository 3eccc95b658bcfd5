#include "archive_writer.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "crc32.h"

namespace {

constexpr int kDosFirstYear = 1980;
constexpr int kDosLastYear = 2107;

uint32_t Crc32Of(const std::vector<uint8_t>& bytes) {
    return ~UpdateCrc32(bytes.data(), static_cast<uint32_t>(bytes.size()), 0xFFFFFFFFu);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool WriteAll(ArchiveWriter* w, const void* data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, w->file) != size) {
        w->error = w->path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// Chooses the stored bytes and method for the file's content.
bool PackData(const std::vector<uint8_t>& data, const MemberOptions& options,
              std::vector<uint8_t>* stored, uint16_t* method, std::string* error) {
    if (!ImplodeOptionsValid(options.implode)) {
        *error = "invalid compression options";
        return false;
    }
    *method = SQ_METHOD_STORED;
    *stored = data;
    if (data.empty() || options.method == MEMBER_STORE) {
        return true;
    }
    std::vector<uint8_t> imploded;
    if (!Implode(data.data(), data.size(), options.implode, &imploded)) {
        *error = "too large for an archive";
        return false;
    }
    if (options.method == MEMBER_IMPLODE || imploded.size() < data.size()) {
        *method = SQ_METHOD_EXPLODED;
        stored->swap(imploded);
    }
    return true;
}

} // namespace

bool IsWritableMemberName(const std::string& name) {
    if (name.empty() || name.size() >= SQ_NAME_FIELD_SIZE || name.find('\0') != std::string::npos) {
        return false;
    }
    char field[SQ_NAME_FIELD_SIZE] = {};
    std::memcpy(field, name.data(), name.size());
    return IsPlainMemberName(field) != 0;
}

DosDateTime DosTimeFromPosix(time_t t, bool utc) {
    struct tm parts;
    if ((utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) == nullptr) {
        parts = tm();
        parts.tm_year = t < 0 ? kDosFirstYear - 1900 : kDosLastYear + 1 - 1900;
    }
    int year = parts.tm_year + 1900;
    if (year < kDosFirstYear) {
        return {static_cast<uint16_t>((0 << 9) | (1 << 5) | 1), 0};
    }
    if (year > kDosLastYear) {
        return {static_cast<uint16_t>((127 << 9) | (12 << 5) | 31),
                static_cast<uint16_t>((23 << 11) | (59 << 5) | 29)};
    }
    DosDateTime d;
    d.date = static_cast<uint16_t>(((year - kDosFirstYear) << 9) | ((parts.tm_mon + 1) << 5) |
                                   parts.tm_mday);
    d.time = static_cast<uint16_t>((parts.tm_hour << 11) | (parts.tm_min << 5) |
                                   (parts.tm_sec > 59 ? 29 : parts.tm_sec / 2));
    return d;
}

bool EncodeMember(const std::string& name, const std::vector<uint8_t>& data, DosDateTime when,
                  const MemberOptions& options, EncodedMember* out, std::string* error) {
    if (!IsWritableMemberName(name)) {
        *error = "'" + name +
                 "' cannot be a member name (1 to 18 characters, a plain file "
                 "name that is not a device)";
        return false;
    }
    MemberHeader& h = out->header;
    h = MemberHeader();
    if (!PackData(data, options, &out->stored, &h.method, error)) {
        return false;
    }
    std::memcpy(h.memberName, name.data(), name.size());
    h.storedSize = static_cast<uint32_t>(out->stored.size());
    h.storedCrc = Crc32Of(out->stored);
    h.dosDate = when.date;
    h.dosTime = when.time;
    return true;
}

bool OpenArchive(ArchiveWriter* w, const std::string& path) {
    *w = ArchiveWriter();
    w->path = path;
    w->file = std::fopen(path.c_str(), "wb");
    if (w->file == nullptr) {
        w->error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!WriteAll(w, SQ_SIGNATURE, SQ_SIGNATURE_SIZE)) {
        return false;
    }
    w->size = SQ_SIGNATURE_SIZE;
    return true;
}

bool AppendMember(ArchiveWriter* w, const EncodedMember& member) {
    std::string name = member.header.memberName;
    for (const std::string& earlier : w->names) {
        if (SameNameIgnoringCase(earlier, name)) {
            w->error = "'" + name + "' is already a member (as '" + earlier + "')";
            return false;
        }
    }
    uint64_t end = uint64_t{w->size} + SQ_HEADER_SIZE + member.stored.size();
    if (end > SQ_MAX_OFFSET) {
        w->error = "'" + name + "' would take the archive past 2 GiB";
        return false;
    }
    uint8_t raw[SQ_HEADER_SIZE];
    FormatMemberHeader(&member.header, raw);
    if (!WriteAll(w, raw, sizeof raw) || !WriteAll(w, member.stored.data(), member.stored.size())) {
        return false;
    }
    w->size = static_cast<uint32_t>(end);
    w->names.push_back(name);
    return true;
}

bool IsArchiveBeingWritten(const ArchiveWriter* w, const std::string& path) {
    struct stat input;
    struct stat archive;
    return w->file != nullptr && stat(path.c_str(), &input) == 0 &&
           fstat(fileno(w->file), &archive) == 0 && input.st_dev == archive.st_dev &&
           input.st_ino == archive.st_ino;
}

bool CloseArchive(ArchiveWriter* w) {
    if (w->file == nullptr) {
        return true;
    }
    bool ok = std::fflush(w->file) == 0 && std::ferror(w->file) == 0;
    if (!ok) {
        w->error = w->path + ": " + std::strerror(errno);
    }
    ok = std::fclose(w->file) == 0 && ok;
    w->file = nullptr;
    return ok;
}

void AbandonArchive(ArchiveWriter* w) {
    if (w->file != nullptr) {
        std::fclose(w->file);
        w->file = nullptr;
    }
    std::remove(w->path.c_str());
}

bool ReadInputFile(const std::string& path, std::vector<uint8_t>* data, time_t* mtime,
                   std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        std::fclose(f);
        return false;
    }
    data->clear();
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        data->insert(data->end(), block, block + n);
    }
    bool ok = std::ferror(f) == 0;
    if (!ok) {
        *error = path + ": read error";
    }
    std::fclose(f);
    *mtime = st.st_mtime;
    return ok;
}
