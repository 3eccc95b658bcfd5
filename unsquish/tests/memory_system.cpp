#include "memory_system.h"

#include <cstdlib>
#include <cstring>

struct SqFile {
    std::string path;
    uint32_t pos;
};

static MemorySystem* Self(SqSystem* sys) {
    return reinterpret_cast<MemorySystem*>(sys);
}

static std::string ParentDir(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

static void Log(MemorySystem* m, const std::string& what, const std::string& path = "") {
    m->events.push_back(path.empty() ? what : what + " " + path);
}

static SqFile* Open(MemorySystem* m, const char* path) {
    ++m->openHandles;
    return new SqFile{path, 0};
}

static SqFile* MemOpenRead(SqSystem* sys, const char* path) {
    MemorySystem* m = Self(sys);
    if (!m->files.count(path))
        return nullptr;
    Log(m, "open", path);
    return Open(m, path);
}

static SqFile* MemOpenOutput(SqSystem* sys, const char* path) {
    MemorySystem* m = Self(sys);
    auto it = m->files.find(path);
    if (it == m->files.end()) {
        if (!m->dirs.count(ParentDir(path)))
            return nullptr;
        m->files[path];
    } else {
        it->second.readOnly = false;
    }
    Log(m, "output", path);
    return Open(m, path);
}

static int32_t MemRead(SqSystem* sys, SqFile* f, void* buffer, uint32_t size) {
    MemorySystem* m = Self(sys);
    if (!m->faults.read.allow())
        return -1;
    const std::vector<uint8_t>& data = m->files[f->path].data;
    uint32_t left = f->pos < data.size() ? (uint32_t)data.size() - f->pos : 0;
    uint32_t n = size < left ? size : left;
    if (n)
        memcpy(buffer, data.data() + f->pos, n);
    f->pos += n;
    return (int32_t)n;
}

static int MemWrite(SqSystem* sys, SqFile* f, const void* buffer, uint32_t size) {
    MemorySystem* m = Self(sys);
    if (!m->faults.write.allow())
        return 0;
    std::vector<uint8_t>& data = m->files[f->path].data;
    if (data.size() < f->pos + size)
        data.resize(f->pos + size);
    memcpy(data.data() + f->pos, buffer, size);
    f->pos += size;
    return 1;
}

static int MemSeek(SqSystem* sys, SqFile* f, uint32_t offset) {
    if (!Self(sys)->faults.seek.allow())
        return 0;
    f->pos = offset;
    return 1;
}

static int MemTruncate(SqSystem* sys, SqFile* f) {
    std::vector<uint8_t>& data = Self(sys)->files[f->path].data;
    if (data.size() > f->pos)
        data.resize(f->pos);
    return 1;
}

static int MemSetDosTime(SqSystem* sys, SqFile* f, uint16_t dosDate, uint16_t dosTime) {
    Log(Self(sys), "time", f->path);
    MemoryFile& file = Self(sys)->files[f->path];
    file.timeSet = true;
    file.dosDate = dosDate;
    file.dosTime = dosTime;
    return 1;
}

static void MemClose(SqSystem* sys, SqFile* f) {
    Log(Self(sys), "close", f->path);
    --Self(sys)->openHandles;
    delete f;
}

static void* MemAlloc(SqSystem* sys, uint32_t size) {
    MemorySystem* m = Self(sys);
    if (!m->faults.alloc.allow()) {
        Log(m, "alloc failed");
        return nullptr;
    }
    Log(m, "alloc");
    ++m->liveBlocks;
    // Garbage, not zeros: the decoder must not depend on a cleared work area.
    void* block = malloc(size);
    memset(block, 0xA5, size);
    return block;
}

static void MemFree(SqSystem* sys, void* block) {
    Log(Self(sys), "free");
    --Self(sys)->liveBlocks;
    free(block);
}

static void MemMessage(SqSystem* sys, uint32_t textId, const char* arg) {
    Self(sys)->messages.push_back({textId, arg});
    Log(Self(sys), "message " + std::to_string(textId));
}

MemorySystem::MemorySystem() {
    sys.openRead = MemOpenRead;
    sys.openOutput = MemOpenOutput;
    sys.read = MemRead;
    sys.write = MemWrite;
    sys.seek = MemSeek;
    sys.truncate = MemTruncate;
    sys.setDosTime = MemSetDosTime;
    sys.close = MemClose;
    sys.alloc = MemAlloc;
    sys.free = MemFree;
    sys.message = MemMessage;
}

std::string MemorySystem::text(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? std::string("<missing>")
                             : std::string(it->second.data.begin(), it->second.data.end());
}
