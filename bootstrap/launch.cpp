// Starting the second stage from the staging directory and waiting for it.
#include "bootstrap.h"

#include "decisions.h"
#include "text.h"

int LaunchSecondStage(const char* stagingDir, const char* cmdLine, const char* argument) {
    char application[SETUP_PATH_SIZE];
    char commandLine[SETUP_PATH_SIZE];
    if (!BuildLaunchCommand(stagingDir, cmdLine, argument, application, commandLine))
        return 0;

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ClearBytes(&startup, sizeof startup);
    ClearBytes(&process, sizeof process);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (!CreateProcessA(application, commandLine, NULL, NULL, TRUE, CREATE_NEW_CONSOLE,
                        GetEnvironmentStrings(), stagingDir, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
