// The setup list file: line reading with text-mode rules, tokens, [Params] settings and the
// walk of the [Files] and [MFCDLL] sections. Free of platform calls: the bytes come from a
// read procedure and each file entry goes to a procedure that the caller supplies.
#ifndef BOOTSTRAP_LISTFILE_H
#define BOOTSTRAP_LISTFILE_H

#include <stdint.h>

enum { LIST_LINE_SIZE = 256 };

// Reads up to size bytes into buffer; returns the count, 0 at the end, negative on error.
typedef int (*ReadBytesProc)(void* source, char* buffer, int size);

struct LineReader {
    ReadBytesProc read;
    void* source;
    char buffer[512];
    int position;
    int length;
    int ended; // no more bytes: end of the data, a read error or a Ctrl-Z
};

void StartLineReader(LineReader* reader, ReadBytesProc read, void* source);

// Reads the next line into line (256 bytes): a carriage return before a line feed is
// dropped, a Ctrl-Z ends the file, and a line longer than 255 characters comes in pieces
// of 255. One trailing line feed is removed. Returns 1 for a line to handle, 0 when the end
// of the file was reached during the read (what was read then is not handled).
int ReadListLine(LineReader* reader, char* line);

// Cuts the next token from a line in place: skips delimiters, then ends the token at the
// next delimiter, which is consumed. Once the end of the line is reached there are no more
// tokens.
struct TokenCursor {
    char* next;
    int done;
};
void StartTokens(TokenCursor* cursor, char* line);
char* NextToken(TokenCursor* cursor, const char* delimiters);

// Source name and target name of a file entry (256 bytes each; empty when missing).
void SplitFileEntry(const char* line, char* sourceName, char* targetName);

// Decimal number reading: white space, an optional sign, digits. A value beyond the signed
// 32-bit range is held at its limit.
int32_t ReadDecimal(const char* text);

// Kilobytes to bytes, held at the signed 32-bit limits.
int32_t KilobytesToBytes(int32_t kilobytes);

// Applies one [Params] line (without its line feed) to SetupContext.
void ApplyParamLine(const char* line);

// Called for each file entry with the caller's context, the upper-cased source name and the
// target name as written; returns 0 to stop the walk.
typedef int (*ListEntryProc)(void* context, const char* sourceName, const char* targetName);

enum { SETTINGS_PASS = 0, FILES_PASS = 1 };

// One pass of ReadSetupList over an opened list file. The settings pass applies the
// [Params] lines and stops at "[Files]"; the files pass applies them again and hands every
// entry after "[Files]" to expand. Both stop at "[MFCDLL]". Returns 1 when the pass reached
// its stopping header or the end, 0 when expand failed.
int WalkSetupList(LineReader* reader, int pass, ListEntryProc expand, void* context);

// The [MFCDLL] pass: every non-empty, non-header line after the "[MFCDLL]" header is an
// entry, up to the end of the file. Returns 1 at the end, 0 when install failed.
int WalkSystemLibraryList(LineReader* reader, ListEntryProc install, void* context);

#endif
