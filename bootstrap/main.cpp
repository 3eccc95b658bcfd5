// WinMain: the whole first stage of setup, one pass on one thread. Every way out ends the
// process with exit code 0.
#include "bootstrap.h"

#include "decisions.h"
#include "listfile.h"
#include "paths.h"
#include "res/resource.h"
#include "text.h"
#include "winrt.h"

int CheckProcessor() {
    SYSTEM_INFO info;
    ClearBytes(&info, sizeof info);
    GetSystemInfo(&info);
    return ProcessorQualifies(info.dwProcessorType);
}

int CheckPlatform() {
    OSVERSIONINFOA version;
    ClearBytes(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 0;
    return PlatformQualifies(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
}

// A setup window of the product that is already open is brought forward instead.
static int SetupAlreadyRunning() {
    HWND window = FindWindowA(NULL, LoadText(IDS_SETUP_WINDOW_TITLE, 0));
    if (window == NULL)
        return 0;
    ShowWindow(window, SW_SHOWMAXIMIZED);
    SetForegroundWindow(window);
    return 1;
}

static void ReportLibraryFailure() {
    MessageBeep(MB_ICONHAND);
    UINT text = IDS_CANNOT_LOAD_UNSQUISH;
    if (SetupContext.LibLoaded == 1) {
        FreeLibrary(static_cast<HMODULE>(SetupContext.LibModule));
        text = IDS_NO_EXTRACT_ENTRY;
    }
    ShowErrorBox(IDS_DECOMPRESSION_ERROR, text, MB_ICONHAND);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    char programPath[SETUP_PATH_SIZE];
    char windowsDir[SETUP_PATH_SIZE];
    char argument[SETUP_PATH_SIZE];

    SetupContext.ProgressWnd = NULL;
    if (!CheckProcessor()) {
        ShowErrorBox(IDS_SETUP_ERROR, IDS_NEEDS_386, MB_ICONHAND);
        return 0;
    }
    if (!CheckPlatform()) {
        ShowErrorBox(IDS_SETUP_ERROR, IDS_NEEDS_PLATFORM, MB_ICONHAND);
        return 0;
    }
    SetupContext.Instance = instance;
    if (SetupAlreadyRunning())
        return 0;

    ClearBytes(windowsDir, sizeof windowsDir);
    GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    ClearBytes(programPath, sizeof programPath);
    // A program path cut at the buffer would name another list file and source directory.
    if (GetModuleFileNameA(instance, programPath, sizeof programPath) >= sizeof programPath)
        return 0;
    ReadSetupList(programPath, SETTINGS_PASS);

    ClearBytes(SetupContext.SourceDir, sizeof SetupContext.SourceDir);
    SplitPath(SetupContext.SourceDir, programPath, SPLIT_DIRECTORY);
    AppendBackslash(SetupContext.SourceDir);

    PrepareStagingDir(windowsDir);
    if (!CreateProgressWindow(instance))
        return 0;
    if (!PrepareExpansionLibrary()) {
        ReportLibraryFailure();
        RemoveStagingDir(SetupContext.StagingDir);
        return 0;
    }
    if (!ReadSetupList(programPath, FILES_PASS))
        MessageBoxA(NULL, "Error, big", NULL, MB_OK);
    if (!InstallSystemLibraries(static_cast<HWND>(SetupContext.ProgressWnd), programPath))
        MessageBoxA(NULL, "Failed to copy MFC DLLs", NULL, MB_OK);
    DestroyWindow(static_cast<HWND>(SetupContext.ProgressWnd));

    EnterDir(SetupContext.StagingDir);
    // A source path too long for the argument is not cut: the second stage is not started.
    if (FormatText(argument, sizeof argument, "/S %s", SetupContext.SourceDir))
        LaunchSecondStage(SetupContext.StagingDir, SetupContext.CmdLine, argument);

    if (SetupContext.LibLoaded == 1)
        FreeLibrary(static_cast<HMODULE>(SetupContext.LibModule));
    RemoveStagingDir(SetupContext.StagingDir);
    return 0;
}
