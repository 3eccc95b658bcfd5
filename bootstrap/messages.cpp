// Texts from the string table, the bootstrap's message boxes and its progress window.
#include "bootstrap.h"

#include "decisions.h"
#include "res/resource.h"

char* LoadText(UINT id, int slot) {
    char* text = SetupContext.TextSlot[slot];
    LoadStringA(static_cast<HINSTANCE>(SetupContext.Instance), id, text, SETUP_TEXT_SIZE - 1);
    return text;
}

void ShowErrorBox(UINT captionId, UINT textId, UINT type) {
    LoadText(captionId, 1);
    LoadText(textId, 0);
    MessageBoxA(static_cast<HWND>(SetupContext.ProgressWnd), SetupContext.TextSlot[0],
                SetupContext.TextSlot[1], type);
}

void AbortWithPath(UINT textId) {
    char message[SETUP_TEXT_SIZE];
    // A long staging path makes the message longer than its buffer: it is cut to fit.
    FormatText(message, sizeof message, LoadText(textId, 0), SetupContext.StagingDir);
    MessageBoxA(static_cast<HWND>(SetupContext.ProgressWnd), message, LoadText(IDS_SETUP_ERROR, 1),
                MB_ICONHAND);
    ExitProcess(0);
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG)
        return 0;
    SetWindowTextA(window, SetupContext.WndTitle);
    SetDlgItemTextA(window, IDC_PROGRESS_TEXT, SetupContext.WndMess);
    return 1;
}

int CreateProgressWindow(HINSTANCE instance) {
    SetupContext.Instance = instance;
    HWND window =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, ProgressDialogProc, 0);
    if (window == NULL)
        return 0;
    SetupContext.ProgressWnd = window;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return 1;
}
