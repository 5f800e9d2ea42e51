// The dictionaries of category texts: codes in order of first appearance,
// whatever the length of a text and however alike two texts are.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/input/CellChunk.h"

TEST(TextDict, CodesInOrderOfFirstAppearanceForShortAndLongTexts) {
    // Texts of 0 to 12 bytes over a small alphabet with a zero byte, so
    // that many share their first and last bytes and differ only inside:
    // the codes must be those a map of whole texts gives.
    std::mt19937_64 gen(11);
    const char alphabet[] = {'a', 'b', '\0', '\xff'};
    mchost::TextDict dict;
    for (int round = 0; round < 2; ++round) {
        std::map<std::string, int> want;
        for (int i = 0; i < 20000; ++i) {
            std::string t(gen() % 13, 'a');
            for (char& c : t) c = alphabet[gen() % 4];
            // The text sits in a longer buffer, as a cell does in a block.
            const std::string buffer = "xx" + t + "yy";
            const auto code = dict.Intern(buffer.data() + 2, t.size());
            const auto it = want.emplace(t, static_cast<int>(want.size())).first;
            ASSERT_EQ(code, it->second) << i;
        }
        ASSERT_EQ(dict.Size(), want.size());
        for (const auto& [text, code] : want)
            EXPECT_EQ(dict.GetTexts()[static_cast<std::size_t>(code)], text);
        dict.Clear();  // the second round starts afresh
        EXPECT_EQ(dict.Size(), 0u);
    }
}
