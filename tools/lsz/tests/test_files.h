// Scratch files for the archive tests: a temporary directory removed at the end of the test,
// and whole-file reads and writes.
#ifndef TOOLS_LSZ_TESTS_TEST_FILES_H
#define TOOLS_LSZ_TESTS_TEST_FILES_H

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#include "test_bytes.h"

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/lsz_test_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadFileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline time_t FileMtime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

inline void SetFileMtime(const std::string& path, time_t t) {
    struct timespec times[2] = {{t, 0}, {t, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

#endif
