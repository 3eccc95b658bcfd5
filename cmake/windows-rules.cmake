# Build rules of the Windows deliverables: UNSQUISH.DLL, the MFC30.DLL stand-in and the
# setup bootstrap. These modules must load on Windows 95 and Windows NT 3.5 and run on a
# 386, so they use no C run-time library, import only the platform's own DLLs (plus MFC30.DLL
# by ordinal), contain only 386 instructions and declare subsystem version 3.10.
# winharness/check_deliverable.py verifies every rule on the finished files.

# Where the finished modules land, side by side, so that UNSQUISH.DLL finds MFC30.DLL.
set(SQ_DELIVERABLE_DIR ${CMAKE_BINARY_DIR}/deliverables)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Compiles a target's own sources as free-standing 386 code: nothing beyond the 386
# instruction set (the assembler is held to it too, so alignment padding stays 386 NOPs), no
# unwind tables, no stack protector, no exceptions or RTTI. Loops are never turned into
# memset/memcpy calls, so the plain loops of winrt stay loops.
function(sq_freestanding target)
  target_compile_options(${target} PRIVATE
    -march=i386 -mtune=i386 -Wa,-march=i386 -mno-mmx -mno-sse -mno-sse2
    -mpreferred-stack-boundary=2 -O2
    -ffreestanding -fno-tree-loop-distribute-patterns
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-ident
    -Wall -Wextra
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics
                             -fno-use-cxa-atexit>)
endfunction()

# Links a shared library or executable target as a deliverable:
#   sq_win32_module(<target> OUTPUT_NAME <name> BASE <image base>
#                   [EXTENSION <DLL|EXE>] [IMPORTS <import library>...])
# IMPORTS are import libraries such as kernel32, user32, version, lz32; kernel32 is always
# linked. The entry point comes from winrt (DLL: SqDllEntry calls DllMain; EXE: SqExeEntry calls
# WinMain and ExitProcess). A .def file among the target's sources names its exports;
# stdcall decorations are cut from exported names. Nothing else is linked: no start files,
# no libgcc, no C or C++ library. The call also clears, for the calling directory, the
# default Win32 libraries that CMake appends to every link line, so that only IMPORTS reach
# the linker.
function(sq_win32_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_NAME;BASE;EXTENSION" "IMPORTS")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(entry _SqDllEntry@12)
    set(extension DLL)
  elseif(type STREQUAL "EXECUTABLE")
    set(entry _SqExeEntry@0)
    set(extension EXE)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  else()
    message(FATAL_ERROR "sq_win32_module: ${target} is neither a DLL nor an EXE")
  endif()
  if(arg_EXTENSION)
    set(extension ${arg_EXTENSION})
  endif()

  sq_freestanding(${target})
  target_link_options(${target} PRIVATE
    -nostdlib
    LINKER:--entry,${entry}
    LINKER:--undefined,${entry}
    LINKER:--image-base,${arg_BASE}
    # Windows 3.1-style subsystem, the newest that NT 3.5 and Windows 95 both accept; the
    # operating-system version matches it (no loader of either checks that one).
    LINKER:--subsystem,windows:3.10
    LINKER:--major-subsystem-version,3 LINKER:--minor-subsystem-version,10
    LINKER:--major-os-version,3 LINKER:--minor-os-version,10
    # Header flags that those loaders never knew; base relocations stay in DLLs anyway.
    LINKER:--disable-dynamicbase LINKER:--disable-nxcompat
    LINKER:--kill-at
    LINKER:--no-insert-timestamp
    LINKER:-s)
  # KERNEL32 comes last: MinGW's libkernel32.a also defines the LZ functions (later Windows
  # forward them there), but Windows 95 has them only in LZ32.DLL, so lz32 must win.
  set(imports ${arg_IMPORTS})
  list(REMOVE_ITEM imports kernel32)
  target_link_libraries(${target} PRIVATE winrt ${imports} kernel32)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${arg_OUTPUT_NAME}
    PREFIX ""
    SUFFIX ".${extension}"
    IMPORT_PREFIX "lib"
    IMPORT_SUFFIX ".dll.a"
    RUNTIME_OUTPUT_DIRECTORY ${SQ_DELIVERABLE_DIR}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set(CMAKE_C_STANDARD_LIBRARIES "" PARENT_SCOPE)
  set(CMAKE_CXX_STANDARD_LIBRARIES "" PARENT_SCOPE)
endfunction()

# Registers the test that checks a finished module against the rules above:
#   sq_check_deliverable(<target> PROFILE <unsquish|mfc30|bootstrap>)
function(sq_check_deliverable target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PROFILE" "")
  add_test(NAME pe_rules_${target}
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/winharness/check_deliverable.py
                   --objdump ${SQ_OBJDUMP} --profile ${arg_PROFILE} $<TARGET_FILE:${target}>)
endfunction()
