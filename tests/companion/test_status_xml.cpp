#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "companion/MCDisplay.h"
#include "companion/MCMV.h"
#include "companion/MCMemoryRecordIter.h"
#include "companion/MCPackedInt.h"
#include "companion/MCStatus.h"
#include "companion/MCXMLElement.h"

using MCCommon_850::MCStatus;
using MCXML_850::XMLElement;

TEST(StatusMessages, DataAreFilledInAndEveryCodeHasText) {
    MCStatus s316(316, false);
    s316.SetDiscreteDatum(1, 7);
    s316.SetScaleDatum(1, 2.5);
    const std::string m = s316.GetMessage();
    EXPECT_EQ(m.rfind("Error 316: ", 0), 0u) << m;
    EXPECT_NE(m.find("Record position 7 holds the value 2.5"), std::string::npos) << m;

    // Without its data a code still gives a complete sentence.
    const std::string bare = MCStatus(316, false).GetMessage();
    EXPECT_EQ(bare.find('%'), std::string::npos) << bare;
    EXPECT_NE(bare.find("category code"), std::string::npos) << bare;

    MCStatus s305(305, false);
    s305.SetDiscreteDatum(0, 50000);
    s305.SetDiscreteDatum(1, 46339);
    EXPECT_NE(s305.GetMessage().find("needs 50000, the limit is 46339"), std::string::npos);

    MCStatus s322(322, false);
    s322.SetDiscreteDatum(1, 4);
    s322.SetDiscreteDatum(2, 6);
    EXPECT_NE(s322.GetMessage().find("4 columns but the model has 6 parameters"),
              std::string::npos);

    EXPECT_EQ(MCStatus(319, true).GetMessage().rfind("Warning 319: ", 0), 0u);
    EXPECT_EQ(MCStatus().GetMessage(), "OK");

    MCStatus unknown(999, false);
    unknown.SetDiscreteDatum(1, 3);
    EXPECT_EQ(unknown.GetMessage(), "Error 999: Unrecognized status code. d1=3");

    const long codes[] = {1,   301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311,
                          312, 313, 314, 315, 316, 318, 319, 320, 321, 322, 323, 324,
                          325, 326, 327, 328, 329, 330, 331, 332, 335, 336, 337, 338,
                          339, 340, 341, 342, 343, 344, 345, 346, 347};
    std::set<std::string> texts;
    for (long c : codes) {
        const std::string t = MCStatus(c, false).GetMessage();
        EXPECT_EQ(t.find("Unrecognized"), std::string::npos) << c;
        EXPECT_EQ(t.find('%'), std::string::npos) << c;
        texts.insert(t);
    }
    EXPECT_EQ(texts.size(), sizeof codes / sizeof codes[0]);  // no two codes share a text
}

TEST(Display, LinesAndNumbers) {
    std::ostringstream out;
    MCDisplay_850::SetDisplayStream(&out);
    MCDisplay_850::DisplayD("x", 0.1 + 0.2);
    MCDisplay_850::DisplayD("m", MCCommon_850::MCMV::Missing());
    MCDisplay_850::DisplayDF("f", 2.0 / 3.0, 3);
    MCDisplay_850::DisplayIV("v", {1, -2});
    MCDisplay_850::DisplayB("b", true);
    MCDisplay_850::SetDisplayStream(nullptr);
    EXPECT_EQ(out.str(),
              "x = 0.30000000000000004\nm = SYSMIS\nf = 0.667\nv = [2] 1 -2\nb = true\n");
    EXPECT_EQ(MCDisplay_850::GetDisplayStream(), &std::cout);
}

TEST(XMLElement, EscapingNumbersAndTree) {
    std::unique_ptr<XMLElement> root(XMLElement::Create("Root"));
    root->AddAttribute("name", std::string("a<b&c>\"d"));
    root->AddAttribute("isIntercept", "true");
    root->AddAttribute("df", 2.0);
    root->AddAttribute("pValue", 0.25, true);
    root->AddAttribute("df", 3.0);  // replaces in place, keeps the order
    XMLElement* child = XMLElement::Create("Child");
    child->SetText("x < 1 & y > 2");
    ASSERT_TRUE(root->AddChild(child));
    EXPECT_EQ(root->ToString(false),
              "<Root name=\"a&lt;b&amp;c>&quot;d\" isIntercept=\"true\" df=\"3\" "
              "pValue=\"2.5e-01\"><Child>x &lt; 1 &amp; y &gt; 2</Child></Root>");

    // Ownership: no node gets two owners and no cycle can be made.
    XMLElement* grand = XMLElement::Create("Grand");
    EXPECT_TRUE(child->AddChild(grand));
    EXPECT_FALSE(root->AddChild(grand));        // already owned
    EXPECT_FALSE(grand->AddChild(root.get()));  // would make a cycle
    EXPECT_FALSE(grand->AddChild(grand));
    EXPECT_FALSE(root->AddChild(nullptr));
    EXPECT_TRUE(root->AddChild(std::unique_ptr<XMLElement>(XMLElement::Create("Second"))));
    EXPECT_EQ(root->GetNChildren(), 2);
    EXPECT_EQ(root->FindChild("Child")->FindChild("Grand"), grand);
    EXPECT_EQ(root->GetChild(2), nullptr);
    EXPECT_EQ(*root->FindAttribute("df"), "3");

    // Every finite double reads back exactly from its attribute text.
    const double values[] = {0.1,    1.0 / 3.0, -2.0 / 7.0,    1e-300,
                             5e-324, DBL_MAX,   123456789.125, 6.02214076e23};
    for (double v : values) {
        for (bool alt : {false, true}) {
            const std::string t = XMLElement::FormatNumber(v, alt);
            EXPECT_EQ(std::strtod(t.c_str(), nullptr), v) << t;
        }
    }
    EXPECT_EQ(XMLElement::FormatNumber(2.0), "2");
    EXPECT_EQ(XMLElement::FormatNumber(MCCommon_850::MCMV::Missing()), "NaN");
    EXPECT_EQ(XMLElement::FormatNumber(-HUGE_VAL), "-INF");
}

TEST(PackedInt, RoundTripAndDistinctKeys) {
    MCMath_850::MCPackedInt p;
    // 46340^2 < 2^31 <= 46341^2: the first pair shares a word, the second not.
    ASSERT_TRUE(p.SetBounds({46340, 46340, 46341, 46341, 1, 3}));
    EXPECT_EQ(p.GetNPacked(), 3);
    std::vector<int> packed, back;
    const std::vector<int> v = {46339, 17, 46340, 0, 0, 2};
    ASSERT_TRUE(p.Pack(v, packed));
    for (int w : packed) EXPECT_GE(w, 0);
    ASSERT_TRUE(p.Unpack(packed, back));
    EXPECT_EQ(back, v);
    EXPECT_FALSE(p.Pack({46340, 0, 0, 0, 0, 0}, packed));  // value at its bound
    EXPECT_FALSE(p.Pack({1, 2}, packed));                  // wrong count
    EXPECT_FALSE(p.SetBounds({3, 0}));

    // All 2*3*4 sequences give different keys.
    ASSERT_TRUE(p.SetBounds({2, 3, 4}));
    std::set<std::vector<int>> keys;
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 3; ++b)
            for (int c = 0; c < 4; ++c) {
                ASSERT_TRUE(p.Pack({a, b, c}, packed));
                keys.insert(packed);
                ASSERT_TRUE(p.Unpack(packed, back));
                EXPECT_EQ(back, (std::vector<int>{a, b, c}));
            }
    EXPECT_EQ(keys.size(), 24u);
}

TEST(MemoryRecordIter, PassesAndEmptySet) {
    MCCommon_850::MCMemoryRecordIter empty;
    EXPECT_EQ(empty.NewPass(), 1);
    EXPECT_FALSE(empty.HasMore());
    EXPECT_EQ(empty.Next(), nullptr);

    MCCommon_850::MCMemoryRecordIter it(
        {MCCommon_850::Record{1.0, 2.0}, MCCommon_850::Record{3.0, 4.0}});
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(it.NewPass(), 0);
        MCCommon_850::Record* r = it.Next();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ((*r)[0], 1.0);
        (*r)[0] = 99.0;  // must not reach the stored data
        EXPECT_EQ(it.GetFailReason(), 0);
        r = it.Next();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ((*r)[1], 4.0);
        EXPECT_EQ(it.GetFailReason(), 1);  // set by the call returning the last record
        EXPECT_EQ(it.Next(), nullptr);
    }
}
