// Small text helpers over fixed buffers. The bootstrap carries no C run-time, so these
// stand in for the few string functions it needs. Every writer takes the size of its
// output buffer and never writes past it.
#ifndef BOOTSTRAP_TEXT_H
#define BOOTSTRAP_TEXT_H

int TextLength(const char* text);
// Copies src into out (size bytes). Returns 1 when all of it fit; otherwise out holds as
// much as fits, terminated, and the result is 0.
int CopyText(char* out, int size, const char* src);
// Appends src to the text already in out; same result rule as CopyText.
int AppendText(char* out, int size, const char* src);
char UpperAscii(char c);
void UpperCaseText(char* text);
// 1 when a and b are equal with ASCII letters compared case-insensitively.
int SameTextNoCase(const char* a, const char* b);
// 1 when text contains part anywhere (case-sensitive).
int ContainsText(const char* text, const char* part);
// Fills size bytes with zero.
void ClearBytes(void* block, int size);

#endif
