#include "listfile.h"

#include "context.h"
#include "text.h"

void StartLineReader(LineReader* reader, ReadBytesProc read, void* source) {
    ClearBytes(reader, sizeof *reader);
    reader->read = read;
    reader->source = source;
}

static int PeekByte(LineReader* reader) {
    if (reader->position == reader->length) {
        if (reader->ended)
            return -1;
        int n = reader->read(reader->source, reader->buffer, sizeof reader->buffer);
        if (n <= 0) {
            reader->ended = 1;
            return -1;
        }
        reader->position = 0;
        reader->length = n;
    }
    return static_cast<unsigned char>(reader->buffer[reader->position]);
}

// The next character with the text-mode rules applied; -1 at the end.
static int NextChar(LineReader* reader) {
    int c = PeekByte(reader);
    if (c < 0)
        return -1;
    if (c == 0x1A) {
        reader->ended = 1;
        reader->position = reader->length;
        return -1;
    }
    reader->position++;
    if (c == '\r' && PeekByte(reader) == '\n') {
        reader->position++;
        return '\n';
    }
    return c;
}

int ReadListLine(LineReader* reader, char* line) {
    int n = 0;
    while (n < LIST_LINE_SIZE - 1) {
        int c = NextChar(reader);
        if (c < 0) {
            line[n] = 0;
            return 0;
        }
        line[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (n > 0 && line[n - 1] == '\n')
        --n;
    line[n] = 0;
    return 1;
}

void StartTokens(TokenCursor* cursor, char* line) {
    cursor->next = line;
    cursor->done = 0;
}

static int IsDelimiter(char c, const char* delimiters) {
    for (; *delimiters != 0; ++delimiters) {
        if (*delimiters == c)
            return 1;
    }
    return 0;
}

char* NextToken(TokenCursor* cursor, const char* delimiters) {
    if (cursor->done)
        return 0;
    char* p = cursor->next;
    while (*p != 0 && IsDelimiter(*p, delimiters))
        ++p;
    if (*p == 0) {
        cursor->done = 1;
        return 0;
    }
    char* token = p;
    while (*p != 0 && !IsDelimiter(*p, delimiters))
        ++p;
    if (*p != 0)
        *p++ = 0;
    cursor->next = p;
    return token;
}

void SplitFileEntry(const char* line, char* sourceName, char* targetName) {
    char work[LIST_LINE_SIZE];
    CopyText(work, sizeof work, line);
    TokenCursor cursor;
    StartTokens(&cursor, work);
    const char* source = NextToken(&cursor, " =\t");
    NextToken(&cursor, " ");
    const char* target = NextToken(&cursor, " ");
    CopyText(sourceName, LIST_LINE_SIZE, source ? source : "");
    CopyText(targetName, LIST_LINE_SIZE, target ? target : "");
}

static int IsNumberSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int32_t ReadDecimal(const char* text) {
    while (IsNumberSpace(*text))
        ++text;
    int negative = 0;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    // Accumulate the magnitude and stop growing once it is past what either sign can hold.
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        uint32_t digit = static_cast<uint32_t>(*text - '0');
        value = (value > (limit - digit) / 10) ? limit : value * 10 + digit;
    }
    return negative ? static_cast<int32_t>(0u - value) : static_cast<int32_t>(value);
}

int32_t KilobytesToBytes(int32_t kilobytes) {
    if (kilobytes > 0x7FFFFFFF / 1024)
        return 0x7FFFFFFF;
    if (kilobytes < -0x7FFFFFFF / 1024 - 1)
        return -0x7FFFFFFF - 1;
    return kilobytes * 1024;
}

void ApplyParamLine(const char* line) {
    while (*line == ' ' || *line == '\t')
        ++line;
    char work[LIST_LINE_SIZE];
    CopyText(work, sizeof work, line);
    TokenCursor cursor;
    StartTokens(&cursor, work);
    const char* key = NextToken(&cursor, " =");
    if (key == 0)
        return;
    char* field = 0;
    int isSize = SameTextNoCase(key, "TmpDirSize");
    if (SameTextNoCase(key, "WndTitle"))
        field = SetupContext.WndTitle;
    else if (SameTextNoCase(key, "WndMess"))
        field = SetupContext.WndMess;
    else if (SameTextNoCase(key, "TmpDirName"))
        field = SetupContext.TmpDirName;
    else if (SameTextNoCase(key, "CmdLine"))
        field = SetupContext.CmdLine;
    else if (!isSize)
        return;
    NextToken(&cursor, " ");
    const char* value = NextToken(&cursor, "=");
    if (isSize) {
        // Without a value the requirement keeps what it held.
        if (value != 0)
            SetupContext.TmpDirSize = KilobytesToBytes(ReadDecimal(value));
        return;
    }
    if (value != 0)
        CopyText(field, SETUP_TEXT_SIZE, value);
    if (field == SetupContext.CmdLine && SetupContext.CmdLine[0] == 0)
        CopyText(SetupContext.CmdLine, SETUP_TEXT_SIZE, "RUNINST.EXE");
}

// One entry of a file section: the source name is upper-cased, the target name kept as
// written; the entry's handler decides whether the walk goes on.
static int HandleFileEntry(const char* line, ListEntryProc handle, void* context) {
    char sourceName[LIST_LINE_SIZE];
    char targetName[LIST_LINE_SIZE];
    SplitFileEntry(line, sourceName, targetName);
    UpperCaseText(sourceName);
    return handle(context, sourceName, targetName);
}

int WalkSetupList(LineReader* reader, int pass, ListEntryProc expand, void* context) {
    int filesBegun = 0;
    char line[LIST_LINE_SIZE];
    while (ReadListLine(reader, line)) {
        if (line[0] == 0)
            continue;
        if (SameTextNoCase(line, "[Files]")) {
            if (pass == SETTINGS_PASS)
                return 1;
            filesBegun = 1;
        } else if (SameTextNoCase(line, "[Params]")) {
            continue;
        } else if (SameTextNoCase(line, "[MFCDLL]")) {
            return 1;
        } else if (pass == FILES_PASS && filesBegun) {
            if (!HandleFileEntry(line, expand, context))
                return 0;
        } else {
            ApplyParamLine(line);
        }
    }
    return 1;
}

int WalkSystemLibraryList(LineReader* reader, ListEntryProc install, void* context) {
    int sectionBegun = 0;
    char line[LIST_LINE_SIZE];
    while (ReadListLine(reader, line)) {
        if (line[0] == 0 || SameTextNoCase(line, "[Files]") || SameTextNoCase(line, "[Params]"))
            continue;
        if (SameTextNoCase(line, "[MFCDLL]")) {
            sectionBegun = 1;
        } else if (sectionBegun) {
            if (!HandleFileEntry(line, install, context))
                return 0;
        }
    }
    return 1;
}
