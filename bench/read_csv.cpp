// Times the reading of a CSV file alone, every column loaded and coded as
// the program codes them (texts as categories, numbers as values), with a
// given number of scanning threads: wall and processor seconds, the median
// of several readings, and the rate in MB/s. The first reading is told on
// its own: like the program's one reading it takes the process's memory
// fresh from the kernel (page faults, zeroed pages), which the readings
// after find freed and kept by the allocator.
//   read_csv FILE [THREADS [RUNS]]   (THREADS 0: the processors available)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/base/HostError.h"
#include "host/input/CsvReader.h"

namespace {

double ProcessorSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

long PageFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt + u.ru_majflt;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: read_csv FILE [THREADS [RUNS]]\n");
        return 2;
    }
    mchost::ReadOptions options;
    if (argc > 2 && std::atoi(argv[2]) > 0)
        options.fThreads = static_cast<unsigned>(std::atoi(argv[2]));
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    std::vector<double> wall, cpu;
    std::size_t bytes = 0, records = 0;
    double firstWall = 0.0, firstCpu = 0.0;
    long firstFaults = 0;
    try {
        for (int r = 0; r <= runs; ++r) {
            const double cpu0 = ProcessorSeconds();
            const long faults0 = PageFaults();
            const auto t0 = std::chrono::steady_clock::now();
            const mchost::CodedData d = mchost::CsvReader::ReadFile(argv[1], nullptr, options);
            const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
            records = d.fNRecords;
            if (r == 0) {
                firstWall = t.count();
                firstCpu = ProcessorSeconds() - cpu0;
                firstFaults = PageFaults() - faults0;
                continue;
            }
            wall.push_back(t.count());
            cpu.push_back(ProcessorSeconds() - cpu0);
        }
        std::FILE* f = std::fopen(argv[1], "rb");
        if (f != nullptr) {
            std::fseek(f, 0, SEEK_END);
            bytes = static_cast<std::size_t>(std::ftell(f));
            std::fclose(f);
        }
    } catch (const mchost::HostError& e) {
        std::fprintf(stderr, "read_csv: %s\n", e.what());
        return 1;
    }
    const double w = Median(wall);
    std::printf(
        "%zu records, %u threads: wall %.4f s (%.0f MB/s), processor %.4f s  [median of %d]\n",
        records, options.fThreads, w, static_cast<double>(bytes) / 1e6 / w, Median(cpu), runs);
    std::printf("  the first reading: wall %.4f s (%.0f MB/s), processor %.4f s, %ld page faults\n",
                firstWall, static_cast<double>(bytes) / 1e6 / firstWall, firstCpu, firstFaults);
    return 0;
}
