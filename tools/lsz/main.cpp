// lsz: creates, lists, tests and extracts .LSZ archives on POSIX systems, for preparing and
// checking setup media. Extraction runs the same code as UNSQUISH.DLL's SQExtractFile.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "archive_writer.h"
#include "crc32.h"
#include "explode_buffer.h"
#include "extract.h"
#include "implode.h"
#include "posix_system.h"

namespace {

enum LszExit {
    LSZ_EXIT_OK = 0,
    LSZ_EXIT_MEMBER_FAILED = 1, // a member failed its check; the others were handled
    LSZ_EXIT_USAGE = 2,
    LSZ_EXIT_IO = 3,          // a file could not be opened, read, created or written
    LSZ_EXIT_NOT_ARCHIVE = 4, // the file does not begin with the archive signature
    LSZ_EXIT_BAD_ARCHIVE = 5, // a member of unknown method: the walk stopped there
};

enum LszCommand { CMD_NONE, CMD_HELP, CMD_CREATE, CMD_LIST, CMD_TEST, CMD_EXTRACT };

struct LszOptions {
    LszCommand command = CMD_NONE;
    std::string archive;
    std::vector<std::string> files; // create: the input files
    std::string destDir;            // extract: empty means the current directory
    MemberOptions member;
    bool utcTimes = false;
    bool quiet = false;
};

const char kUsage[] = "usage: lsz create [options] ARCHIVE FILE...\n"
                      "       lsz list ARCHIVE\n"
                      "       lsz test ARCHIVE\n"
                      "       lsz extract ARCHIVE [DESTDIR]\n"
                      "       lsz --help\n";

const char kHelp[] =
    "\n"
    "Creates and unpacks .LSZ archives, the containers that the setup bootstrap expands\n"
    "with UNSQUISH.DLL.\n"
    "\n"
    "Commands:\n"
    "  create   write ARCHIVE (replacing it) with each FILE as a member named after the\n"
    "           file's base name. Names must be plain file names of 1 to 18 characters,\n"
    "           unique without regard to case. Each member keeps the file's modification\n"
    "           time as an MS-DOS date and time (local time, 2-second steps).\n"
    "  list     show every member: name, method, stored and original sizes, CRC-32 of\n"
    "           the stored bytes and DOS date and time.\n"
    "  test     decode every member and check its CRC-32 as the setup library does,\n"
    "           writing nothing.\n"
    "  extract  unpack ARCHIVE into DESTDIR (default: the current directory) with the\n"
    "           library's own extraction code; its messages go to standard error.\n"
    "\n"
    "As the setup library does, \".LSZ\" is appended to ARCHIVE when its name has no\n"
    "extension of up to three characters (SETUP becomes SETUP.LSZ).\n"
    "\n"
    "Options of create:\n"
    "  -m, --method M     store, implode or auto (default): auto implodes a file unless\n"
    "                     that does not make it smaller. Empty files are always stored.\n"
    "  -l, --level N      1 fast, 2 default, 3 best compression\n"
    "  -a, --literal L    auto (default: ascii for mostly-text files), ascii or binary\n"
    "  -d, --dict N       dictionary of 1024, 2048 or 4096 bytes (default 4096; 4, 5 and\n"
    "                     6 are accepted as dictionary bits)\n"
    "      --utc          store times as UTC clock time instead of local time (lsz\n"
    "                     extract then restores modification times exactly)\n"
    "  -q, --quiet        print nothing but errors\n"
    "\n"
    "Exit codes: 0 success; 1 a member failed its check; 2 usage error; 3 a file could\n"
    "not be opened, read or written; 4 not an archive; 5 damaged archive (a member of\n"
    "unknown method, where extraction stops).\n";

int UsageError(const std::string& why) {
    std::fprintf(stderr, "lsz: %s\n%s", why.c_str(), kUsage);
    return LSZ_EXIT_USAGE;
}

bool ParseMethod(const std::string& v, MemberOptions* m) {
    if (v == "store") {
        m->method = MEMBER_STORE;
    } else if (v == "implode") {
        m->method = MEMBER_IMPLODE;
    } else if (v == "auto") {
        m->method = MEMBER_AUTO;
    } else {
        return false;
    }
    return true;
}

bool ParseLiteral(const std::string& v, MemberOptions* m) {
    if (v == "auto") {
        m->implode.literalMode = IMPLODE_LITERAL_AUTO;
    } else if (v == "ascii") {
        m->implode.literalMode = IMPLODE_LITERAL_ASCII;
    } else if (v == "binary") {
        m->implode.literalMode = IMPLODE_LITERAL_BINARY;
    } else {
        return false;
    }
    return true;
}

bool ParseDict(const std::string& v, MemberOptions* m) {
    const char* const names[][2] = {{"1024", "4"}, {"2048", "5"}, {"4096", "6"}};
    for (int i = 0; i < 3; ++i) {
        if (v == names[i][0] || v == names[i][1]) {
            m->implode.dictBits = IMPLODE_MIN_DICT_BITS + i;
            return true;
        }
    }
    return false;
}

bool ParseLevel(const std::string& v, MemberOptions* m) {
    if (v.size() != 1 || v[0] < '1' || v[0] > '3') {
        return false;
    }
    m->implode.level = v[0] - '0';
    return true;
}

LszCommand CommandNamed(const std::string& word) {
    if (word == "create" || word == "c") {
        return CMD_CREATE;
    }
    if (word == "list" || word == "l") {
        return CMD_LIST;
    }
    if (word == "test" || word == "t") {
        return CMD_TEST;
    }
    if (word == "extract" || word == "x") {
        return CMD_EXTRACT;
    }
    if (word == "help" || word == "--help" || word == "-h") {
        return CMD_HELP;
    }
    return CMD_NONE;
}

// Applies one option of create that takes a value. Returns false for an unknown option or
// a bad value, with the reason in *why.
bool ApplyValueOption(const std::string& opt, const std::string& value, LszOptions* o,
                      std::string* why) {
    bool ok;
    if (opt == "-m" || opt == "--method") {
        ok = ParseMethod(value, &o->member);
    } else if (opt == "-l" || opt == "--level") {
        ok = ParseLevel(value, &o->member);
    } else if (opt == "-a" || opt == "--literal") {
        ok = ParseLiteral(value, &o->member);
    } else if (opt == "-d" || opt == "--dict") {
        ok = ParseDict(value, &o->member);
    } else {
        *why = "unknown option " + opt;
        return false;
    }
    if (!ok) {
        *why = "bad value '" + value + "' for " + opt;
    }
    return ok;
}

bool TakesValue(const std::string& opt) {
    return opt == "-m" || opt == "--method" || opt == "-l" || opt == "--level" || opt == "-a" ||
           opt == "--literal" || opt == "-d" || opt == "--dict";
}

// Fills *o from the command line; returns false with the reason in *why.
bool ParseCommandLine(int argc, char** argv, LszOptions* o, std::string* why) {
    if (argc < 2) {
        *why = "no command given";
        return false;
    }
    o->command = CommandNamed(argv[1]);
    if (o->command == CMD_NONE) {
        *why = std::string("unknown command '") + argv[1] + "'";
        return false;
    }
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            o->command = CMD_HELP;
        } else if (a == "-q" || a == "--quiet") {
            o->quiet = true;
        } else if (a == "--utc") {
            o->utcTimes = true;
        } else if (TakesValue(a)) {
            if (i + 1 >= argc) {
                *why = "option " + a + " needs a value";
                return false;
            }
            if (!ApplyValueOption(a, argv[++i], o, why)) {
                return false;
            }
        } else {
            *why = "unknown option " + a;
            return false;
        }
    }
    if (o->command == CMD_HELP) {
        return true;
    }
    if (operands.empty()) {
        *why = "no archive given";
        return false;
    }
    o->archive = operands[0];
    operands.erase(operands.begin());
    if (o->command == CMD_CREATE) {
        o->files = operands;
        if (o->files.empty()) {
            *why = "no files to put into the archive";
            return false;
        }
    } else if (o->command == CMD_EXTRACT && operands.size() <= 1) {
        o->destDir = operands.empty() ? "" : operands[0];
    } else if (!operands.empty()) {
        *why = "too many arguments";
        return false;
    }
    return true;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return "";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The archive path after the library's extension rule.
bool ResolveArchivePath(const std::string& given, std::string* path) {
    char buffer[SQ_PATH_SIZE];
    if (given.size() >= sizeof buffer) {
        return false;
    }
    std::memcpy(buffer, given.c_str(), given.size() + 1);
    if (!ApplyArchiveExtension(buffer)) {
        return false;
    }
    *path = buffer;
    return true;
}

const char* MethodName(uint16_t method) {
    switch (method) {
    case SQ_METHOD_STORED:
        return "stored";
    case SQ_METHOD_EXPLODED:
        return "imploded";
    default:
        return "unknown";
    }
}

std::string FormatDosTime(uint16_t date, uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9),
                  (date >> 5) & 0x0F, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                  (time & 0x1F) * 2);
    return text;
}

// ---- create ----

struct CreateTotals {
    uint64_t original = 0;
};

int AddFile(ArchiveWriter* w, const std::string& file, const LszOptions& o, CreateTotals* totals) {
    std::vector<uint8_t> data;
    time_t mtime;
    std::string error;
    if (IsArchiveBeingWritten(w, file)) {
        std::fprintf(stderr, "lsz: %s: is the archive being written\n", file.c_str());
        return LSZ_EXIT_USAGE;
    }
    if (!ReadInputFile(file, &data, &mtime, &error)) {
        std::fprintf(stderr, "lsz: %s\n", error.c_str());
        return LSZ_EXIT_IO;
    }
    EncodedMember member;
    if (!EncodeMember(BaseName(file), data, DosTimeFromPosix(mtime, o.utcTimes), o.member, &member,
                      &error)) {
        std::fprintf(stderr, "lsz: %s: %s\n", file.c_str(), error.c_str());
        return LSZ_EXIT_USAGE;
    }
    if (!AppendMember(w, member)) {
        std::fprintf(stderr, "lsz: %s\n", w->error.c_str());
        return w->file != nullptr && std::ferror(w->file) ? LSZ_EXIT_IO : LSZ_EXIT_USAGE;
    }
    totals->original += data.size();
    if (!o.quiet) {
        std::printf("  %-18s %-8s %10zu -> %10u\n", member.header.memberName,
                    MethodName(member.header.method), data.size(), member.header.storedSize);
    }
    return LSZ_EXIT_OK;
}

int RunCreate(const LszOptions& o) {
    std::string path;
    if (!ResolveArchivePath(o.archive, &path)) {
        return UsageError("archive path too long: " + o.archive);
    }
    ArchiveWriter w;
    if (!OpenArchive(&w, path)) {
        std::fprintf(stderr, "lsz: %s\n", w.error.c_str());
        return LSZ_EXIT_IO;
    }
    CreateTotals totals;
    for (const std::string& file : o.files) {
        int rc = AddFile(&w, file, o, &totals);
        if (rc != LSZ_EXIT_OK) {
            AbandonArchive(&w);
            return rc;
        }
    }
    if (!CloseArchive(&w)) {
        std::fprintf(stderr, "lsz: %s\n", w.error.c_str());
        AbandonArchive(&w);
        return LSZ_EXIT_IO;
    }
    if (!o.quiet) {
        std::printf("%s: %zu member%s, %llu bytes in, %u bytes written\n", path.c_str(),
                    o.files.size(), o.files.size() == 1 ? "" : "s",
                    static_cast<unsigned long long>(totals.original), w.size);
    }
    return LSZ_EXIT_OK;
}

// ---- list and test: a walk over the headers, as the reader makes it ----

struct ArchiveWalk {
    FILE* file = nullptr;
    std::string path;
    uint64_t fileSize = 0;
    uint32_t headerPos = SQ_SIGNATURE_SIZE;
};

struct WalkedMember {
    MemberHeader header;
    std::vector<uint8_t> data;
    bool truncated; // the file ends inside the member's data
};

int OpenWalk(const std::string& given, ArchiveWalk* walk) {
    if (!ResolveArchivePath(given, &walk->path)) {
        return UsageError("archive path too long: " + given);
    }
    walk->file = std::fopen(walk->path.c_str(), "rb");
    if (walk->file == nullptr) {
        std::fprintf(stderr, "lsz: %s: %s\n", walk->path.c_str(), std::strerror(errno));
        return LSZ_EXIT_IO;
    }
    std::fseek(walk->file, 0, SEEK_END);
    long end = std::ftell(walk->file);
    walk->fileSize = end < 0 ? 0 : static_cast<uint64_t>(end);
    std::rewind(walk->file);
    uint8_t signature[SQ_SIGNATURE_SIZE];
    size_t n = std::fread(signature, 1, sizeof signature, walk->file);
    if (!IsArchiveSignature(signature, static_cast<uint32_t>(n))) {
        std::fprintf(stderr, "lsz: %s: not an archive\n", walk->path.c_str());
        std::fclose(walk->file);
        walk->file = nullptr;
        return LSZ_EXIT_NOT_ARCHIVE;
    }
    return LSZ_EXIT_OK;
}

// Reads the next member; false at the end of the walk (fewer than 51 bytes left).
bool NextMember(ArchiveWalk* walk, WalkedMember* m) {
    uint8_t raw[SQ_HEADER_SIZE];
    if (walk->headerPos == 0 || std::fseek(walk->file, walk->headerPos, SEEK_SET) != 0 ||
        std::fread(raw, 1, sizeof raw, walk->file) != sizeof raw) {
        return false;
    }
    ParseMemberHeader(raw, &m->header);
    uint64_t dataPos = uint64_t{walk->headerPos} + SQ_HEADER_SIZE;
    uint64_t available = walk->fileSize > dataPos ? walk->fileSize - dataPos : 0;
    m->data.resize(static_cast<size_t>(std::min<uint64_t>(m->header.storedSize, available)));
    size_t got = std::fread(m->data.data(), 1, m->data.size(), walk->file);
    m->truncated = got != m->header.storedSize;
    m->data.resize(got);
    walk->headerPos = NextHeaderPos(walk->headerPos, m->header.storedSize);
    return true;
}

std::string NameOf(const MemberHeader& h) {
    return std::string(h.memberName, strnlen(h.memberName, SQ_NAME_FIELD_SIZE));
}

uint32_t Crc32Of(const uint8_t* data, size_t size) {
    return ~UpdateCrc32(data, static_cast<uint32_t>(size), 0xFFFFFFFFu);
}

struct MemberCheck {
    bool ok;
    std::string why;
    size_t size; // decoded size (what extraction writes)
};

// Checks a member the way the library's extraction judges it.
MemberCheck CheckMember(const WalkedMember& m, ExplodeWorkArea* work) {
    MemberCheck c = {true, "", m.data.size()};
    if (m.header.method == SQ_METHOD_STORED) {
        if (m.truncated) {
            c = {false, "data cut short by the end of the file", m.data.size()};
        }
        return c;
    }
    std::vector<uint8_t> out;
    ExplodeRun run = ExplodeBuffer(m.data.data(), m.data.size(), ExplodePieces(), work, &out);
    c.size = out.size();
    if (run.result != EXPLODE_OK) {
        c = {false, "decoder result " + std::to_string(run.result), out.size()};
    } else if (Crc32Of(m.data.data(), run.consumed) != m.header.storedCrc) {
        c = {false, "CRC-32 mismatch", out.size()};
    }
    return c;
}

std::string StreamInfo(const WalkedMember& m) {
    if (m.header.method != SQ_METHOD_EXPLODED || m.data.size() < 2) {
        return "";
    }
    const char* mode = m.data[0] == 0 ? "binary" : m.data[0] == 1 ? "ascii" : "?";
    uint8_t dictBits = m.data[1];
    bool dictOk = dictBits >= IMPLODE_MIN_DICT_BITS && dictBits <= IMPLODE_MAX_DICT_BITS;
    return std::string(mode) + "/" + (dictOk ? std::to_string(64u << dictBits) : "?");
}

int RunList(const LszOptions& o) {
    ArchiveWalk walk;
    int rc = OpenWalk(o.archive, &walk);
    if (rc != LSZ_EXIT_OK) {
        return rc;
    }
    auto work = std::make_unique<ExplodeWorkArea>();
    std::printf("%-18s %-8s %-11s %10s %10s %-8s %s\n", "Name", "Method", "Stream", "Stored",
                "Size", "CRC-32", "Date and time");
    WalkedMember m;
    uint64_t stored = 0, size = 0;
    int count = 0;
    while (NextMember(&walk, &m)) {
        MemberCheck c = CheckMember(m, work.get());
        std::string sizeText = c.ok ? std::to_string(c.size) : "?";
        std::printf("%-18s %-8s %-11s %10u %10s %08X %s\n", NameOf(m.header).c_str(),
                    MethodName(m.header.method), StreamInfo(m).c_str(), m.header.storedSize,
                    sizeText.c_str(), m.header.storedCrc,
                    FormatDosTime(m.header.dosDate, m.header.dosTime).c_str());
        stored += m.header.storedSize;
        size += c.size;
        ++count;
    }
    std::printf("%d member%s, %llu bytes stored, %llu bytes unpacked\n", count,
                count == 1 ? "" : "s", static_cast<unsigned long long>(stored),
                static_cast<unsigned long long>(size));
    std::fclose(walk.file);
    return LSZ_EXIT_OK;
}

int RunTest(const LszOptions& o) {
    ArchiveWalk walk;
    int rc = OpenWalk(o.archive, &walk);
    if (rc != LSZ_EXIT_OK) {
        return rc;
    }
    auto work = std::make_unique<ExplodeWorkArea>();
    WalkedMember m;
    int failed = 0, count = 0;
    rc = LSZ_EXIT_OK;
    while (NextMember(&walk, &m)) {
        std::string name = NameOf(m.header);
        ++count;
        if (!IsPlainMemberName(m.header.memberName)) {
            ++failed;
            std::printf("FAIL  %s: not a plain file name; extraction skips it\n", name.c_str());
            continue;
        }
        if (m.header.method != SQ_METHOD_STORED && m.header.method != SQ_METHOD_EXPLODED) {
            std::printf("BAD   %s: unknown method %u; extraction stops here\n", name.c_str(),
                        m.header.method);
            rc = LSZ_EXIT_BAD_ARCHIVE;
            break;
        }
        MemberCheck c = CheckMember(m, work.get());
        if (!c.ok) {
            ++failed;
            std::printf("FAIL  %s: %s\n", name.c_str(), c.why.c_str());
        } else if (!o.quiet) {
            std::printf("OK    %s (%zu bytes)\n", name.c_str(), c.size);
        }
    }
    std::fclose(walk.file);
    if (!o.quiet || rc != LSZ_EXIT_OK || failed != 0) {
        std::printf("%d member%s checked, %d failed\n", count, count == 1 ? "" : "s", failed);
    }
    if (rc == LSZ_EXIT_OK && failed != 0) {
        rc = LSZ_EXIT_MEMBER_FAILED;
    }
    return rc;
}

// ---- extract: through the library's own code on the POSIX platform layer ----

struct ExtractMessages {
    int count = 0;
    uint32_t lastId = 0;
};

void PrintLibraryMessage(void* user, uint32_t textId, const char* text) {
    ExtractMessages* m = static_cast<ExtractMessages*>(user);
    ++m->count;
    m->lastId = textId;
    std::fprintf(stderr, "%s: %s\n", SqMessageFormat(SQ_MSG_CAPTION), text);
}

int ExitCodeForExtraction(int32_t result, const ExtractMessages& m) {
    if (result == 1) {
        return m.count == 0 ? LSZ_EXIT_OK : LSZ_EXIT_MEMBER_FAILED;
    }
    return m.lastId == SQ_MSG_INTERNAL_ERROR ? LSZ_EXIT_BAD_ARCHIVE : LSZ_EXIT_IO;
}

int RunExtract(const LszOptions& o) {
    std::string path;
    if (!ResolveArchivePath(o.archive, &path)) {
        return UsageError("archive path too long: " + o.archive);
    }
    // The library copies a file that is not an archive; here that is an error instead.
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        uint8_t signature[SQ_SIGNATURE_SIZE];
        size_t n = std::fread(signature, 1, sizeof signature, f);
        std::fclose(f);
        if (!IsArchiveSignature(signature, static_cast<uint32_t>(n))) {
            std::fprintf(stderr, "lsz: %s: not an archive\n", path.c_str());
            return LSZ_EXIT_NOT_ARCHIVE;
        }
    }
    PosixSystem posix;
    InitPosixSystem(&posix);
    ExtractMessages messages;
    posix.onMessage = PrintLibraryMessage;
    posix.user = &messages;
    int32_t result = SqExtract(&posix.sys, DirName(o.archive).c_str(), o.destDir.c_str(),
                               BaseName(o.archive).c_str(), nullptr);
    return ExitCodeForExtraction(result, messages);
}

} // namespace

int main(int argc, char** argv) {
    LszOptions options;
    std::string why;
    if (!ParseCommandLine(argc, argv, &options, &why)) {
        return UsageError(why);
    }
    switch (options.command) {
    case CMD_HELP:
        std::printf("%s%s", kUsage, kHelp);
        return LSZ_EXIT_OK;
    case CMD_CREATE:
        return RunCreate(options);
    case CMD_LIST:
        return RunList(options);
    case CMD_TEST:
        return RunTest(options);
    case CMD_EXTRACT:
        return RunExtract(options);
    case CMD_NONE:
        break;
    }
    return UsageError("no command given");
}
