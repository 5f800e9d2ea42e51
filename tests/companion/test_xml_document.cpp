// XML documents: the work of building and writing grows linearly with the
// document, the text is the one an established writer (pugixml) gives,
// and any bytes, whatever their encoding, give well-formed XML (checked by
// xmllint) from which the documented escapes give the bytes back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "companion/MCXMLElement.h"

// Every allocation of the test program is counted, so that a test can see
// the work an operation does without timing it. (GCC, seeing the new and
// delete below inlined, takes their malloc and free for a mismatch.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<std::size_t> gAllocations{0};
std::atomic<std::size_t> gAllocatedBytes{0};
}  // namespace

void* operator new(std::size_t n) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(n, std::memory_order_relaxed);
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
// The nothrow forms too (the library's stable_sort takes its buffer with
// one), so that every delete here frees what a new here allocated.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(n, std::memory_order_relaxed);
    return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept {
    return operator new(n, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using MCXML_850::XMLElement;
using MCXML_850::XMLWriter;
using Elem = std::unique_ptr<XMLElement>;

struct Allocated {
    std::size_t fCount = gAllocations.load();
    std::size_t fBytes = gAllocatedBytes.load();
    std::size_t Count() const { return gAllocations.load() - fCount; }
    std::size_t Bytes() const { return gAllocatedBytes.load() - fBytes; }
};

// A stream that keeps nothing and counts what it is handed.
class CountingBuf : public std::streambuf {
public:
    std::size_t fBytes = 0;
    std::size_t fWrites = 0;
    std::string fTail;  // the last bytes, to look at the end

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        fBytes += static_cast<std::size_t>(n);
        ++fWrites;
        fTail.assign(s + (n > 32 ? n - 32 : 0), s + n);
        return n;
    }
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) ++fBytes;
        return c;
    }
};

// The documented reading of the escapes: U+FFFD and two hexadecimal digits
// stand for one byte.
std::string Unescape(const std::string& text) {
    const std::string mark = "\xEF\xBF\xBD";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, mark) == 0) {
            EXPECT_LE(i + 5, text.size()) << "an escape without its digits";
            out += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// xmllint's verdict on a text: empty when it is well-formed XML.
std::string XmllintErrors(const std::string& text) {
    const auto path = std::filesystem::temp_directory_path() / "mcreg_xml_document_test.xml";
    std::ofstream(path, std::ios::binary) << text;
    FILE* pipe = ::popen(("xmllint --noout '" + path.string() + "' 2>&1").c_str(), "r");
    std::string said;
    char buf[512];
    while (pipe != nullptr && std::fgets(buf, sizeof buf, pipe) != nullptr) said += buf;
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    std::filesystem::remove(path);
    if (status != 0 && said.empty()) said = "xmllint did not run (libxml2-utils)";
    return said;
}

TEST(XMLDocument, BuildingAndWritingCostWorkLinearInTheDocument) {
    const int n = 100000;
    Elem root(XMLElement::Create("Root"));
    std::size_t expected = std::string("<Root></Root>").size();
    // Appending the k-th child may allocate only what geometric growth of
    // the list needs: at most 32 bytes a child so far (8 bytes a pointer,
    // capacity at most twice the length, each size allocated once), in a
    // number of steps logarithmic in n. A list grown one place at a time
    // would copy the list on every append and fail at once.
    std::size_t appendBytes = 0, appendCount = 0;
    for (int k = 0; k < n; ++k) {
        Elem child(XMLElement::Create("C"));
        child->AddAttribute("i", static_cast<double>(k));
        expected += std::string("<C i=\"" + std::to_string(k) + "\"/>").size();
        const Allocated during;
        ASSERT_TRUE(root->AddChild(std::move(child)));
        appendBytes += during.Bytes();
        appendCount += during.Count();
        ASSERT_LE(appendBytes, 32u * static_cast<std::size_t>(k + 1) + 64) << "child " << k;
    }
    EXPECT_LE(appendCount, 20u);
    EXPECT_EQ(root->GetNChildren(), n);
    EXPECT_EQ(*root->GetChild(n - 1)->FindAttribute("i"), std::to_string(n - 1));

    // Writing hands every byte on once, in large pieces, and holds only a
    // piece: far less than the document's 1.7 MB.
    CountingBuf counted;
    std::ostream out(&counted);
    const Allocated writing;
    ASSERT_TRUE(root->Write(out));
    EXPECT_EQ(counted.fBytes, expected);
    EXPECT_LE(counted.fWrites, expected / 32768 + 1);
    EXPECT_LT(writing.Bytes(), 256u * 1024u);
    EXPECT_EQ(counted.fTail.substr(counted.fTail.size() - 7), "</Root>");
    EXPECT_EQ(root->ToString().size(), expected);

    // Nothing recurses: a chain of 100,000 nested elements (built from the
    // leaf up, so no append looks at a long line of ancestors) is written
    // and freed.
    Elem chain(XMLElement::Create("L"));
    for (int k = 1; k < n; ++k) {
        Elem up(XMLElement::Create("L"));
        ASSERT_TRUE(up->AddChild(std::move(chain)));
        chain = std::move(up);
    }
    CountingBuf deep;
    std::ostream deepOut(&deep);
    ASSERT_TRUE(chain->Write(deepOut, false));
    EXPECT_EQ(deep.fBytes, 3u * (n - 1) + 4u * (n - 1) + 4u);  // <L> ... <L/> ... </L>
    chain.reset();
}

TEST(XMLDocument, LongAttributeListsAreFoundAndReplacedInPlace) {
    Elem e(XMLElement::Create("E"));
    for (int k = 0; k < 1000; ++k) e->AddAttribute("a" + std::to_string(k), std::to_string(k));
    e->AddAttribute("a500", "replaced");
    e->AddAttribute("a3", 1.5);
    ASSERT_EQ(e->GetAttributes().size(), 1000u);
    EXPECT_EQ(e->GetAttributes()[500].first, "a500");
    EXPECT_EQ(e->GetAttributes()[500].second, "replaced");
    EXPECT_EQ(*e->FindAttribute("a3"), "1.5");
    EXPECT_EQ(*e->FindAttribute("a999"), "999");
    EXPECT_EQ(e->FindAttribute("a1000"), nullptr);
}

// The same tree built with pugixml, which the documents were once written
// with: for text that is valid UTF-8 the two must agree byte for byte.
void AddPugi(pugi::xml_node parent, const XMLElement& e) {
    pugi::xml_node node = parent.append_child(e.GetTag().c_str());
    for (const auto& a : e.GetAttributes())
        node.append_attribute(a.first.c_str()).set_value(a.second.c_str());
    if (!e.GetText().empty()) node.append_child(pugi::node_pcdata).set_value(e.GetText().c_str());
    for (int i = 0; i < e.GetNChildren(); ++i) AddPugi(node, *e.GetChild(i));
}

std::string PugiText(const XMLElement& e, bool pretty) {
    pugi::xml_document doc;
    AddPugi(doc, e);
    std::ostringstream out;
    doc.save(out, "  ",
             pugi::format_no_declaration | (pretty ? pugi::format_indent : pugi::format_raw),
             pugi::encoding_utf8);
    return out.str();
}

TEST(XMLDocument, ValidTextIsWrittenAsPugixmlWritesIt) {
    Elem root(XMLElement::Create("PMML"));
    root->AddAttribute("xmlns", "http://www.dmg.org/PMML-4_4");
    root->AddAttribute("odd", "a&b<c>d\"e'f\tg\nh\ri ~\x7F");
    root->AddAttribute("utf8", "r\xC3\xA9gion \xE4\xB8\xAD \xF0\x9F\x98\x80 \xC2\x85");
    Elem dict(XMLElement::Create("DataDictionary"));
    for (const char* v : {"a", "q\"t", "x'y", "", "\xC3\xA9t\xC3\xA9"}) {
        Elem value(XMLElement::Create("Value"));
        value->AddAttribute("value", v);
        ASSERT_TRUE(dict->AddChild(std::move(value)));
    }
    Elem array(XMLElement::Create("Array"));
    array->SetText("\"a b\" \"c&d\" <e> \t\n'f'");
    Elem mixed(XMLElement::Create("Mixed"));
    mixed->SetText("text first");
    Elem inner(XMLElement::Create("Inner"));
    ASSERT_TRUE(inner->AddChild(std::unique_ptr<XMLElement>(XMLElement::Create("Leaf"))));
    ASSERT_TRUE(mixed->AddChild(std::move(inner)));
    ASSERT_TRUE(mixed->AddChild(std::unique_ptr<XMLElement>(XMLElement::Create("After"))));
    ASSERT_TRUE(root->AddChild(std::move(dict)));
    ASSERT_TRUE(root->AddChild(std::move(array)));
    ASSERT_TRUE(root->AddChild(std::move(mixed)));
    ASSERT_TRUE(root->AddChild(std::unique_ptr<XMLElement>(XMLElement::Create("Empty"))));
    for (bool pretty : {false, true}) {
        EXPECT_EQ(root->ToString(pretty), PugiText(*root, pretty)) << pretty;
        std::ostringstream out;
        ASSERT_TRUE(root->Write(out, pretty));
        EXPECT_EQ(out.str(), PugiText(*root, pretty)) << pretty;
    }
}

TEST(XMLDocument, AnyBytesGiveWellFormedXmlThatReadsBackAndStaysDistinct) {
    using namespace std::string_literals;
    // CP1252 text differing only in the bad byte; NUL, other control
    // characters XML 1.0 forbids, and DEL; a broken and a truncated sequence,
    // an overlong NUL, a surrogate, a code beyond U+10FFFF, lone
    // continuations, U+FFFE, U+FFFF, U+FFFD itself and looking like an escape.
    // clang-format off
    std::vector<std::string> texts = {
        "r\xE9gion"s, "r\xE8gion"s, "a\0b"s, "a\001b"s, "a"s, "\x1F\x0B\x0C\x7F"s,
        "\xC3\x28"s, "\xE2\x82"s, "\xC0\x80"s, "\xED\xA0\x80"s, "\xF4\x90\x80\x80"s, "\x80\xBF"s,
        "\xEF\xBF\xBE"s, "\xEF\xBF\xBF"s, "\xEF\xBF\xBD"s, "\xEF\xBF\xBD"s + "E9",
        "tab\tcr\rlf\n"s, "\xC3\xA9 \xF0\x9F\x98\x80"s};
    // clang-format on
    for (int b = 0; b < 256; ++b) texts.push_back(std::string(1, static_cast<char>(b)));
    Elem root(XMLElement::Create("Root"));
    for (const std::string& t : texts) {
        Elem e(XMLElement::Create("T"));
        e->AddAttribute("v", t);
        e->SetText(t);
        ASSERT_TRUE(root->AddChild(std::move(e)));
    }
    const std::string text = root->ToString(false);
    EXPECT_EQ(XmllintErrors(text), "");

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(text.data(), text.size(),
                                pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_utf8));
    std::set<std::string> written;
    std::size_t k = 0;
    for (pugi::xml_node t : doc.child("Root").children("T")) {
        ASSERT_LT(k, texts.size());
        const std::string attribute = t.attribute("v").value();
        EXPECT_EQ(Unescape(attribute), texts[k]) << k;
        EXPECT_EQ(Unescape(t.text().get()), texts[k]) << k;
        written.insert(attribute);
        ++k;
    }
    EXPECT_EQ(k, texts.size());
    // Distinct texts stay distinct (the byte strings above are all
    // different but for the single bytes repeating a few of the others).
    std::set<std::string> distinct(texts.begin(), texts.end());
    EXPECT_EQ(written.size(), distinct.size());
    // What a reader sees of the examples: the replacement character and the
    // byte.
    Elem one(XMLElement::Create("V"));
    one->AddAttribute("value", "r\xE9gion");
    one->SetText("a\0b"s);
    EXPECT_EQ(one->ToString(),
              "<V value=\"r\xEF\xBF\xBD"
              "E9gion\">a\xEF\xBF\xBD"
              "00b</V>");
}

TEST(XMLDocument, WriterStreamsADocumentAroundSubtrees) {
    // The tree a document writer produces piece by piece ...
    Elem root(XMLElement::Create("PMML"));
    root->AddAttribute("version", "4.4");
    Elem model(XMLElement::Create("Model"));
    model->AddAttribute("name", "m");
    Elem list(XMLElement::Create("List"));
    for (int k = 0; k < 3; ++k) {
        Elem c(XMLElement::Create("Cell"));
        c->AddAttribute("value", static_cast<double>(k));
        ASSERT_TRUE(list->AddChild(std::move(c)));
    }
    Elem noted(XMLElement::Create("Noted"));
    noted->SetText("a note");
    Elem empty(XMLElement::Create("Empty"));
    {
        std::ostringstream out;
        XMLWriter w(out, true);
        EXPECT_TRUE(w.Open(*root));
        EXPECT_TRUE(w.Open(*model));
        EXPECT_TRUE(w.Open(*list));  // its cells streamed one by one
        for (int k = 0; k < list->GetNChildren(); ++k) EXPECT_TRUE(w.Element(*list->GetChild(k)));
        EXPECT_TRUE(w.Close());
        EXPECT_TRUE(w.Open(*noted));
        EXPECT_TRUE(w.Close());
        EXPECT_TRUE(w.Open(*empty));  // opened, never filled
        EXPECT_TRUE(w.Finish());
        EXPECT_FALSE(w.Close());  // nothing is open any more
        // ... is the text of the whole tree.
        Elem whole(XMLElement::Create("PMML"));
        whole->AddAttribute("version", "4.4");
        ASSERT_TRUE(model->AddChild(std::move(list)));
        ASSERT_TRUE(model->AddChild(std::move(noted)));
        ASSERT_TRUE(model->AddChild(std::move(empty)));
        ASSERT_TRUE(whole->AddChild(std::move(model)));
        EXPECT_EQ(out.str(), PugiText(*whole, true));
    }
    // A stream that fails stops the writer for good.
    std::ostringstream failed;
    failed.setstate(std::ios::badbit);
    XMLWriter w(failed, false);
    EXPECT_FALSE(w.Element(*root) && w.Finish());
    EXPECT_FALSE(w.Open(*root));
}

}  // namespace
