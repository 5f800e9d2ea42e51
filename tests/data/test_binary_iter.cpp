#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "companion/MCMV.h"
#include "data/BinaryRecordIterator.h"

using MCCommon_850::BinaryRecordIterator;
using MCCommon_850::MCMV;
using MCCommon_850::Record;

namespace {

// A temporary file holding the given doubles followed by extra raw bytes.
FILE* MakeFile(const std::vector<double>& values, std::size_t extraBytes = 0) {
    FILE* f = tmpfile();
    if (f == nullptr) return nullptr;
    if (!values.empty()) fwrite(values.data(), sizeof(double), values.size(), f);
    const unsigned char junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    if (extraBytes > 0) fwrite(junk, 1, extraBytes, f);
    fflush(f);
    rewind(f);
    return f;
}

std::vector<double> Values(const Record* r) {
    return std::vector<double>(r->GetAll(), r->GetAll() + r->Size());
}

}  // namespace

TEST(BinaryRecordIterator, ThreeRecordsInTwoPasses) {
    const double mv = MCMV::Missing();
    const std::vector<double> data = {0, 1.5, 2, 3, 10, mv, 12, 13, 20, 21, 22, -23};
    FILE* f = MakeFile(data);
    ASSERT_NE(f, nullptr);
    BinaryRecordIterator it(f, 4);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            ASSERT_EQ(it.NewPass(), 0);
        }
        for (int r = 0; r < 3; ++r) {
            ASSERT_TRUE(it.HasMore());
            const Record* rec = it.Next();
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(Values(rec),
                      std::vector<double>(data.begin() + 4 * r, data.begin() + 4 * r + 4));
            // The read-ahead knows at once that the third record is the last.
            EXPECT_EQ(it.GetFailReason(), r < 2 ? 0 : 1);
        }
        EXPECT_FALSE(it.HasMore());
        EXPECT_EQ(it.Next(), nullptr);
        EXPECT_EQ(it.GetFailReason(), 1);
    }
    fclose(f);
}

TEST(BinaryRecordIterator, PartialLastRecordIsAReadErrorAndNeverReturned) {
    // Two and a half records, and two records plus a fragment of one value.
    for (std::size_t extra : {std::size_t{0}, std::size_t{3}}) {
        std::vector<double> data = {1, 2, 3, 4, 5, 6};
        if (extra == 0) data.push_back(7);
        FILE* f = MakeFile(data, extra);
        ASSERT_NE(f, nullptr);
        BinaryRecordIterator it(f, 3);
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                EXPECT_EQ(it.NewPass(), 0);
            }
            ASSERT_NE(it.Next(), nullptr);
            const Record* second = it.Next();
            ASSERT_NE(second, nullptr);
            EXPECT_EQ(Values(second), (std::vector<double>{4, 5, 6}));
            EXPECT_EQ(it.GetFailReason(), 3);
            EXPECT_EQ(it.Next(), nullptr);
        }
        fclose(f);
    }
}

TEST(BinaryRecordIterator, EmptyFileNullFileAndNoValues) {
    FILE* f = MakeFile({});
    ASSERT_NE(f, nullptr);
    BinaryRecordIterator empty(f, 2);
    EXPECT_FALSE(empty.HasMore());
    EXPECT_EQ(empty.GetFailReason(), 1);
    EXPECT_EQ(empty.Next(), nullptr);
    EXPECT_EQ(empty.NewPass(), 1);

    // A record of no values would never reach the end of the file.
    BinaryRecordIterator none(f, 0);
    EXPECT_EQ(none.GetFailReason(), 3);
    EXPECT_EQ(none.Next(), nullptr);
    fclose(f);

    testing::internal::CaptureStdout();
    BinaryRecordIterator null(nullptr, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: file handle is NULL in BinaryRecordIterator constructor");
    EXPECT_EQ(null.GetFailReason(), 3);
    EXPECT_EQ(null.NewPass(), 3);
    EXPECT_EQ(null.Next(), nullptr);
}
