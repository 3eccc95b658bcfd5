#include "archive.h"

const uint8_t SQ_SIGNATURE[SQ_SIGNATURE_SIZE] = {0x37, 0xF0, 0xFF, 0xFF, 0x00, 0x03};

static uint32_t ReadLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static uint16_t ReadLe16(const uint8_t* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}

static void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static void WriteLe16(uint8_t* p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

int IsArchiveSignature(const uint8_t* bytes, uint32_t count) {
    if (count < SQ_SIGNATURE_SIZE)
        return 0;
    for (uint32_t i = 0; i < SQ_SIGNATURE_SIZE; ++i)
        if (bytes[i] != SQ_SIGNATURE[i])
            return 0;
    return 1;
}

void ParseMemberHeader(const uint8_t raw[SQ_HEADER_SIZE], MemberHeader* header) {
    for (uint32_t i = 0; i < SQ_NAME_FIELD_SIZE; ++i)
        header->memberName[i] = (char)raw[SQ_OFF_NAME + i];
    header->storedSize = ReadLe32(raw + SQ_OFF_STORED_SIZE);
    header->storedCrc = ReadLe32(raw + SQ_OFF_STORED_CRC);
    header->dosDate = ReadLe16(raw + SQ_OFF_DOS_DATE);
    header->dosTime = ReadLe16(raw + SQ_OFF_DOS_TIME);
    header->method = ReadLe16(raw + SQ_OFF_METHOD);
}

void FormatMemberHeader(const MemberHeader* header, uint8_t raw[SQ_HEADER_SIZE]) {
    for (uint32_t i = 0; i < SQ_HEADER_SIZE; ++i)
        raw[i] = 0;
    for (uint32_t i = 0; i < SQ_NAME_FIELD_SIZE; ++i)
        raw[SQ_OFF_NAME + i] = (uint8_t)header->memberName[i];
    WriteLe32(raw + SQ_OFF_STORED_SIZE, header->storedSize);
    WriteLe32(raw + SQ_OFF_STORED_CRC, header->storedCrc);
    WriteLe16(raw + SQ_OFF_DOS_DATE, header->dosDate);
    WriteLe16(raw + SQ_OFF_DOS_TIME, header->dosTime);
    WriteLe16(raw + SQ_OFF_METHOD, header->method);
}

static char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Compares the first n characters of name with an upper-case word, ignoring ASCII case.
static int MatchesWord(const char* name, uint32_t n, const char* word) {
    uint32_t i = 0;
    for (; i < n && word[i] != '\0'; ++i)
        if (UpperAscii(name[i]) != word[i])
            return 0;
    return i == n && word[i] == '\0';
}

// The digit of COM and LPT: Windows also takes the superscripts one, two and three for it,
// which the ANSI code page 1252 holds at B9, B2 and B3.
static int IsDeviceDigit(char c) {
    unsigned char u = (unsigned char)c;
    return (u >= '1' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

// Windows opens the device, not a file, for these base names whatever extension follows,
// and it ignores trailing blanks and dots before the extension ("CON .TXT" is CON too).
static int IsDeviceName(const char* name, uint32_t length) {
    uint32_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && (name[base - 1] == ' ' || name[base - 1] == '.'))
        --base;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    for (uint32_t i = 0; i < 4; ++i)
        if (MatchesWord(name, base, kDevices[i]))
            return 1;
    if (base == 4 && IsDeviceDigit(name[3]))
        return MatchesWord(name, 3, "COM") || MatchesWord(name, 3, "LPT");
    return 0;
}

int IsPlainMemberName(const char name[SQ_NAME_FIELD_SIZE]) {
    uint32_t length = 0;
    while (length < SQ_NAME_FIELD_SIZE && name[length] != '\0')
        ++length;
    if (length == 0 || length == SQ_NAME_FIELD_SIZE)
        return 0;
    for (uint32_t i = 0; i < length; ++i)
        if (name[i] == '\\' || name[i] == '/' || name[i] == ':')
            return 0;
    // Windows drops trailing dots and blanks from a name, so one made of nothing else names
    // the directory itself (and Windows 95 reads "..." as two levels up): like "." and "..".
    uint32_t dotsAndBlanks = 0;
    while (dotsAndBlanks < length && (name[dotsAndBlanks] == '.' || name[dotsAndBlanks] == ' '))
        ++dotsAndBlanks;
    if (dotsAndBlanks == length)
        return 0;
    return !IsDeviceName(name, length);
}

uint32_t NextHeaderPos(uint32_t headerPos, uint32_t storedSize) {
    if (headerPos > (uint32_t)SQ_MAX_OFFSET - SQ_HEADER_SIZE)
        return 0;
    uint32_t dataPos = headerPos + SQ_HEADER_SIZE;
    if (storedSize > (uint32_t)SQ_MAX_OFFSET - dataPos)
        return 0;
    return dataPos + storedSize;
}
