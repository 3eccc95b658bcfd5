// sq_bench: decoding speed of explode against zlib's inflate on the same files, and the
// compressed sizes of implode's levels next to zlib's.
//
//   sq_bench [--min-time SECONDS] [--literal auto|ascii|binary] [--dict 4|5|6] FILE...
//
// Sizes are given for every implode level; the stream that explode decodes is the level-3
// one, with the literal mode and window chosen by the options (default: auto, 4096 bytes),
// so that each decoding path can be measured.
// Each decoder is run repeatedly over its stream until at least the minimum time has passed
// (and at least three times); the fastest run gives the figure, in MB/s of decoded bytes.
// Both decoders are checked against the original bytes before anything is timed.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "explode_buffer.h"
#include "implode.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

enum BenchExit { kBenchOk = 0, kBenchUsage = 2, kBenchInputError = 3, kBenchMismatch = 4 };

struct BenchOptions {
    double minSeconds = 0.2;
    int literalMode = IMPLODE_LITERAL_AUTO;
    int dictBits = IMPLODE_MAX_DICT_BITS;
    bool help = false;
    std::vector<std::string> files;
};

struct FileResult {
    std::string name;
    size_t size = 0;
    int literalMode = 0;
    size_t implodeSize[3] = {0, 0, 0};
    size_t zlibSize = 0;
    double explodeMBs = 0;
    double inflateMBs = 0;
};

void PrintUsage(FILE* to) {
    std::fprintf(to, "usage: sq_bench [--min-time SECONDS] [--literal auto|ascii|binary] "
                     "[--dict 4|5|6] FILE...\n"
                     "Compares explode with zlib inflate (level 6) on each FILE.\n");
}

bool ParseArgs(int argc, char** argv, BenchOptions* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--min-time" && i + 1 < argc) {
            o->minSeconds = std::atof(argv[++i]);
            if (o->minSeconds <= 0) {
                return false;
            }
        } else if (a == "--literal" && i + 1 < argc) {
            std::string v = argv[++i];
            o->literalMode = v == "ascii"    ? IMPLODE_LITERAL_ASCII
                             : v == "binary" ? IMPLODE_LITERAL_BINARY
                             : v == "auto"   ? IMPLODE_LITERAL_AUTO
                                             : -2;
            if (o->literalMode == -2) {
                return false;
            }
        } else if (a == "--dict" && i + 1 < argc) {
            o->dictBits = std::atoi(argv[++i]);
            if (o->dictBits < IMPLODE_MIN_DICT_BITS || o->dictBits > IMPLODE_MAX_DICT_BITS) {
                return false;
            }
        } else if (a == "-h" || a == "--help") {
            o->help = true;
            return true;
        } else {
            o->files.push_back(a);
        }
    }
    return !o->files.empty();
}

bool ReadFile(const std::string& path, Bytes* out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

[[noreturn]] void Mismatch(const std::string& file, const char* decoder) {
    std::fprintf(stderr, "sq_bench: %s: %s did not reproduce the input; no timing taken\n",
                 file.c_str(), decoder);
    std::exit(kBenchMismatch);
}

// Runs decode repeatedly; returns the best throughput in MB/s of size decoded bytes.
template <typename Decode> double BestThroughput(size_t size, double minSeconds, Decode decode) {
    double best = 1e30;
    double total = 0;
    for (int runs = 0; runs < 3 || total < minSeconds; ++runs) {
        Clock::time_point t0 = Clock::now();
        decode();
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        total += s;
        if (s < best) {
            best = s;
        }
    }
    return static_cast<double>(size) / 1e6 / best;
}

Bytes ZlibCompress(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 6) != Z_OK) {
        std::fprintf(stderr, "sq_bench: zlib compress2 failed\n");
        std::exit(kBenchInputError);
    }
    out.resize(size);
    return out;
}

bool ZlibDecompress(const Bytes& stream, Bytes* out) {
    uLongf size = static_cast<uLongf>(out->size());
    return uncompress(out->data(), &size, stream.data(), static_cast<uLong>(stream.size())) ==
               Z_OK &&
           size == out->size();
}

FileResult MeasureFile(const std::string& name, const Bytes& data, const BenchOptions& options) {
    const double minSeconds = options.minSeconds;
    FileResult r;
    r.name = name;
    r.size = data.size();
    r.literalMode = options.literalMode == IMPLODE_LITERAL_AUTO
                        ? ChooseLiteralMode(data.data(), data.size())
                        : options.literalMode;
    Bytes streams[3];
    for (int level = IMPLODE_LEVEL_FAST; level <= IMPLODE_LEVEL_BEST; ++level) {
        ImplodeOptions o;
        o.level = level;
        o.literalMode = r.literalMode;
        o.dictBits = options.dictBits;
        Implode(data.data(), data.size(), o, &streams[level - 1]);
        r.implodeSize[level - 1] = streams[level - 1].size();
    }
    const Bytes& stream = streams[IMPLODE_LEVEL_BEST - 1];
    Bytes zstream = ZlibCompress(data);
    r.zlibSize = zstream.size();

    auto work = std::make_unique<ExplodeWorkArea>();
    Bytes out;
    out.reserve(data.size() + EXPLODE_HISTORY_SIZE);
    if (ExplodeBuffer(stream.data(), stream.size(), ExplodePieces(), work.get(), &out).result !=
            EXPLODE_OK ||
        out != data) {
        Mismatch(name, "explode");
    }
    Bytes zout(data.size());
    if (!ZlibDecompress(zstream, &zout) || zout != data) {
        Mismatch(name, "inflate");
    }
    r.explodeMBs = BestThroughput(data.size(), minSeconds, [&] {
        ExplodeBuffer(stream.data(), stream.size(), ExplodePieces(), work.get(), &out);
    });
    r.inflateMBs = BestThroughput(data.size(), minSeconds, [&] { ZlibDecompress(zstream, &zout); });
    return r;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PrintHeader() {
    std::printf("%-20s %10s %5s %10s %10s %10s %10s | %9s %9s %7s\n", "file", "bytes", "lit",
                "implode-1", "implode-2", "implode-3", "zlib-6", "explode", "inflate", "ratio");
    std::printf("%-20s %10s %5s %10s %10s %10s %10s | %9s %9s %7s\n", "", "", "", "bytes", "bytes",
                "bytes", "bytes", "MB/s", "MB/s", "exp/inf");
}

void PrintRow(const FileResult& r) {
    std::printf("%-20.20s %10zu %5s %10zu %10zu %10zu %10zu | %9.1f %9.1f %7.2f\n",
                BaseName(r.name).c_str(), r.size, r.literalMode ? "ascii" : "bin", r.implodeSize[0],
                r.implodeSize[1], r.implodeSize[2], r.zlibSize, r.explodeMBs, r.inflateMBs,
                r.explodeMBs / r.inflateMBs);
}

} // namespace

int main(int argc, char** argv) {
    BenchOptions options;
    bool parsed = ParseArgs(argc, argv, &options);
    if (parsed && options.help) {
        PrintUsage(stdout);
        return kBenchOk;
    }
    if (!parsed) {
        PrintUsage(stderr);
        return kBenchUsage;
    }
    PrintHeader();
    for (const std::string& file : options.files) {
        Bytes data;
        if (!ReadFile(file, &data)) {
            std::fprintf(stderr, "sq_bench: cannot read %s\n", file.c_str());
            return kBenchInputError;
        }
        PrintRow(MeasureFile(file, data, options));
        std::fflush(stdout);
    }
    std::printf("implode sizes use the literal mode shown and a %u-byte window. explode decodes "
                "the implode-3\nstream in 2048-byte reads and 4096-byte writes; inflate decodes "
                "the zlib-6 stream in one\ncall. Best of >= 3 runs over at least %.2f s each.\n",
                64u << options.dictBits, options.minSeconds);
    return kBenchOk;
}
