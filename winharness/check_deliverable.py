#!/usr/bin/env python3
"""Checks a built deliverable (PE file) against the rules that let it run on Windows 95 and
Windows NT 3.5 on a 386:

  import-dll       every imported DLL is one that this file may use
  crt              no C run-time library is imported (msvcrt, crtdll, libgcc...)
  import-function  every imported function is exported by both Windows 95 and NT 3.5
  instruction      the code holds 386 instructions only
  subsystem        Windows GUI subsystem, version 3.10
  exports          the export table is exactly what the file should export
  tls              no thread-local storage directory (LoadLibrary on NT 3.5 ignores it)

Reads the file through objdump -p and -d. Prints one line per violation, tagged as above.
Exit status: 0 when the file keeps every rule, 1 when it breaks one, 2 when it cannot be
read. With --expect TAG (repeatable) the result is inverted for rule tests: the status is
0 exactly when the violations found carry the expected tags and no others.
"""

import argparse
import re
import subprocess
import sys

# Functions that both Windows 95 and Windows NT 3.5 export, as far as the deliverables and
# the bootstrap need them. Deliberately absent, among others: GetDiskFreeSpaceExA (Windows 95
# OSR2 and NT 4.0), GetFileAttributesExA and the W functions (mostly stubs on Windows 95).
KERNEL32 = {
    # files
    "CreateFileA", "ReadFile", "WriteFile", "CloseHandle", "SetFilePointer", "SetEndOfFile",
    "FlushFileBuffers", "GetFileSize", "GetFileType", "GetFileAttributesA",
    "SetFileAttributesA", "GetFileTime", "SetFileTime", "DosDateTimeToFileTime",
    "FileTimeToDosDateTime", "FileTimeToLocalFileTime", "LocalFileTimeToFileTime",
    "FileTimeToSystemTime", "SystemTimeToFileTime", "CompareFileTime", "CopyFileA",
    "MoveFileA", "DeleteFileA", "FindFirstFileA", "FindNextFileA", "FindClose",
    "GetFullPathNameA", "SearchPathA", "GetTempPathA", "GetTempFileNameA", "OpenFile",
    "_lopen", "_lcreat", "_lread", "_lwrite", "_llseek", "_lclose",
    "GetPrivateProfileStringA", "GetPrivateProfileIntA",
    # directories
    "CreateDirectoryA", "RemoveDirectoryA", "GetCurrentDirectoryA", "SetCurrentDirectoryA",
    "GetWindowsDirectoryA", "GetSystemDirectoryA",
    # disks and drives
    "GetDiskFreeSpaceA", "GetDriveTypeA", "GetLogicalDrives", "GetLogicalDriveStringsA",
    "GetVolumeInformationA",
    # modules and libraries
    "GetModuleHandleA", "GetModuleFileNameA", "LoadLibraryA", "LoadLibraryExA",
    "FreeLibrary", "GetProcAddress", "FindResourceA", "LoadResource", "LockResource",
    "SizeofResource", "FreeResource",
    # processes
    "CreateProcessA", "WaitForSingleObject", "GetExitCodeProcess", "TerminateProcess",
    "ExitProcess", "GetStartupInfoA", "GetCommandLineA", "GetCurrentProcess",
    "GetCurrentProcessId", "Sleep", "GetLastError", "SetLastError", "SetErrorMode",
    # environment, version and system information
    "GetEnvironmentVariableA", "SetEnvironmentVariableA", "ExpandEnvironmentStringsA",
    "GetEnvironmentStrings",
    "GetVersion", "GetVersionExA", "GetSystemInfo", "GetTickCount", "GetSystemTime",
    "GetLocalTime", "OutputDebugStringA",
    # memory
    "GlobalAlloc", "GlobalFree", "GlobalLock", "GlobalUnlock", "LocalAlloc", "LocalFree",
    "GetProcessHeap", "HeapAlloc", "HeapFree", "HeapReAlloc", "HeapCreate", "HeapDestroy",
    "VirtualAlloc", "VirtualFree",
    # strings
    "lstrlenA", "lstrcpyA", "lstrcpynA", "lstrcatA", "lstrcmpA", "lstrcmpiA",
    "lstrlen", "lstrcpy", "lstrcpyn", "lstrcat", "lstrcmp", "lstrcmpi",
}

USER32 = {
    # texts and message boxes
    "LoadStringA", "MessageBoxA", "MessageBeep", "wsprintfA", "wvsprintfA",
    "CharUpperA", "CharLowerA", "CharNextA", "CharPrevA", "IsCharAlphaA",
    # dialogs
    "CreateDialogParamA", "DialogBoxParamA", "EndDialog", "GetDlgItem", "SetDlgItemTextA",
    "GetDlgItemTextA", "SendDlgItemMessageA", "IsDialogMessageA",
    # windows and messages
    "CreateWindowExA", "DestroyWindow", "ShowWindow", "UpdateWindow", "InvalidateRect",
    "SetWindowTextA", "GetWindowTextA", "FindWindowA", "SetForegroundWindow",
    "BringWindowToTop", "SetActiveWindow", "SetFocus", "IsIconic", "OpenIcon", "IsWindow",
    "IsWindowVisible", "EnableWindow", "GetWindowRect", "GetClientRect", "MoveWindow",
    "SetWindowPos", "GetSystemMetrics", "GetDesktopWindow", "GetParent", "GetWindow",
    "GetWindowLongA", "SetWindowLongA", "DefWindowProcA", "RegisterClassA",
    "LoadCursorA", "LoadIconA", "SetCursor", "GetDC", "ReleaseDC",
    "SendMessageA", "PostMessageA", "PeekMessageA", "GetMessageA", "TranslateMessage",
    "DispatchMessageA", "WaitForInputIdle",
}

VERSION = {"GetFileVersionInfoA", "GetFileVersionInfoSizeA", "VerQueryValueA",
           "VerFindFileA", "VerInstallFileA"}

LZ32 = {"LZOpenFileA", "LZCopy", "LZClose", "LZInit", "LZRead", "LZSeek", "LZStart",
        "LZDone", "CopyLZFile", "GetExpandedNameA"}

# DLL name -> allowed function names; MFC30.DLL is used by ordinal only.
ALLOWED_FUNCTIONS = {"KERNEL32.DLL": KERNEL32, "USER32.DLL": USER32,
                     "VERSION.DLL": VERSION, "LZ32.DLL": LZ32}
ALLOWED_ORDINALS = {"MFC30.DLL": {588, 298}}

PROFILES = {
    "unsquish": {"dlls": {"KERNEL32.DLL", "USER32.DLL", "MFC30.DLL"},
                 "named_exports": {"SQExtractFile"}, "ordinal_exports": set()},
    "mfc30": {"dlls": {"KERNEL32.DLL"},
              "named_exports": set(), "ordinal_exports": {588, 298}},
    "bootstrap": {"dlls": {"KERNEL32.DLL", "USER32.DLL", "VERSION.DLL", "LZ32.DLL"},
                  "named_exports": set(), "ordinal_exports": set()},
}

CRT_DLL = re.compile(r"^(MSVCR.*|MSVCP.*|MSVCRT.*|CRTDLL|UCRTBASE|API-MS-WIN-CRT-.*|"
                     r"VCRUNTIME.*|LIBGCC.*|LIBSTDC.*|LIBWINPTHREAD.*|MINGWM.*|CYGWIN.*)"
                     r"\.DLL$")

# Two-byte opcodes (after 0F) that the 386 has: protection and system control, Jcc near,
# SETcc, PUSH/POP FS/GS, BT*, SHLD/SHRD, IMUL, LSS/LFS/LGS, MOVZX/MOVSX, BSF/BSR.
OPCODES_0F_386 = ({0x00, 0x01, 0x02, 0x03, 0x06, 0x20, 0x21, 0x22, 0x23, 0x24, 0x26}
                  | set(range(0x80, 0xA0))
                  | {0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9, 0xAB, 0xAC, 0xAD, 0xAF}
                  | {0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF})
PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}
# Later mnemonics that do not start with 0F: P6 floating-point compares and moves, SSE3.
LATE_MNEMONIC = re.compile(r"^(fcomi|fcomip|fucomi|fucomip|fcmov\w*|fisttp\w*)$")
LATE_REGISTER = re.compile(r"%(mm\d|xmm\d+|ymm\d+|zmm\d+|k\d|cr4|cr8)\b")


def run_objdump(objdump, option, path):
    result = subprocess.run([objdump, option, path], capture_output=True, text=True)
    if result.returncode != 0:
        raise OSError(result.stderr.strip() or f"{objdump} {option} failed")
    return result.stdout


def parse_imports(private):
    """Returns a list of (dll, name or None, ordinal or None) from objdump -p."""
    imports = []
    dll = None
    for line in private.splitlines():
        if line and not line[0].isspace():
            dll = None  # a new part of the report begins
            continue
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).upper()
            continue
        m = re.match(r"\t([0-9a-f]+)\t\s*(\d+)\s+(\S+)", line)
        if m and dll is not None:
            name = m.group(3)
            if name == "<none>":
                imports.append((dll, None, int(m.group(2))))
            else:
                imports.append((dll, name, None))
    return imports


def parse_exports(private):
    """Returns (named exports, ordinals with an address) from objdump -p."""
    names = set()
    ordinals = set()
    section = None
    for line in private.splitlines():
        if line.startswith("Export Address Table --"):
            section = "addresses"
            continue
        if line.startswith("[Ordinal/Name Pointer] Table"):
            section = "names"
            continue
        if section and not line.startswith("\t"):
            section = None if line.strip() else section
            continue
        if section == "addresses":
            m = re.match(r"\t\[\s*\d+\] \+base\[\s*(\d+)\]", line)
            if m:
                ordinals.add(int(m.group(1)))
        elif section == "names":
            m = re.match(r"\t\[\s*\d+\] (?:\+base\[\s*\d+\]\s+[0-9a-f]+\s+)?(\S+)", line)
            if m:
                names.add(m.group(1))
    return names, ordinals


def header_value(private, field):
    m = re.search(r"^" + field + r"\s+(\S+)", private, re.MULTILINE)
    return m.group(1) if m else None


def check_imports(profile, imports):
    found = []
    for dll, name, ordinal in imports:
        if CRT_DLL.match(dll):
            found.append(("crt", f"imports {dll}!{name or ordinal}: a C run-time library"))
        elif dll not in profile["dlls"]:
            found.append(("import-dll", f"imports {dll}!{name or ordinal}: DLL not allowed"))
        elif name is None:
            if ordinal not in ALLOWED_ORDINALS.get(dll, set()):
                found.append(("import-function", f"imports {dll} ordinal {ordinal}"))
        elif name not in ALLOWED_FUNCTIONS.get(dll, set()):
            found.append(("import-function",
                          f"imports {dll}!{name}: not known in both Windows 95 and NT 3.5"))
    return found


def check_header(private):
    found = []
    version = (header_value(private, "MajorSubsystemVersion"),
               header_value(private, "MinorSubsystemVersion"))
    if version != ("3", "10"):
        found.append(("subsystem", f"subsystem version {version[0]}.{version[1]}, not 3.10"))
    if header_value(private, "Subsystem") != "00000002":
        found.append(("subsystem", "subsystem is not Windows GUI"))
    m = re.search(r"^Entry 9 (\S+) (\S+)", private, re.MULTILINE)
    if m and int(m.group(2), 16) != 0:
        found.append(("tls", "has a thread-local storage directory"))
    return found


def check_exports(profile, private):
    names, ordinals = parse_exports(private)
    found = []
    if names != profile["named_exports"]:
        found.append(("exports", f"exports names {sorted(names)}, "
                                 f"expected {sorted(profile['named_exports'])}"))
    expected_count = len(profile["named_exports"]) + len(profile["ordinal_exports"])
    if len(ordinals) != expected_count or not profile["ordinal_exports"] <= ordinals:
        found.append(("exports", f"exports ordinals {sorted(ordinals)}, expected "
                                 f"{expected_count} entries including "
                                 f"{sorted(profile['ordinal_exports'])}"))
    return found


def opcode_after_prefixes(hex_bytes):
    values = [int(b, 16) for b in hex_bytes]
    i = 0
    while i < len(values) and values[i] in PREFIXES:
        i += 1
    return values[i:i + 2]


def instruction_problem(hex_bytes, text):
    """Why an instruction is beyond the 386, or None."""
    if text.startswith("(bad)"):
        return None  # data in .text (the empty constructor lists), not an instruction
    words = text.split()
    mnemonic = next((w for w in words if w not in
                     ("rep", "repz", "repnz", "repe", "repne", "lock", "data16", "addr16",
                      "cs", "ds", "es", "fs", "gs", "ss")), "")
    opcode = opcode_after_prefixes(hex_bytes)
    if len(opcode) == 2 and opcode[0] == 0x0F and opcode[1] not in OPCODES_0F_386:
        return f"opcode 0f {opcode[1]:02x}"
    if LATE_MNEMONIC.match(mnemonic):
        return "P6 floating-point instruction"
    if LATE_REGISTER.search(text):
        return "MMX/SSE register"
    return None


def check_code(disassembly):
    found = []
    count = 0
    for line in disassembly.splitlines():
        parts = line.split("\t")
        if len(parts) < 3 or not re.match(r"\s*[0-9a-f]+:$", parts[0]):
            continue
        count += 1
        problem = instruction_problem(parts[1].split(), parts[2].strip())
        if problem:
            found.append(("instruction",
                          f"{parts[0].strip()} {parts[2].strip()}: {problem}"))
    if count == 0:
        raise OSError("no code found to disassemble")
    return found


def check_file(objdump, profile_name, path):
    profile = PROFILES[profile_name]
    private = run_objdump(objdump, "-p", path)
    if "file format pei-i386" not in private:
        raise OSError("not a 32-bit x86 PE image")
    disassembly = run_objdump(objdump, "-d", path)
    return (check_header(private) + check_imports(profile, parse_imports(private))
            + check_exports(profile, private) + check_code(disassembly))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--profile", required=True, choices=sorted(PROFILES))
    parser.add_argument("--expect", action="append", default=[], metavar="TAG",
                        help="rule test: succeed only when exactly these rules are broken")
    parser.add_argument("file")
    args = parser.parse_args()
    try:
        found = check_file(args.objdump, args.profile, args.file)
    except OSError as error:
        print(f"{args.file}: cannot inspect: {error}", file=sys.stderr)
        return 2
    for tag, text in found:
        print(f"{args.file}: [{tag}] {text}")
    tags = {tag for tag, _ in found}
    if args.expect:
        expected = set(args.expect)
        if tags != expected:
            print(f"{args.file}: broken rules {sorted(tags)}, expected {sorted(expected)}")
            return 1
        return 0
    if found:
        return 1
    print(f"{args.file}: keeps every rule for {args.profile}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
