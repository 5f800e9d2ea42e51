// libFuzzer target: arbitrary bytes as an attribute value and as the text of
// an element, written by the library's XML writer. Besides the sanitizers,
// the target traps when: the written text is not UTF-8 made only of the
// characters XML 1.0 allows (checked here byte range by byte range, apart
// from the library's decoder); pugixml cannot read it back; the value or
// the text read back and unescaped (U+FFFD and two hexadecimal digits
// stand for one byte) differs from the bytes given; the streaming writer's
// text differs from the tree's.
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "companion/MCXMLElement.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

bool IsXmlChar(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The well-formed UTF-8 byte sequences (lead byte, then the range of the
// second byte; any further byte is 80..BF), after the Unicode standard's
// table of them.
bool XmlText(const std::string& t) {
    for (std::size_t i = 0; i < t.size();) {
        const auto b = static_cast<unsigned char>(t[i]);
        std::size_t len = 1;
        unsigned char lo = 0x80, hi = 0xBF;
        std::uint32_t c = b;
        if (b < 0x80) {
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2, c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, c = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, c = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > t.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto n = static_cast<unsigned char>(t[i + k]);
            if (n < (k == 1 ? lo : 0x80) || n > (k == 1 ? hi : 0xBF)) return false;
            c = (c << 6) | (n & 0x3F);
        }
        if (!IsXmlChar(c)) return false;
        i += len;
    }
    return true;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, "\xEF\xBF\xBD") == 0) {
            // Every U+FFFD starts an escape.
            Require(i + 5 <= text.size() && Hex(text[i + 3]) >= 0 && Hex(text[i + 4]) >= 0);
            out += static_cast<char>(Hex(text[i + 3]) * 16 + Hex(text[i + 4]));
            i += 5;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 4096) return 0;
    // The first byte splits the rest into the value and the text.
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    const std::string value = rest.substr(0, split), text = rest.substr(split);

    std::unique_ptr<MCXML_850::XMLElement> e(MCXML_850::XMLElement::Create("E"));
    Require(e != nullptr);
    e->AddAttribute("v", value);
    e->SetText(text);
    for (bool pretty : {false, true}) {
        std::ostringstream tree, streamed;
        Require(e->Write(tree, pretty));
        MCXML_850::XMLWriter writer(streamed, pretty);
        Require(writer.Open(*e) && writer.Close() && writer.Finish());
        Require(tree.str() == streamed.str() && tree.str() == e->ToString(pretty));
        const std::string written = tree.str();
        Require(XmlText(written));

        pugi::xml_document doc;
        Require(doc.load_buffer(written.data(), written.size(),
                                pugi::parse_default | pugi::parse_ws_pcdata, pugi::encoding_utf8));
        const pugi::xml_node read = doc.child("E");
        Require(Unescape(read.attribute("v").value()) == value);
        // The pretty form's line end follows the element, outside its text.
        Require(Unescape(read.text().get()) == text);
    }
    return 0;
}
