// Import of a 30-minute two-signal WFDB record in format 212 at 360 samples/s
// (648 000 frames, 1.9 MB of signal data): open and read both signals whole
// as millivolts, with the files in the page cache. Prints the best and the
// median time of the runs and the rate in MB of signal file per second.
// usage: bench_records [--runs N]
#include "hsim_records.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    int runs = 20;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));
    constexpr int64_t kFrames = 30 * 60 * 360;
    char templ[] = "/tmp/hsim-bench-records-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = templ;
    {
        std::ofstream(dir / "long.hea") << "long 2 360 " << kFrames << "\n"
                                        << "long.dat 212 200 11 1024 0 0 0 MLII\n"
                                        << "long.dat 212 200 11 1024 0 0 0 V5\n";
        std::string bytes;
        bytes.reserve(kFrames * 3);
        for (int64_t i = 0; i < kFrames; ++i) {
            const int a = (1024 + static_cast<int>(300 * std::sin(i * 0.01))) & 0xFFF;
            const int b = (1024 + static_cast<int>(200 * std::cos(i * 0.013))) & 0xFFF;
            bytes += static_cast<char>(a & 0xFF);
            bytes += static_cast<char>((a >> 8) | (b >> 8) << 4);
            bytes += static_cast<char>(b & 0xFF);
        }
        std::ofstream(dir / "long.dat", std::ios::binary) << bytes;
    }
    const double megabytes = static_cast<double>(std::filesystem::file_size(dir / "long.dat")) / 1e6;
    const std::string path = (dir / "long.hea").string();
    std::vector<double> a(kFrames), b(kFrames), seconds;
    double check = 0.0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        HSIMRecord* r = nullptr;
        if (HSIMRecordOpen(path.c_str(), HSIM_RECORD_AUTO, &r) != HSIM_RECORD_OK) {
            std::fprintf(stderr, "open: %s\n", HSIMRecordLastError());
            return 1;
        }
        if (HSIMRecordReadMv(r, 0, 0, kFrames, a.data()) != kFrames ||
            HSIMRecordReadMv(r, 1, 0, kFrames, b.data()) != kFrames) {
            std::fprintf(stderr, "short read: %s\n", HSIMRecordLastError());
            return 1;
        }
        HSIMRecordClose(r);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        check += a[kFrames / 2] + b[kFrames - 1];
    }
    std::filesystem::remove_all(dir);
    std::sort(seconds.begin(), seconds.end());
    const double best = seconds.front(), median = seconds[seconds.size() / 2];
    std::printf("WFDB 212, 2 signals x %lld samples (30 min at 360/s), %.2f MB: best %.2f ms (%.0f MB/s), "
                "median %.2f ms (%.0f MB/s) over %d runs [check %.3f]\n",
                static_cast<long long>(kFrames), megabytes, best * 1e3, megabytes / best, median * 1e3,
                megabytes / median, runs, check);
    return 0;
}
