// An in-memory platform layer for the archive reader's tests: a tiny file system with
// directories, read-only flags and file times, a record of every message, and fault
// injection (a read, write, seek or allocation that fails after N successful calls), and a log
// of the operations whose order matters.
#ifndef UNSQUISH_TESTS_MEMORY_SYSTEM_H
#define UNSQUISH_TESTS_MEMORY_SYSTEM_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sqsystem.h"

struct MemoryFile {
    std::vector<uint8_t> data;
    bool readOnly = false;
    bool timeSet = false;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
};

struct Message {
    uint32_t id;
    std::string arg;
    bool operator==(const Message& o) const { return id == o.id && arg == o.arg; }
};

// One injected failure per operation: the call with this 0-based number fails, every other
// call succeeds; negative means never. calls counts the calls made so far.
struct Fault {
    int failAt = -1;
    int calls = 0;
    bool allow() { return calls++ != failAt; }
};

struct Faults {
    Fault read, write, seek, alloc;
};

struct MemorySystem {
    SqSystem sys; // first: the core hands this pointer back to every operation
    std::map<std::string, MemoryFile> files;
    std::set<std::string> dirs{""}; // "" is the current directory
    std::vector<Message> messages;
    Faults faults;
    int openHandles = 0;
    int liveBlocks = 0;
    // Opens, closes, times, allocations and messages in the order they happened, such as
    // "open A:\SETUP.LSZ", "output C:\STAGE\A.TXT", "time ...", "close ...", "alloc",
    // "free", "message 13501". Reads, writes and seeks are left out.
    std::vector<std::string> events;

    MemorySystem();
    SqSystem* table() { return &sys; }
    std::string text(const std::string& path) const;
};

#endif
