#pragma once
// Compares a JSON document with its reference: numbers by the rule of
// support/numeric.h, texts, flags and nulls exactly (a null in the
// reference is a statistic that must not be computed), arrays element by
// element, objects member by member.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/numeric.h"

namespace support {

using nlohmann::json;

// The tolerance of numbers: tol relative to max(|want|, scale).
struct Tolerance {
    double tol;
    double scale;
};

// Whether got's objects must have exactly the reference's members or may
// have more (a reference that lists only what it checks).
enum class Members { kSame, kWantedOnly };

// The names of an object's members, sorted.
inline std::vector<std::string> Keys(const json& o) {
    std::vector<std::string> k;
    for (auto it = o.begin(); it != o.end(); ++it) k.push_back(it.key());
    return k;
}

// One value that is a number or null in the reference.
inline void ExpectJsonNumber(const json& got, const json& want, Tolerance t,
                             const std::string& what) {
    if (want.is_null()) {
        EXPECT_TRUE(got.is_null()) << what << ": " << got;
        return;
    }
    ASSERT_TRUE(want.is_number()) << what << ": the reference is no number: " << want;
    ASSERT_TRUE(got.is_number()) << what << ": " << got;
    EXPECT_TRUE(Near(got.get<double>(), want.get<double>(), t.tol, t.scale)) << what;
}

inline void ExpectJsonNear(const json& got, const json& want, Tolerance t, const std::string& path,
                           Members members = Members::kSame) {
    if (want.is_object()) {
        ASSERT_TRUE(got.is_object()) << path << ": " << got;
        if (members == Members::kSame) {
            EXPECT_EQ(Keys(got), Keys(want)) << path;
        }
        for (auto it = want.begin(); it != want.end(); ++it) {
            EXPECT_TRUE(got.contains(it.key())) << path << "." << it.key();
            if (got.contains(it.key())) {
                ExpectJsonNear(got[it.key()], it.value(), t, path + "." + it.key(), members);
            }
        }
    } else if (want.is_array()) {
        ASSERT_TRUE(got.is_array()) << path << ": " << got;
        ASSERT_EQ(got.size(), want.size()) << path;
        for (std::size_t i = 0; i < want.size(); ++i)
            ExpectJsonNear(got[i], want[i], t, path + "[" + std::to_string(i) + "]", members);
    } else if (want.is_number() || want.is_null()) {
        ExpectJsonNumber(got, want, t, path);
    } else {
        EXPECT_EQ(got, want) << path;
    }
}

}  // namespace support
