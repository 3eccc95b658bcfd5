#include "text.h"

int TextLength(const char* text) {
    int n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

int CopyText(char* out, int size, const char* src) {
    if (size <= 0)
        return 0;
    out[0] = 0;
    return AppendText(out, size, src);
}

int AppendText(char* out, int size, const char* src) {
    int n = TextLength(out);
    while (*src != 0) {
        if (n + 1 >= size) {
            out[n] = 0;
            return 0;
        }
        out[n++] = *src++;
    }
    out[n] = 0;
    return 1;
}

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void UpperCaseText(char* text) {
    for (; *text != 0; ++text)
        *text = UpperAscii(*text);
}

int SameTextNoCase(const char* a, const char* b) {
    while (*a != 0 && UpperAscii(*a) == UpperAscii(*b)) {
        ++a;
        ++b;
    }
    return *a == 0 && *b == 0;
}

int ContainsText(const char* text, const char* part) {
    int partLength = TextLength(part);
    for (; *text != 0; ++text) {
        int i = 0;
        while (i < partLength && text[i] == part[i])
            ++i;
        if (i == partLength)
            return 1;
    }
    return partLength == 0;
}

void ClearBytes(void* block, int size) {
    // volatile keeps the compiler from turning the loop into a memset call of its own.
    volatile char* p = static_cast<volatile char*>(block);
    for (int i = 0; i < size; ++i)
        p[i] = 0;
}
