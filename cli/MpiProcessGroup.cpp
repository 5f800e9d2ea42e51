// The processes of an MPI launch. Every merge is a reduction to process 0
// followed by a broadcast, so that all processes hold the very same bits;
// sums are added in process order, double-double sums in double-double.
#include <mpi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "cli/ProcessGroup.h"
#include "companion/DoubleDouble.h"

namespace mcregcli {

namespace {

using mchost::Processes;

bool LaunchedByMpirun() {
    for (const char* v : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_SIZE"})
        if (std::getenv(v) != nullptr) return true;
    return false;
}

// MPI hands a user operation the lower processes' values in `in`.
extern "C" void SumInOrder(void* in, void* inout, int* len, MPI_Datatype*) {
    const double* a = static_cast<const double*>(in);
    double* b = static_cast<double*>(inout);
    for (int i = 0; i < *len; ++i) b[i] = a[i] + b[i];
}

// Elements are (high, low) pairs, one element of a two-double type, so
// that MPI never splits a pair.
extern "C" void SumPairsInOrder(void* in, void* inout, int* len, MPI_Datatype*) {
    using MCMath_850::DoubleDouble::DD;
    const double* a = static_cast<const double*>(in);
    double* b = static_cast<double*>(inout);
    for (int i = 0; i < *len; ++i) {
        const DD s =
            MCMath_850::DoubleDouble::Add(DD{a[2 * i], a[2 * i + 1]}, DD{b[2 * i], b[2 * i + 1]});
        b[2 * i] = s.hi;
        b[2 * i + 1] = s.lo;
    }
}

// The library's merges, and the collective calls the host's merges share.
class MpiReducer : public MCCommon_850::PassReducer {
public:
    MpiReducer() {
        MPI_Comm_rank(MPI_COMM_WORLD, &fRank);
        MPI_Comm_size(MPI_COMM_WORLD, &fSize);
        MPI_Op_create(&SumInOrder, 0, &fSum);
        MPI_Op_create(&SumPairsInOrder, 0, &fSumPairs);
        MPI_Type_contiguous(2, MPI_DOUBLE, &fPair);
        MPI_Type_commit(&fPair);
        fbStats = std::getenv("MCREG_MPI_STATS") != nullptr;
    }
    ~MpiReducer() override {
        if (fbStats && fRank == 0)
            std::fprintf(stderr,
                         "mcreg: %d processes; process 0 took part in %ld merges of %lld bytes\n",
                         fSize, fMerges, fBytes);
        MPI_Type_free(&fPair);
        MPI_Op_free(&fSumPairs);
        MPI_Op_free(&fSum);
    }

    int Rank() const { return fRank; }
    int Size() const { return fSize; }

    bool Sum(std::vector<double>& values) override {
        return ReduceAndShare(values.data(), static_cast<int>(values.size()), MPI_DOUBLE, fSum,
                              values.size() * sizeof(double));
    }
    bool SumExtended(std::vector<double>& pairs) override {
        return ReduceAndShare(pairs.data(), static_cast<int>(pairs.size() / 2), fPair, fSumPairs,
                              pairs.size() * sizeof(double));
    }
    bool Min(std::vector<double>& values) override { return AllReduce(values, MPI_MIN); }
    bool Max(std::vector<double>& values) override { return AllReduce(values, MPI_MAX); }
    bool Gather(const std::vector<int>& mine, std::vector<std::vector<int>>& all) override {
        std::vector<int> counts, flat;
        if (!GatherV(mine.data(), static_cast<int>(mine.size()), MPI_INT, sizeof(int), counts,
                     flat))
            return false;
        all.assign(static_cast<std::size_t>(fSize), {});
        std::size_t at = 0;
        for (std::size_t r = 0; r < all.size(); ++r) {
            all[r].assign(flat.begin() + static_cast<std::ptrdiff_t>(at),
                          flat.begin() + static_cast<std::ptrdiff_t>(at + Count(counts[r])));
            at += Count(counts[r]);
        }
        return true;
    }

    std::vector<std::vector<std::string>> GatherTexts(const std::vector<std::string>& mine) {
        std::vector<char> bytes;
        for (const std::string& s : mine) {
            const std::uint64_t n = s.size();
            bytes.insert(bytes.end(), reinterpret_cast<const char*>(&n),
                         reinterpret_cast<const char*>(&n) + sizeof n);
            bytes.insert(bytes.end(), s.begin(), s.end());
        }
        std::vector<int> counts;
        std::vector<char> flat;
        GatherV(bytes.data(), static_cast<int>(bytes.size()), MPI_CHAR, 1, counts, flat);
        std::vector<std::vector<std::string>> all(static_cast<std::size_t>(fSize));
        std::size_t at = 0;
        for (std::size_t r = 0; r < all.size(); ++r) {
            const std::size_t end = at + Count(counts[r]);
            while (at < end) {
                std::uint64_t n = 0;
                std::memcpy(&n, flat.data() + at, sizeof n);
                at += sizeof n;
                all[r].emplace_back(flat.data() + at, n);
                at += n;
            }
        }
        return all;
    }

    // Point to point to process 0, a piece a message and an empty one at
    // the end: process 0 takes each process's pieces in turn.
    void InOrder(const std::function<bool(std::string&)>& next,
                 const std::function<void(const std::string&)>& write) {
        constexpr int kTag = 41;
        std::string piece;
        if (fRank != 0) {
            while (next(piece)) {
                if (piece.empty()) continue;
                Tally(piece.size());
                MPI_Send(piece.data(), static_cast<int>(piece.size()), MPI_CHAR, 0, kTag,
                         MPI_COMM_WORLD);
            }
            MPI_Send(nullptr, 0, MPI_CHAR, 0, kTag, MPI_COMM_WORLD);
            return;
        }
        while (next(piece)) write(piece);
        for (int r = 1; r < fSize; ++r)
            for (;;) {
                MPI_Status status;
                MPI_Probe(r, kTag, MPI_COMM_WORLD, &status);
                int n = 0;
                MPI_Get_count(&status, MPI_CHAR, &n);
                piece.resize(Count(n));
                MPI_Recv(piece.data(), n, MPI_CHAR, r, kTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
                if (n == 0) break;
                write(piece);
            }
    }

    Processes::Failure FirstFailure(const Processes::Failure& mine) {
        int failed = mine.kind != 0 ? fRank : fSize;
        MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
        if (failed == fSize) return {};
        Processes::Failure first = mine;
        long head[4] = {first.kind, first.pos, first.len, static_cast<long>(first.message.size())};
        MPI_Bcast(head, 4, MPI_LONG, failed, MPI_COMM_WORLD);
        first.message.resize(static_cast<std::size_t>(head[3]));
        MPI_Bcast(first.message.data(), static_cast<int>(head[3]), MPI_CHAR, failed,
                  MPI_COMM_WORLD);
        first.kind = static_cast<int>(head[0]);
        first.pos = head[1];
        first.len = head[2];
        first.rank = failed;
        return first;
    }

private:
    static std::size_t Count(int n) { return static_cast<std::size_t>(n); }

    bool ReduceAndShare(void* data, int count, MPI_Datatype type, MPI_Op op, std::size_t bytes) {
        Tally(bytes);
        const int rc0 = MPI_Reduce(fRank == 0 ? MPI_IN_PLACE : data, fRank == 0 ? data : nullptr,
                                   count, type, op, 0, MPI_COMM_WORLD);
        // Reduce leaves the send buffer of the other processes untouched:
        // they receive the result in it.
        const int rc1 = MPI_Bcast(data, count, type, 0, MPI_COMM_WORLD);
        return rc0 == MPI_SUCCESS && rc1 == MPI_SUCCESS;
    }
    bool AllReduce(std::vector<double>& values, MPI_Op op) {
        Tally(values.size() * sizeof(double));
        return MPI_Allreduce(MPI_IN_PLACE, values.data(), static_cast<int>(values.size()),
                             MPI_DOUBLE, op, MPI_COMM_WORLD) == MPI_SUCCESS;
    }
    template <class T>
    bool GatherV(const T* mine, int n, MPI_Datatype type, std::size_t size,
                 std::vector<int>& counts, std::vector<T>& flat) {
        Tally(Count(n) * size);
        counts.assign(Count(fSize), 0);
        if (MPI_Allgather(&n, 1, MPI_INT, counts.data(), 1, MPI_INT, MPI_COMM_WORLD) != MPI_SUCCESS)
            return false;
        std::vector<int> displs(Count(fSize), 0);
        long total = 0;
        for (std::size_t r = 0; r < counts.size(); ++r) {
            displs[r] = static_cast<int>(total);
            total += counts[r];
        }
        flat.assign(static_cast<std::size_t>(total), T{});
        return MPI_Allgatherv(mine, n, type, flat.data(), counts.data(), displs.data(), type,
                              MPI_COMM_WORLD) == MPI_SUCCESS;
    }
    void Tally(std::size_t bytes) {
        ++fMerges;
        fBytes += static_cast<long long>(bytes);
    }

    int fRank = 0;
    int fSize = 1;
    MPI_Op fSum{}, fSumPairs{};
    MPI_Datatype fPair{};
    bool fbStats = false;
    long fMerges = 0;
    long long fBytes = 0;
};

class MpiGroup : public Processes {
public:
    ~MpiGroup() override {
        fpReducer.reset();
        MPI_Finalize();
    }
    int Rank() const override { return fpReducer->Rank(); }
    int Size() const override { return fpReducer->Size(); }
    MCCommon_850::PassReducer* Reducer() override { return fpReducer.get(); }
    std::vector<std::vector<std::string>> GatherTexts(
        const std::vector<std::string>& mine) override {
        return fpReducer->GatherTexts(mine);
    }
    void Sum(std::vector<double>& values) override { fpReducer->Sum(values); }
    void InOrder(const std::function<bool(std::string&)>& next,
                 const std::function<void(const std::string&)>& write) override {
        fpReducer->InOrder(next, write);
    }

protected:
    Failure FirstFailure(const Failure& mine) override { return fpReducer->FirstFailure(mine); }

private:
    std::unique_ptr<MpiReducer> fpReducer = std::make_unique<MpiReducer>();
};

}  // namespace

std::unique_ptr<Processes> MakeProcessGroup(int& argc, char**& argv) {
    if (!LaunchedByMpirun()) return std::make_unique<Processes>();
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    return std::make_unique<MpiGroup>();
}

void AbortGroup(Processes& group, int code) {
    if (dynamic_cast<MpiGroup*>(&group) != nullptr) MPI_Abort(MPI_COMM_WORLD, code);
}

}  // namespace mcregcli
