// The damaged settings files. Random choices come from std::mt19937, whose sequence the C++
// standard fixes, reduced by plain modulo (the standard distributions differ between
// libraries), so a seed names the same corpus everywhere.
#include "SettingsCorpus.h"

#include <fstream>
#include <random>

namespace settings_corpus {
namespace {

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class Random {
public:
    explicit Random(uint32_t seed) : engine(seed) {}
    size_t Below(size_t limit) { return limit ? engine() % limit : 0; }

private:
    std::mt19937 engine;
};

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

// One script section; `fields` replaces the five usual values when given.
std::string Section(int index, const std::string& fields = {}) {
    const std::string tag = "Script" + std::to_string(index);
    std::string body = fields;
    if (body.empty())
        body = "<autoRun>" + std::to_string(index % 2) + "</autoRun><autoReload>" +
               std::to_string((index + 1) % 2) + "</autoReload><name>script " +
               std::to_string(index) + "</name><location>/home/ann/scripts/s" +
               std::to_string(index) + ".py</location><description>Does thing " +
               std::to_string(index) + "</description>";
    return "<" + tag + ">" + body + "</" + tag + ">";
}

// A document with the given content below <Coilhatch>.
std::string Settings(const std::string& inside) {
    return declaration + "<config><Coilhatch>" + inside + "</Coilhatch></config>\n";
}

std::string WithField(const std::string& field, const std::string& value) {
    return Settings("<Counts>1</Counts>" +
                    Section(0, "<" + field + ">" + value + "</" + field + "><name>n</name>"));
}

std::string Utf16(const std::string& ascii, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : ascii) {
        if (littleEndian) {
            out += c;
            out += '\0';
        } else {
            out += '\0';
            out += c;
        }
    }
    return out;
}

void Add(std::vector<Sample>& samples, const std::string& name, std::string bytes) {
    samples.push_back(Sample{std::to_string(samples.size()) + "-" + name, std::move(bytes)});
}

void Truncations(std::vector<Sample>& samples, const std::string& base, Random& random) {
    for (size_t i = 0; i < 40; ++i)
        Add(samples, "truncated-even", base.substr(0, base.size() * i / 40));
    for (int i = 0; i < 20; ++i)
        Add(samples, "truncated-random", base.substr(0, random.Below(base.size())));
}

void Flips(std::vector<Sample>& samples, const std::string& base, Random& random) {
    for (int i = 0; i < 80; ++i) {
        std::string bytes = base;
        for (size_t flips = 1 + random.Below(4); flips > 0; --flips)
            bytes[random.Below(bytes.size())] ^= static_cast<char>(1u << random.Below(8));
        Add(samples, "bit-flips", bytes);
    }
    const std::string pieces[] = {"<",    ">",   "&",    "\"",   std::string(1, '\0'),
                                  "\xFF", "]]>", "<!--", "&#0;", "</",
                                  "<a>",  "&amp"};
    for (int i = 0; i < 36; ++i) {
        std::string bytes = base;
        bytes.insert(random.Below(bytes.size()), pieces[i % 12]);
        Add(samples, "inserted", bytes);
    }
    for (int i = 0; i < 20; ++i) {
        std::string bytes = base;
        bytes.erase(random.Below(bytes.size()), 1 + random.Below(8));
        Add(samples, "deleted", bytes);
    }
}

void Nesting(std::vector<Sample>& samples) {
    const std::string counts = "<Counts>1</Counts>";
    Add(samples, "nested-100k",
        Settings(counts + Repeat("<a>", 100000) + "x" + Repeat("</a>", 100000) + Section(0)));
    Add(samples, "nested-100k-unclosed", Settings(counts + Section(0) + Repeat("<a>", 100000)));
    Add(samples, "nested-in-value",
        Settings(counts +
                 Section(0, "<name>" + Repeat("<b>", 1000) + Repeat("</b>", 1000) + "</name>")));
    Add(samples, "nested-sections",
        Settings(counts + "<Coilhatch>" + Section(0) + "</Coilhatch>" + Section(0)));
    Add(samples, "siblings-100k",
        Settings("<Counts>31</Counts>" + Repeat("<Script5><name>x</name></Script5>", 100000)));
    Add(samples, "elements-4M", declaration + "<config>" + Repeat("<a/>", 4200000) + "</config>");
}

void HugeValues(std::vector<Sample>& samples) {
    const std::string counts = "<Counts>1</Counts>";
    Add(samples, "value-8MB",
        Settings(counts +
                 Section(0, "<description>" + std::string(8u << 20, 'd') + "</description>")));
    Add(samples, "char-refs-300k",
        Settings(counts + Section(0, "<name>" + Repeat("&#233;", 300000) + "</name>")));
    Add(samples, "entity-refs-300k",
        Settings(counts + Section(0, "<location>" + Repeat("&amp;&lt;", 150000) + "</location>")));
    const std::string head = declaration + "<config><Coilhatch>" + counts + "<Script0><name>";
    const std::string tail = "</name></Script0></Coilhatch></config>";
    const size_t limit = 16u << 20;
    Add(samples, "file-16MB", head + std::string(limit - head.size() - tail.size(), 'n') + tail);
    Add(samples, "file-16MB-and-1",
        head + std::string(limit + 1 - head.size() - tail.size(), 'n') + tail);
    Add(samples, "name-1MB", Settings(counts + "<" + std::string(1u << 20, 'N') + "/>"));
    std::string attributes;
    for (int i = 0; i < 20000; ++i)
        attributes += " a" + std::to_string(i) + "=\"v\"";
    Add(samples, "attributes-20k", Settings(counts + "<Script0" + attributes + "/>"));
}

void Entities(std::vector<Sample>& samples) {
    Add(samples, "undefined-entity", WithField("description", "al&e;pha"));
    Add(samples, "entity-without-semicolon", WithField("description", "a &amp b"));
    Add(samples, "billion-laughs",
        declaration + "<!DOCTYPE config [<!ENTITY a \"aaaaaaaaaa\">"
                      "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                      "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                      "<config><Coilhatch><Counts>1</Counts><Script0><name>&d;</name>"
                      "</Script0></Coilhatch></config>");
    Add(samples, "external-entity",
        declaration + "<!DOCTYPE config [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
                      "<config><Coilhatch><Counts>1</Counts><Script0><name>&e;</name>"
                      "</Script0></Coilhatch></config>");
    Add(samples, "parameter-entity",
        declaration + "<!DOCTYPE config [<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;]>"
                      "<config><Coilhatch><Counts>1</Counts></Coilhatch></config>");
    Add(samples, "external-subset",
        declaration + "<!DOCTYPE config SYSTEM \"settings.dtd\"><config><Coilhatch><Counts>"
                      "&n;</Counts></Coilhatch></config>");
    for (const char* ref : {"&#0;", "&#xD800;", "&#x110000;", "&#xFFFE;", "&#1;", "&#99999999999;"})
        Add(samples, "bad-char-ref", WithField("name", ref));
    for (const char* ref : {"&#x1F40D;", "&#9;&#10;&#13;", "&lt;&gt;&amp;&quot;&apos;", "&#x20;"})
        Add(samples, "good-char-ref", WithField("name", ref));
    Add(samples, "entity-in-attribute", Settings("<Counts a=\"&x;\">1</Counts>" + Section(0)));
}

void WrongTypes(std::vector<Sample>& samples) {
    for (const char* count : {"abc", "", "-1", "-2147483649", "2147483648", "1e3", " 2 ", "0x10",
                              "31", "32", "1000000", "+3", "٣"}) {
        std::string sections;
        for (int i = 0; i < 3; ++i)
            sections += Section(i);
        Add(samples, "counts", Settings("<Counts>" + std::string(count) + "</Counts>" + sections));
    }
    for (const char* flag : {"maybe", "TRUE", "yes", "2", " 1 ", "", "<x/>"}) {
        Add(samples, "auto-run", WithField("autoRun", flag));
        Add(samples, "auto-reload", WithField("autoReload", flag));
    }
    Add(samples, "name-with-children", WithField("location", "a<b>c</b>d"));
    Add(samples, "empty-location", Settings("<Counts>1</Counts>" + Section(0, "<location/>")));
    Add(samples, "blank-description", WithField("description", "   \n\t "));
    Add(samples, "counts-with-children", Settings("<Counts>1<x/></Counts>" + Section(0)));
}

void Sections(std::vector<Sample>& samples) {
    const std::string counts = "<Counts>2</Counts>";
    Add(samples, "duplicate-section",
        Settings(counts + Section(0) + Section(0, "<name>second</name>") + Section(1)));
    Add(samples, "duplicate-counts", Settings(counts + "<Counts>5</Counts>" + Section(0)));
    Add(samples, "duplicate-coilhatch",
        declaration + "<config><Coilhatch>" + counts + Section(0) + "</Coilhatch><Coilhatch>" +
            "<Counts>9</Counts>" + Section(1) + "</Coilhatch></config>");
    Add(samples, "two-roots", Settings(counts + Section(0)) + "<config/>");
    Add(samples, "counts-missing", Settings(Section(0) + Section(1)));
    Add(samples, "section-missing", Settings("<Counts>3</Counts>" + Section(0) + Section(2)));
    Add(samples, "sections-out-of-order", Settings(counts + Section(1) + Section(0)));
    Add(samples, "empty-coilhatch", Settings(""));
    Add(samples, "empty-config", declaration + "<config/>");
    Add(samples, "declaration-only", declaration);
    Add(samples, "empty-file", "");
    Add(samples, "blank-file", " \n\t\n");
    Add(samples, "wrong-root",
        declaration + "<settings><Coilhatch>" + counts + Section(0) + "</Coilhatch></settings>");
    Add(samples, "root-case", declaration + "<Config><Coilhatch/></Config>");
    Add(samples, "text-after-root", Settings(counts + Section(0)) + "trailing");
    Add(samples, "declaration-late", "\n" + Settings(counts + Section(0)));
    Add(samples, "version-1.1",
        "<?xml version=\"1.1\"?><config><Coilhatch>" + counts + Section(0) +
            "</Coilhatch></config>");
}

void Encodings(std::vector<Sample>& samples) {
    const std::string counts = "<Counts>1</Counts>";
    for (const char* bad : {"\xFF", "\xC0\xAF", "\x80", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"})
        Add(samples, "invalid-utf8", WithField("name", std::string("x") + bad + "y"));
    Add(samples, "utf8-cut-at-end", Settings(counts + Section(0)) + "\xE2\x82");
    Add(samples, "utf8-bom", "\xEF\xBB\xBF" + Settings(counts + Section(0)));
    Add(samples, "utf8-bom-twice", "\xEF\xBB\xBF\xEF\xBB\xBF" + Settings(counts + Section(0)));
    Add(samples, "utf16-bom-on-utf8", "\xFF\xFE" + Settings(counts + Section(0)));
    Add(samples, "utf32-bom", std::string("\xFF\xFE\0\0", 4) + Settings(counts + Section(0)));
    const std::string plain = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><config><Coilhatch>" +
                              counts + Section(0) + "</Coilhatch></config>";
    Add(samples, "utf16-le", Utf16(plain, true));
    Add(samples, "utf16-be", Utf16(plain, false));
    Add(samples, "utf16-declared-utf8-bytes", plain);
    Add(samples, "latin1",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><config><Coilhatch>" + counts +
            Section(0, "<name>Z\xE4hler</name>") + "</Coilhatch></config>");
    Add(samples, "unknown-encoding",
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?><config><Coilhatch>" + counts +
            Section(0, "<name>\x80uro</name>") + "</Coilhatch></config>");
    const std::string nul(1, '\0');
    Add(samples, "nul-first", nul + Settings(counts + Section(0)));
    Add(samples, "nul-in-value", WithField("name", "a" + nul + "b"));
    Add(samples, "nul-last", Settings(counts + Section(0)) + nul);
    Add(samples, "nuls-only", std::string(4096, '\0'));
    Add(samples, "binary",
        std::string("\x7F"
                    "ELF\x02\x01\x01",
                    7) +
            std::string(64, '\x03'));
}

void Oddities(std::vector<Sample>& samples) {
    const std::string counts = "<Counts>1</Counts>";
    std::string crlf = WellFormedSettings(2);
    for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2))
        crlf.replace(at, 1, "\r\n");
    Add(samples, "crlf", crlf);
    Add(samples, "cdata", WithField("description", "<![CDATA[a <b> & c]]>"));
    Add(samples, "cdata-and-text", WithField("description", "x<![CDATA[<y>]]>z"));
    Add(samples, "comments-everywhere",
        declaration + "<!-- a --><config><!-- b --><Coilhatch>" + counts +
            Section(0, "<name>a<!-- c -->b</name>") + "</Coilhatch></config><!-- d -->");
    Add(samples, "processing-instructions",
        declaration + "<?pi x?><config><?pi y?><Coilhatch>" + counts + Section(0) +
            "</Coilhatch></config>");
    Add(samples, "attributes",
        declaration + "<config version=\"2\"><Coilhatch a=\"&quot;&#9;\">" + counts + Section(0) +
            "</Coilhatch></config>");
    Add(samples, "namespaces",
        declaration + "<config xmlns:x=\"urn:x\"><Coilhatch>" + counts +
            Section(0, "<x:name>n</x:name><name>m</name>") + "</Coilhatch></config>");
    Add(samples, "mixed-content", Settings("before" + counts + "between" + Section(0) + "after"));
    Add(samples, "standalone",
        "<?xml version=\"1.0\" standalone=\"yes\"?><config><Coilhatch>" + counts + Section(0) +
            "</Coilhatch></config>");
    Add(samples, "unicode-names",
        Settings(counts + Section(0, "<name>日本語 🐍 Zähler</name><Ärger>1</Ärger>")));
    Add(samples, "whitespace-in-tags",
        declaration + "<config ><Coilhatch\n><Counts\t>1</Counts ></Coilhatch></config\n>");
    Add(samples, "mismatched-tags", Settings(counts + "<Script0><name>x</Script0></name>"));
}

} // namespace

std::string WellFormedSettings(int scripts) {
    std::string out = declaration + "<config>\n  <Coilhatch>\n    <Counts>" +
                      std::to_string(scripts) + "</Counts>\n";
    for (int i = 0; i < scripts; ++i) {
        const std::string tag = "Script" + std::to_string(i);
        out += "    <" + tag + ">\n";
        out += "      <autoRun>" + std::to_string(i % 2) + "</autoRun>\n";
        out += "      <autoReload>1</autoReload>\n";
        out += "      <name>script &lt;" + std::to_string(i) + "&gt; &amp; Zähler</name>\n";
        out += "      <location>/home/ann/scripts/s" + std::to_string(i) + ".py</location>\n";
        out += "      <description>line one&#xD;\nline two 🐍</description>\n";
        out += "    </" + tag + ">\n";
    }
    return out + "  </Coilhatch>\n</config>\n";
}

std::vector<Sample> DamagedSettingsFiles(uint32_t seed) {
    Random random(seed);
    std::vector<Sample> samples;
    const std::string base = WellFormedSettings(3);
    Add(samples, "well-formed", base);
    Truncations(samples, base, random);
    Flips(samples, base, random);
    Nesting(samples);
    HugeValues(samples);
    Entities(samples);
    WrongTypes(samples);
    Sections(samples);
    Encodings(samples);
    Oddities(samples);
    return samples;
}

size_t WriteDamagedSettingsFiles(const std::string& folder, uint32_t seed) {
    size_t written = 0;
    for (const Sample& sample : DamagedSettingsFiles(seed)) {
        std::ofstream out(folder + "/" + sample.name + ".xml", std::ios::binary);
        out.write(sample.bytes.data(), static_cast<std::streamsize>(sample.bytes.size()));
        written += out.good() ? 1 : 0;
    }
    return written;
}

} // namespace settings_corpus
