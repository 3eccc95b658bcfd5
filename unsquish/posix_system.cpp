#include "posix_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

struct SqFile {
    int fd;
    bool source; // opened by openRead
};

const char* SqMessageFormat(uint32_t textId) {
    switch (textId) {
    case SQ_MSG_CANNOT_OPEN_SOURCE:
        return "Cannot open compressed file (%s).";
    case SQ_MSG_CANNOT_CREATE_OUTPUT:
        return "Cannot create output file (%s).";
    case SQ_MSG_CAPTION:
        return "File Decompression Error";
    case SQ_MSG_INTERNAL_ERROR:
        return "Decompression internal error. Cannot decompress %s successfully.";
    case SQ_MSG_OUT_OF_MEMORY:
        return "There is not enough memory to perform decompression successfully (%s).";
    default:
        return nullptr;
    }
}

// Archive paths are formed Windows-style; the separator is the only thing to translate.
static std::string HostPath(const char* path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

static PosixSystem* Self(SqSystem* sys) {
    return reinterpret_cast<PosixSystem*>(sys);
}

static SqFile* WrapDescriptor(int fd, bool source) {
    if (fd < 0)
        return nullptr;
    return new SqFile{fd, source};
}

static SqFile* PosixOpenRead(SqSystem* sys, const char* path) {
    PosixSystem* posix = Self(sys);
    int fd = open(HostPath(path).c_str(), O_RDONLY);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
        posix->sourceOpen = 1;
        posix->sourceDevice = (uint64_t)st.st_dev;
        posix->sourceInode = (uint64_t)st.st_ino;
    }
    return WrapDescriptor(fd, true);
}

static SqFile* PosixOpenOutput(SqSystem* sys, const char* path) {
    PosixSystem* posix = Self(sys);
    std::string host = HostPath(path);
    struct stat st;
    if (stat(host.c_str(), &st) == 0) {
        if (posix->sourceOpen && (uint64_t)st.st_dev == posix->sourceDevice &&
            (uint64_t)st.st_ino == posix->sourceInode)
            return nullptr;
        // The counterpart of clearing a read-only attribute: make the owner able to write.
        if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            chmod(host.c_str(), st.st_mode | S_IWUSR);
    }
    return WrapDescriptor(open(host.c_str(), O_RDWR | O_CREAT, 0644), false);
}

static int32_t PosixRead(SqSystem*, SqFile* file, void* buffer, uint32_t size) {
    ssize_t n;
    do
        n = read(file->fd, buffer, size);
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : (int32_t)n;
}

static int PosixWrite(SqSystem*, SqFile* file, const void* buffer, uint32_t size) {
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
        ssize_t n = write(file->fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        size -= (uint32_t)n;
    }
    return 1;
}

static int PosixSeek(SqSystem*, SqFile* file, uint32_t offset) {
    return lseek(file->fd, (off_t)offset, SEEK_SET) == (off_t)offset;
}

static int PosixTruncate(SqSystem*, SqFile* file) {
    off_t here = lseek(file->fd, 0, SEEK_CUR);
    return here >= 0 && ftruncate(file->fd, here) == 0;
}

// The DOS fields are set as they stand, read as UTC, so the file shows the same clock time
// whatever the machine's time zone (as the Windows library does).
static int PosixSetDosTime(SqSystem*, SqFile* file, uint16_t dosDate, uint16_t dosTime) {
    struct tm t = {};
    t.tm_year = 80 + (dosDate >> 9);
    t.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
    t.tm_mday = dosDate & 0x1F;
    t.tm_hour = dosTime >> 11;
    t.tm_min = (dosTime >> 5) & 0x3F;
    t.tm_sec = (dosTime & 0x1F) * 2;
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday == 0 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 59)
        return 0;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = timegm(&t);
    times[1].tv_nsec = 0;
    return futimens(file->fd, times) == 0;
}

static void PosixClose(SqSystem* sys, SqFile* file) {
    if (file->source)
        Self(sys)->sourceOpen = 0;
    close(file->fd);
    delete file;
}

static void* PosixAlloc(SqSystem*, uint32_t size) {
    return malloc(size);
}

static void PosixFree(SqSystem*, void* block) {
    free(block);
}

static void PosixMessage(SqSystem* sys, uint32_t textId, const char* arg) {
    PosixSystem* posix = Self(sys);
    const char* format = SqMessageFormat(textId);
    char text[2048];
    snprintf(text, sizeof text, format ? format : "message %s", arg);
    if (posix->onMessage)
        posix->onMessage(posix->user, textId, text);
    else
        fprintf(stderr, "%s: %s\n", SqMessageFormat(SQ_MSG_CAPTION), text);
}

void InitPosixSystem(PosixSystem* posix) {
    SqSystem& s = posix->sys;
    s.openRead = PosixOpenRead;
    s.openOutput = PosixOpenOutput;
    s.read = PosixRead;
    s.write = PosixWrite;
    s.seek = PosixSeek;
    s.truncate = PosixTruncate;
    s.setDosTime = PosixSetDosTime;
    s.close = PosixClose;
    s.alloc = PosixAlloc;
    s.free = PosixFree;
    s.message = PosixMessage;
    posix->onMessage = nullptr;
    posix->user = nullptr;
    posix->sourceOpen = 0;
    posix->sourceDevice = 0;
    posix->sourceInode = 0;
}
