// Operations of the setup bootstrap that talk to the platform. The portable rules they
// apply are in decisions.h, listfile.h and paths.h.
#ifndef BOOTSTRAP_BOOTSTRAP_H
#define BOOTSTRAP_BOOTSTRAP_H

#include <windows.h>

#include "context.h"

// Checks (main.cpp)
int CheckProcessor();
int CheckPlatform();

// Texts, boxes and the progress window (messages.cpp)
char* LoadText(UINT id, int slot);
void ShowErrorBox(UINT captionId, UINT textId, UINT type);
__attribute__((noreturn)) void AbortWithPath(UINT textId);
int CreateProgressWindow(HINSTANCE instance);
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Staging directory (staging.cpp)
void PrepareStagingDir(const char* windowsDir);
int IsWritableDir(const char* path);
int HasStagingSpace(const char* path);
void EnterDir(const char* path);
void RemoveStagingDir(const char* path);

// Setup list file (setuplist.cpp)
HANDLE OpenSetupList(const char* modulePath);
// Line-reader source over an open file; a failed read ends a pass like the end of the file.
int ReadListBytes(void* source, char* buffer, int size);
int ReadSetupList(const char* modulePath, int pass);

// Expansion and system libraries (expand.cpp)
int PrepareExpansionLibrary();
int LzExpandFile(const char* sourceDir, const char* destDir, const char* sourceName,
                 const char* targetName);
int ExpandListedFile(HWND owner, const char* sourceDir, const char* destDir, const char* sourceName,
                     const char* targetName);
int GetFileVersionMS(const char* path, DWORD* place);
int ShouldReplaceInstalled(const char* newPath, const char* installedPath);
int InstallSystemLibraries(HWND owner, const char* programPath);

// Second stage (launch.cpp)
int LaunchSecondStage(const char* stagingDir, const char* cmdLine, const char* argument);

#endif
