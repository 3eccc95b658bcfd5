#include "extract.h"

#include "archive.h"
#include "crc32.h"
#include "explode/explode.h"

enum { COPY_BLOCK_SIZE = 2048 };

// State of one extraction call. The decoder's callbacks get it as their param.
typedef struct ExtractContext {
    SqSystem* sys;
    SqFile* archiveFile;
    SqFile* outputFile;
    uint32_t crc;         // running CRC-32 register while a member is exploded
    uint32_t expectedCrc; // storedCrc of the member being exploded
    uint32_t remaining;   // stored bytes of that member not yet handed to the decoder
    int writeFailed;      // an output write failed since the output file was opened
} ExtractContext;

static uint32_t TextLength(const char* text) {
    uint32_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

int MakePath(char* out, const char* dir, const char* name) {
    uint32_t dirLength = TextLength(dir);
    uint32_t nameLength = TextLength(name);
    if (dirLength == 0) {
        if (nameLength >= SQ_PATH_SIZE)
            return 0;
    } else {
        if (nameLength == 0)
            return 0;
        int needSeparator = dir[dirLength - 1] != '\\';
        if (dirLength + (uint32_t)needSeparator + nameLength >= SQ_PATH_SIZE)
            return 0;
        for (uint32_t i = 0; i < dirLength; ++i)
            *out++ = dir[i];
        if (needSeparator)
            *out++ = '\\';
    }
    for (uint32_t i = 0; i <= nameLength; ++i)
        *out++ = name[i];
    return 1;
}

int ApplyArchiveExtension(char* path) {
    uint32_t length = TextLength(path);
    uint32_t dot = length;
    for (uint32_t i = 0; i < length; ++i)
        if (path[i] == '.')
            dot = i;
    if (dot < length && length - dot <= 4)
        return 1;
    static const char kSuffix[] = ".LSZ";
    if (length + sizeof(kSuffix) - 1 >= SQ_PATH_SIZE)
        return 0;
    for (uint32_t i = 0; i < sizeof(kSuffix); ++i)
        path[length + i] = kSuffix[i];
    return 1;
}

// Reads until size bytes are in or the file ends; -1 when a read fails.
static int32_t ReadFully(SqSystem* sys, SqFile* file, uint8_t* buffer, uint32_t size) {
    uint32_t total = 0;
    while (total < size) {
        int32_t n = sys->read(sys, file, buffer + total, size - total);
        if (n < 0)
            return total > 0 ? (int32_t)total : -1;
        if (n == 0)
            break;
        total += (uint32_t)n;
    }
    return (int32_t)total;
}

static int IsArchive(ExtractContext* ctx) {
    uint8_t signature[SQ_SIGNATURE_SIZE];
    if (!ctx->sys->seek(ctx->sys, ctx->archiveFile, 0))
        return 0;
    int32_t n = ReadFully(ctx->sys, ctx->archiveFile, signature, SQ_SIGNATURE_SIZE);
    return n > 0 && IsArchiveSignature(signature, (uint32_t)n);
}

static int CreateOutputFile(ExtractContext* ctx, const char* path) {
    ctx->writeFailed = 0;
    ctx->outputFile = ctx->sys->openOutput(ctx->sys, path);
    return ctx->outputFile != 0;
}

// Cuts what an earlier, longer file left behind the new content; the file stays open. A
// failed cut counts as a failed write: the file would not hold what the member holds.
static void FinishOutputFile(ExtractContext* ctx) {
    if (!ctx->sys->truncate(ctx->sys, ctx->outputFile))
        ctx->writeFailed = 1;
}

static void CloseOutputFile(ExtractContext* ctx) {
    ctx->sys->close(ctx->sys, ctx->outputFile);
    ctx->outputFile = 0;
}

static void WriteOutput(ExtractContext* ctx, const uint8_t* data, uint32_t size) {
    if (ctx->writeFailed || size == 0)
        return;
    if (!ctx->sys->write(ctx->sys, ctx->outputFile, data, size))
        ctx->writeFailed = 1;
}

// Copies count bytes from the source to the output file or, with toEnd, everything up to the
// end of the source. Returns 1 when the source gave every byte asked for, 0 when a read
// failed or (with a count) the source ended first. Stops early at a failed write, which
// writeFailed records.
static int CopyStoredBytes(ExtractContext* ctx, uint32_t count, int toEnd) {
    uint8_t block[COPY_BLOCK_SIZE];
    uint32_t left = count;
    while ((toEnd || left > 0) && !ctx->writeFailed) {
        uint32_t want = toEnd || left > COPY_BLOCK_SIZE ? (uint32_t)COPY_BLOCK_SIZE : left;
        int32_t got = ctx->sys->read(ctx->sys, ctx->archiveFile, block, want);
        if (got <= 0)
            return toEnd && got == 0;
        WriteOutput(ctx, block, (uint32_t)got);
        if (!toEnd)
            left -= (uint32_t)got;
    }
    return 1;
}

static uint32_t ReadArchiveBytes(uint8_t* buffer, uint32_t* size, void* param) {
    ExtractContext* ctx = (ExtractContext*)param;
    if (*size > ctx->remaining)
        *size = ctx->remaining;
    ctx->remaining -= *size;
    if (*size == 0)
        return 0;
    int32_t got = ctx->sys->read(ctx->sys, ctx->archiveFile, buffer, *size);
    if (got <= 0)
        return 0;
    ctx->crc = UpdateCrc32(buffer, (uint32_t)got, ctx->crc);
    return (uint32_t)got;
}

static void WriteOutputBytes(uint8_t* buffer, uint32_t* size, void* param) {
    WriteOutput((ExtractContext*)param, buffer, *size);
}

static int ExplodeMember(ExtractContext* ctx, ExplodeWorkArea* work, const MemberHeader* header) {
    ctx->remaining = header->storedSize;
    ctx->crc = 0xFFFFFFFFu;
    ctx->expectedCrc = header->storedCrc;
    ExplodeResult result = explode(ReadArchiveBytes, WriteOutputBytes, work, ctx);
    ctx->crc = ~ctx->crc;
    return result == EXPLODE_OK && ctx->crc == ctx->expectedCrc;
}

// Writes one member's data into the open output file. Returns 0 when the member is bad
// (decoder failure, CRC mismatch, stored data that could not be read in full, or a failed
// write) and -1 when its method is unknown.
static int WriteMemberData(ExtractContext* ctx, ExplodeWorkArea* work, const MemberHeader* header) {
    int ok;
    if (header->method == SQ_METHOD_EXPLODED)
        ok = ExplodeMember(ctx, work, header);
    else if (header->method == SQ_METHOD_STORED)
        ok = CopyStoredBytes(ctx, header->storedSize, 0);
    else
        return -1;
    FinishOutputFile(ctx);
    return ok && !ctx->writeFailed;
}

static int32_t FailWithMessage(ExtractContext* ctx, uint32_t textId, const char* arg) {
    ctx->sys->message(ctx->sys, textId, arg);
    return 0;
}

static void CloseArchive(ExtractContext* ctx) {
    ctx->sys->close(ctx->sys, ctx->archiveFile);
    ctx->archiveFile = 0;
}

// Ends the walk at the end of the archive (textId 0: result 1) or at an output file that
// cannot be made: the archive is closed and the work area released before the message, so
// nothing is held open while the user reads it.
static int32_t EndWalk(ExtractContext* ctx, ExplodeWorkArea* work, uint32_t textId,
                       const char* arg) {
    CloseArchive(ctx);
    ctx->sys->free(ctx->sys, work);
    return textId ? FailWithMessage(ctx, textId, arg) : 1;
}

// A member of unknown method ends the call: it is reported while its output file is still
// open, as a member that fails its check is; then everything is released.
static int32_t StopAtUnknownMethod(ExtractContext* ctx, ExplodeWorkArea* work,
                                   const char* archivePath) {
    ctx->sys->message(ctx->sys, SQ_MSG_INTERNAL_ERROR, archivePath);
    ctx->sys->free(ctx->sys, work);
    CloseOutputFile(ctx);
    CloseArchive(ctx);
    return 0;
}

// Walks the members from offset 6 and ends the call: closes the archive and releases the
// work area on every way out.
static int32_t WalkArchive(ExtractContext* ctx, ExplodeWorkArea* work, const char* archivePath,
                           const char* destDir) {
    SqSystem* sys = ctx->sys;
    char outputPath[SQ_PATH_SIZE];
    uint8_t raw[SQ_HEADER_SIZE];
    MemberHeader header;
    uint32_t headerPos = SQ_SIGNATURE_SIZE;
    for (;;) {
        if (!sys->seek(sys, ctx->archiveFile, headerPos) ||
            ReadFully(sys, ctx->archiveFile, raw, SQ_HEADER_SIZE) != SQ_HEADER_SIZE)
            return EndWalk(ctx, work, 0, 0);
        ParseMemberHeader(raw, &header);
        // A name that is not a plain file name could reach outside destDir or open a
        // device: such a member is refused and skipped.
        if (!IsPlainMemberName(header.memberName)) {
            sys->message(sys, SQ_MSG_INTERNAL_ERROR, archivePath);
        } else {
            if (!MakePath(outputPath, destDir, header.memberName))
                return EndWalk(ctx, work, SQ_MSG_CANNOT_CREATE_OUTPUT, header.memberName);
            if (!CreateOutputFile(ctx, outputPath))
                return EndWalk(ctx, work, SQ_MSG_CANNOT_CREATE_OUTPUT, outputPath);
            int written = WriteMemberData(ctx, work, &header);
            if (written < 0)
                return StopAtUnknownMethod(ctx, work, archivePath);
            if (!written)
                sys->message(sys, SQ_MSG_INTERNAL_ERROR, archivePath);
            sys->setDosTime(sys, ctx->outputFile, header.dosDate, header.dosTime);
            CloseOutputFile(ctx);
        }
        // Offsets are signed 32-bit: a size that would carry the walk past that range (or
        // wrap it) ends the archive, so no header can send the reader backwards.
        headerPos = NextHeaderPos(headerPos, header.storedSize);
        if (headerPos == 0)
            return EndWalk(ctx, work, 0, 0);
    }
}

static int32_t ExtractArchive(ExtractContext* ctx, const char* archivePath, const char* destDir) {
    SqSystem* sys = ctx->sys;
    ExplodeWorkArea* work = (ExplodeWorkArea*)sys->alloc(sys, sizeof(ExplodeWorkArea));
    if (!work) {
        FailWithMessage(ctx, SQ_MSG_OUT_OF_MEMORY, archivePath);
        CloseArchive(ctx);
        return 0;
    }
    return WalkArchive(ctx, work, archivePath, destDir);
}

// Ends plain-copy mode: the source is closed before the message, if any.
static int32_t EndPlainCopy(ExtractContext* ctx, uint32_t textId, const char* arg) {
    CloseArchive(ctx);
    return textId ? FailWithMessage(ctx, textId, arg) : 1;
}

static int32_t CopyPlainFile(ExtractContext* ctx, const char* archivePath, const char* destDir,
                             const char* altName) {
    char outputPath[SQ_PATH_SIZE];
    // Without an alternate name there is nowhere to copy a file that is not an archive.
    if (!altName)
        return EndPlainCopy(ctx, SQ_MSG_INTERNAL_ERROR, archivePath);
    if (!MakePath(outputPath, destDir, altName))
        return EndPlainCopy(ctx, SQ_MSG_CANNOT_CREATE_OUTPUT, altName);
    if (!CreateOutputFile(ctx, outputPath))
        return EndPlainCopy(ctx, SQ_MSG_CANNOT_CREATE_OUTPUT, outputPath);
    int complete = ctx->sys->seek(ctx->sys, ctx->archiveFile, 0) && CopyStoredBytes(ctx, 0, 1);
    FinishOutputFile(ctx);
    int failed = !complete || ctx->writeFailed;
    CloseOutputFile(ctx);
    return EndPlainCopy(ctx, failed ? SQ_MSG_INTERNAL_ERROR : 0, archivePath);
}

int32_t SqExtract(SqSystem* sys, const char* sourceDir, const char* destDir, const char* fileName,
                  const char* altName) {
    char archivePath[SQ_PATH_SIZE];
    ExtractContext ctx;
    ctx.sys = sys;
    ctx.archiveFile = 0;
    ctx.outputFile = 0;
    ctx.crc = 0;
    ctx.expectedCrc = 0;
    ctx.remaining = 0;
    ctx.writeFailed = 0;
    // A path that does not fit is never cut into another path: the source cannot be named.
    if (!MakePath(archivePath, sourceDir, fileName) || !ApplyArchiveExtension(archivePath))
        return FailWithMessage(&ctx, SQ_MSG_CANNOT_OPEN_SOURCE, fileName);
    ctx.archiveFile = sys->openRead(sys, archivePath);
    if (!ctx.archiveFile)
        return FailWithMessage(&ctx, SQ_MSG_CANNOT_OPEN_SOURCE, archivePath);
    // Each mode closes the source itself, at the point its way out requires.
    if (IsArchive(&ctx))
        return ExtractArchive(&ctx, archivePath, destDir);
    return CopyPlainFile(&ctx, archivePath, destDir, altName);
}
