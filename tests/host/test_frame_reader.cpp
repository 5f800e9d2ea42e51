// A data frame's columns give the records a CSV of the same cells gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "host/base/HostError.h"
#include "host/base/NumberText.h"
#include "host/coded_dump.h"
#include "host/input/CsvReader.h"
#include "host/input/FrameReader.h"
#include "support/host_fixtures.h"

namespace {

using mchost::CodedData;
using mchost::ColumnPlan;
using mchost::FrameColumn;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// y numeric, g text with missing cells, k a numeric factor of int64
// cells from kBase on, w a weight; rows enough for several blocks.
struct Table {
    std::vector<double> y, w;
    std::vector<std::int64_t> k;
    std::vector<std::int32_t> g;
    std::vector<std::string> labels{"b", "a", "c"};
    std::string csv = "y,g,k,w\n";

    explicit Table(std::size_t n, std::int64_t kBase = 10) {
        for (std::size_t i = 0; i < n; ++i) {
            const double yi = i % 13 == 0 ? kNaN : 0.25 * static_cast<double>(i % 101);
            const std::int32_t gi = i % 17 == 0 ? -1 : static_cast<std::int32_t>((i * 7) % 3);
            const auto ki = static_cast<std::int64_t>((i * 5) % 4) + kBase;
            const double wi = i % 19 == 0 ? -1.0 : 1.0 + static_cast<double>(i % 3);
            y.push_back(yi);
            g.push_back(gi);
            k.push_back(ki);
            w.push_back(wi);
            csv += (std::isnan(yi) ? "" : mchost::NumberText(yi)) + "," +
                   (gi < 0 ? "NA" : labels[static_cast<std::size_t>(gi)]) + "," +
                   std::to_string(ki) + "," + mchost::NumberText(wi) + "\n";
        }
    }

    std::vector<FrameColumn> Columns(bool declared) const {
        std::vector<FrameColumn> c(4);
        c[0].fName = "y";
        c[0].fpNumbers = y.data();
        c[1].fName = "g";
        c[1].fKind = FrameColumn::kCodes;
        c[1].fpCodes = g.data();
        c[1].fvLabels = labels;
        c[1].fbDeclaredOrder = declared;
        c[2].fName = "k";
        c[2].fpIntegers = k.data();
        c[2].fStride = sizeof(std::int64_t);
        c[3].fName = "w";
        c[3].fpNumbers = w.data();
        return c;
    }
};

std::vector<ColumnPlan> Plan(const std::vector<std::string>& header) {
    std::vector<ColumnPlan> plan(header.size());
    for (ColumnPlan& p : plan) p.fbLoad = true;
    plan[2].fbCategorical = true;
    plan[3].fbWeight = true;
    return plan;
}

TEST(FrameReader, GivesTheRecordsAndCategoriesOfTheSameCsv) {
    const Table t(150000);
    for (const std::size_t limit : {std::size_t(1) << 30, std::size_t(0)}) {
        mchost::ReadOptions options;
        options.fMemoryLimit = limit;
        const CodedData csv = mchost::CsvReader::ReadString(t.csv, Plan, options);
        const CodedData frame =
            mchost::FrameReader::Read(t.Columns(false), t.y.size(), Plan, options);
        // The columns are in memory already: the records are never copied.
        EXPECT_FALSE(frame.IsStreaming());
        EXPECT_TRUE(frame.fpStore->IsBorrowed());
        EXPECT_EQ(mchost_test::Dump(frame), mchost_test::Dump(csv));
        for (std::size_t j = 0; j < csv.fvColumns.size(); ++j) {
            const auto a = mchost::SortedCategories(frame.fvColumns[j]);
            const auto b = mchost::SortedCategories(csv.fvColumns[j]);
            EXPECT_EQ(a.fvLabels, b.fvLabels) << j;
            EXPECT_EQ(frame.fvColumns[j].fNNegative, csv.fvColumns[j].fNNegative);
        }
        EXPECT_EQ(mchost::SortedCategories(frame.fvColumns[1]).fvLabels,
                  (std::vector<std::string>{"a", "b", "c"}));
    }
    // Identifiers of 18 digits, which one double would merge, are the
    // texts of their digits in both.
    const Table ids(1000, 123456789012345670);
    const CodedData csv = mchost::CsvReader::ReadString(ids.csv, Plan);
    const CodedData frame =
        mchost::FrameReader::Read(ids.Columns(false), ids.y.size(), Plan, mchost::ReadOptions());
    EXPECT_EQ(mchost_test::Dump(frame), mchost_test::Dump(csv));
    EXPECT_EQ(mchost::SortedCategories(frame.fvColumns[2]).fvLabels,
              (std::vector<std::string>{"123456789012345670", "123456789012345671",
                                        "123456789012345672", "123456789012345673"}));
}

TEST(FrameReader, KeepsADeclaredOrderAndRefusesInfinity) {
    Table t(50);
    const CodedData frame =
        mchost::FrameReader::Read(t.Columns(true), t.y.size(), Plan, mchost::ReadOptions());
    EXPECT_EQ(mchost::SortedCategories(frame.fvColumns[1]).fvLabels, t.labels);
    t.y[7] = std::numeric_limits<double>::infinity();
    const mchost_test::Thrown e = mchost_test::ThrownBy([&] {
        mchost::FrameReader::Read(t.Columns(false), t.y.size(), Plan, mchost::ReadOptions());
    });
    EXPECT_EQ(e.kind, mchost::HostError::kData);
    EXPECT_EQ(e.message, "data frame, data row 8: column 'y' is inf; a value must be finite");
}

TEST(FrameReader, ReadsTheColumnsAgainOnEveryPassAndTellsAChange) {
    Table t(70000);
    // k read as the text a CSV holds for it, coded once for every row.
    const auto textPlan = [](const std::vector<std::string>& header) {
        std::vector<ColumnPlan> plan = Plan(header);
        plan[2].fbCategorical = false;
        plan[2].fbText = true;
        return plan;
    };
    const CodedData csv = mchost::CsvReader::ReadString(t.csv, textPlan, mchost::ReadOptions());
    const std::vector<FrameColumn> columns = t.Columns(false);
    const CodedData frame =
        mchost::FrameReader::Read(columns, t.y.size(), textPlan, mchost::ReadOptions());
    const std::string once = mchost_test::Dump(frame);
    EXPECT_EQ(once, mchost_test::Dump(csv));
    EXPECT_EQ(mchost_test::Dump(frame), once);
    const mchost::RecordStore& store = *frame.fpStore;
    EXPECT_TRUE(store.Unchanged());
    // A changed cell of each kind of column is seen, and its restoring too.
    const double y = t.y[65537];
    t.y[65537] = y + 1e-12;
    EXPECT_FALSE(store.Unchanged());
    t.y[65537] = y;
    EXPECT_TRUE(store.Unchanged());
    t.g[3] = -1;
    EXPECT_FALSE(store.Unchanged());
    t.g[3] = 0;
    t.k[5] = -t.k[5];
    EXPECT_FALSE(store.Unchanged());
}

}  // namespace
