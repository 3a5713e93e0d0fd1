// The settings store's document, read with expat and written by hand, both without recursion.
#include "host/lib/SettingsTree.h"

#include <expat.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Elements deeper than this are written without line breaks: indentation that grows with the
// depth would make a deeply nested document's file grow with the square of its depth.
constexpr size_t IndentedDepth = 32;

bool IsBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// Escapes text for an element's content or, with `attribute`, for a quoted attribute value.
void AppendEscaped(std::string& out, const std::string& text, bool attribute) {
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        // A bare carriage return would come back as a line feed.
        case '\r':
            out += "&#xD;";
            break;
        // In an attribute the parser turns bare white space into spaces.
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        case '\t':
            out += attribute ? "&#x9;" : "\t";
            break;
        case '\n':
            out += attribute ? "&#xA;" : "\n";
            break;
        default:
            out += c;
        }
    }
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Where the XML declaration at the start of the data names its encoding: the offset and length
// of the name. False when there is no declaration or it names none.
bool FindDeclaredEncoding(const char* data, size_t size, size_t& at, size_t& length) {
    const std::string head(data, std::min<size_t>(size, 256));
    if (head.compare(0, 5, "<?xml") != 0)
        return false;
    const size_t end = head.find("?>");
    const size_t key = head.find("encoding", 5);
    if (end == std::string::npos || key == std::string::npos || key > end)
        return false;
    size_t i = head.find_first_not_of(" \t\r\n", key + 8);
    if (i == std::string::npos || head[i] != '=')
        return false;
    i = head.find_first_not_of(" \t\r\n", i + 1);
    if (i == std::string::npos || (head[i] != '"' && head[i] != '\''))
        return false;
    const size_t close = head.find(head[i], i + 1);
    if (close == std::string::npos || close > end)
        return false;
    at = i + 1;
    length = close - at;
    return true;
}

// The encodings expat reads itself.
bool ExpatKnows(const std::string& encoding) {
    const std::string name = Upper(encoding);
    return name == "UTF-8" || name == "UTF-16" || name == "UTF-16BE" || name == "UTF-16LE" ||
           name == "ISO-8859-1" || name == "US-ASCII";
}

// Converts the data from the encoding to UTF-8. A byte that does not belong to the encoding
// ends the conversion there: what follows is damage, and `stopped` gives its offset. False when
// iconv does not know the encoding.
bool ConvertToUtf8(const char* data, size_t size, const std::string& encoding, std::string& out,
                   size_t& stopped) {
    const iconv_t converter = ::iconv_open("UTF-8", encoding.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    std::string chunk(65536, '\0');
    stopped = size;
    while (inLeft > 0) {
        char* to = chunk.data();
        size_t toLeft = chunk.size();
        const size_t done = ::iconv(converter, &in, &inLeft, &to, &toLeft);
        out.append(chunk.data(), chunk.size() - toLeft);
        if (done == static_cast<size_t>(-1) && errno != E2BIG) {
            stopped = size - inLeft;
            break;
        }
    }
    ::iconv_close(converter);
    return true;
}

// Makes the declaration of a document converted to UTF-8 say so.
void DeclareUtf8(std::string& text) {
    size_t at = 0;
    size_t length = 0;
    if (FindDeclaredEncoding(text.data(), text.size(), at, length))
        text.replace(at, length, "UTF-8");
}

// Documents whose start is not ASCII: the encoding that their first bytes show (as XML 1.0's
// appendix F reads them), and the length of their byte order mark.
struct Family {
    const char* start;
    const char* encoding;
    size_t mark;
};
const Family families[] = {
    {"\x00\x00\xFE\xFF", "UTF-32BE", 4}, {"\xFF\xFE\x00\x00", "UTF-32LE", 4},
    {"\x00\x00\x00\x3C", "UTF-32BE", 0}, {"\x3C\x00\x00\x00", "UTF-32LE", 0},
    {"\x4C\x6F\xA7\x94", "IBM037", 0}, // "<?xm" in EBCDIC
};
constexpr size_t familyStart = 4;

const Family* FamilyOf(const char* data, size_t size) {
    for (const Family& family : families) {
        if (size >= familyStart && std::memcmp(data, family.start, familyStart) == 0)
            return &family;
    }
    return nullptr;
}

// The document in UTF-8, when expat cannot read it as it is: `converted` holds it, and
// `undecodable` says where a byte the encoding does not have ended it. False when the data
// goes to expat unchanged.
bool Decode(const char* data, size_t size, std::string& converted, std::string& undecodable) {
    size_t stopped = size;
    size_t skipped = 0;
    std::string encoding;
    if (const Family* family = FamilyOf(data, size)) {
        skipped = family->mark;
        encoding = family->encoding;
        if (!ConvertToUtf8(data + skipped, size - skipped, encoding, converted, stopped))
            return false;
        // One EBCDIC code page reads the declaration as well as another; the one it names may
        // differ in the rest (IBM1047's brackets, say).
        size_t at = 0;
        size_t length = 0;
        std::string exact;
        size_t exactStopped = size;
        if (family->mark == 0 && encoding == "IBM037" &&
            FindDeclaredEncoding(converted.data(), converted.size(), at, length) &&
            Upper(converted.substr(at, length)) != encoding &&
            ConvertToUtf8(data, size, converted.substr(at, length), exact, exactStopped) &&
            exact.compare(0, 5, "<?xml") == 0) {
            encoding = converted.substr(at, length);
            converted.swap(exact);
            stopped = exactStopped;
        }
    } else {
        size_t at = 0;
        size_t length = 0;
        if (!FindDeclaredEncoding(data, size, at, length))
            return false;
        encoding.assign(data + at, length);
        if (ExpatKnows(encoding) || !ConvertToUtf8(data, size, encoding, converted, stopped))
            return false;
    }
    if (stopped < size - skipped)
        undecodable =
            "byte " + std::to_string(skipped + stopped + 1) + " cannot be read as " + encoding;
    DeclareUtf8(converted);
    return true;
}

} // namespace

// Builds the tree from expat's events. Open elements are kept on a stack of indices, so the
// depth of the file costs memory, never stack.
struct SettingsTreeBuilder {
    SettingsTree& tree;
    XML_Parser parser;
    std::vector<SettingsTree::Index> open;
    std::string error;
    bool rootSeen = false;

    void Stop(const char* reason) {
        if (error.empty())
            error = reason;
        XML_StopParser(parser, XML_FALSE);
    }

    bool Full() {
        if (tree.nodes.size() < SettingsTree::MaxElements)
            return false;
        Stop("too many elements");
        return true;
    }

    static void OnStart(void* data, const XML_Char* name, const XML_Char** atts) {
        auto* self = static_cast<SettingsTreeBuilder*>(data);
        SettingsTree& tree = self->tree;
        SettingsTree::Index node = SettingsTree::Root;
        if (self->open.empty()) {
            if (tree.rootName != name)
                return self->Stop("the document element is not the settings' own");
            self->rootSeen = true;
        } else {
            if (self->Full())
                return;
            node = tree.AddChild(self->open.back(), name);
            tree.nodes[node].whole = false;
        }
        self->open.push_back(node);
        if (atts[0]) {
            std::string& escaped = tree.attributes[node];
            for (size_t i = 0; atts[i]; i += 2) {
                escaped += ' ';
                escaped += atts[i];
                escaped += "=\"";
                AppendEscaped(escaped, atts[i + 1], true);
                escaped += '"';
            }
        }
    }

    // A comment or an instruction: kept in its element, or before or after the document element.
    void Keep(SettingsTree::Kind kind, const std::string& name, const std::string& text) {
        if (!open.empty()) {
            if (!Full())
                tree.Append(open.back(),
                            SettingsTree::Node{name, text, SettingsTree::None, SettingsTree::None,
                                               SettingsTree::None, true, kind});
            return;
        }
        std::string written = kind == SettingsTree::Kind::Comment
                                  ? "<!--" + text + "-->"
                                  : "<?" + name + (text.empty() ? "" : " " + text) + "?>";
        (rootSeen ? tree.epilog : tree.prolog).push_back(std::move(written));
    }

    static void OnComment(void* data, const XML_Char* text) {
        static_cast<SettingsTreeBuilder*>(data)->Keep(SettingsTree::Kind::Comment, {}, text);
    }

    static void OnInstruction(void* data, const XML_Char* target, const XML_Char* text) {
        static_cast<SettingsTreeBuilder*>(data)->Keep(SettingsTree::Kind::Instruction, target,
                                                      text);
    }

    static void OnEnd(void* data, const XML_Char*) {
        auto* self = static_cast<SettingsTreeBuilder*>(data);
        SettingsTree::Node& node = self->tree.nodes[self->open.back()];
        self->open.pop_back();
        node.whole = true;
        // Indentation between elements is not a value.
        if (node.first != SettingsTree::None && IsBlank(node.text))
            node.text.clear();
    }

    static void OnText(void* data, const XML_Char* text, int length) {
        auto* self = static_cast<SettingsTreeBuilder*>(data);
        if (!self->open.empty())
            self->tree.nodes[self->open.back()].text.append(text, static_cast<size_t>(length));
    }

    // The store never writes a document type. One in the file could declare entities that
    // expand without bound or read other files, and with it an undefined entity would be
    // skipped silently instead of being an error.
    static void OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<SettingsTreeBuilder*>(data)->Stop("a document type declaration");
    }

    static void OnSkippedEntity(void* data, const XML_Char*, int) {
        static_cast<SettingsTreeBuilder*>(data)->Stop("undefined entity");
    }
};

SettingsTree::SettingsTree(const std::string& root) : rootName(root) {
    Clear();
}

void SettingsTree::Clear() {
    nodes.clear();
    attributes.clear();
    prolog.clear();
    epilog.clear();
    nodes.push_back(Node{rootName, {}, None, None, None});
}

SettingsTree::Index SettingsTree::Element(Index node) const {
    while (node != None && nodes[node].kind != Kind::Element)
        node = nodes[node].next;
    return node;
}

SettingsTree::Index SettingsTree::FindChild(Index parent, const std::string& name,
                                            size_t occurrence) const {
    for (Index child = First(parent); child != None; child = Next(child)) {
        if (nodes[child].name == name && occurrence-- == 0)
            return child;
    }
    return None;
}

SettingsTree::Index SettingsTree::Append(Index parent, Node node) {
    const auto child = static_cast<Index>(nodes.size());
    nodes.push_back(std::move(node));
    Node& owner = nodes[parent];
    if (owner.last == None)
        owner.first = child;
    else
        nodes[owner.last].next = child;
    owner.last = child;
    return child;
}

SettingsTree::Index SettingsTree::AddChild(Index parent, const std::string& name) {
    return Append(parent, Node{name, {}, None, None, None});
}

void SettingsTree::RemoveChildren(Index parent, const std::vector<Index>& children) {
    // They and what they hold stay in the array, unreachable, like replaced content.
    std::vector<Index> gone(children);
    std::sort(gone.begin(), gone.end());
    Index before = None;
    for (Index node = nodes[parent].first; node != None;) {
        const Index next = nodes[node].next;
        if (std::binary_search(gone.begin(), gone.end(), node)) {
            (before == None ? nodes[parent].first : nodes[before].next) = next;
            nodes[node].next = None;
        } else {
            before = node;
        }
        node = next;
    }
    nodes[parent].last = before;
}

bool SettingsTree::Rename(Index node, const std::string& name) {
    // A name XML can hold: a letter, "_" or any non-ASCII character first, then also digits,
    // "-" and ".". (Colons would make it a namespaced name.)
    const auto start = [](unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; };
    const auto rest = [&](unsigned char c) {
        return start(c) || std::isdigit(c) || c == '-' || c == '.';
    };
    if (name.empty() || !start(static_cast<unsigned char>(name[0])) ||
        !std::all_of(name.begin(), name.end(), [&](char c) { return rest(c); }) || node == Root)
        return false;
    nodes[node].name = name;
    return true;
}

void SettingsTree::SetText(Index node, const std::string& text) {
    // The children stay in the array, unreachable, until the tree is cleared or reloaded.
    nodes[node].first = nodes[node].last = None;
    nodes[node].text = text;
}

void SettingsTree::KeepWholeElements(const std::vector<Index>& open) {
    // The deepest open element is the last child of the one above it, and so on up.
    for (size_t depth = open.size(); depth-- > 0;) {
        Node& node = nodes[open[depth]];
        node.whole = false;
        node.text.clear();
        if (depth == 0 || node.first != None)
            continue;
        Node& parent = nodes[open[depth - 1]];
        Index before = None;
        for (Index child = parent.first; child != open[depth]; child = nodes[child].next)
            before = child;
        (before == None ? parent.first : nodes[before].next) = None;
        parent.last = before;
    }
}

bool SettingsTree::Parse(const char* data, size_t size, std::string& error) {
    Clear();
    if (size > MaxFileSize) {
        error = "larger than 16 MB";
        return false;
    }
    // An encoding expat does not know is converted first; a byte the encoding does not have
    // is damage like any other.
    std::string converted;
    std::string undecodable;
    if (Decode(data, size, converted, undecodable)) {
        data = converted.data();
        size = converted.size();
    }
    if (size > INT_MAX) {
        error = "larger than 16 MB";
        return false;
    }
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        error = "out of memory";
        return false;
    }
    SettingsTreeBuilder builder{*this, parser, {}, {}, false};
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, &SettingsTreeBuilder::OnStart, &SettingsTreeBuilder::OnEnd);
    XML_SetCharacterDataHandler(parser, &SettingsTreeBuilder::OnText);
    XML_SetCommentHandler(parser, &SettingsTreeBuilder::OnComment);
    XML_SetProcessingInstructionHandler(parser, &SettingsTreeBuilder::OnInstruction);
    XML_SetStartDoctypeDeclHandler(parser, &SettingsTreeBuilder::OnDoctype);
    XML_SetSkippedEntityHandler(parser, &SettingsTreeBuilder::OnSkippedEntity);
    // The whole file in one call: expat then never re-scans a token split across buffers.
    bool parsed = XML_Parse(parser, data, static_cast<int>(size), XML_TRUE) == XML_STATUS_OK;
    if (!undecodable.empty()) {
        parsed = false;
        error = undecodable;
    } else if (!parsed) {
        const std::string reason =
            builder.error.empty() ? XML_ErrorString(XML_GetErrorCode(parser)) : builder.error;
        error = "line " + std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                std::to_string(XML_GetCurrentColumnNumber(parser) + 1) + ": " + reason;
    }
    XML_ParserFree(parser);
    if (!parsed)
        KeepWholeElements(builder.open);
    return parsed;
}

bool SettingsTree::Serialize(std::string& out, std::string& error) const {
    out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    size_t elements = 0;

    // An element being written: the next child to write, and whether its content is written
    // without line breaks (deep elements, and elements whose text sits beside children: added
    // indentation would change their text).
    struct Frame {
        Index node;
        Index nextChild;
        size_t depth;
        bool compact;
    };
    std::vector<Frame> open;

    // Writes the start of an element; an element with children stays open on the stack.
    auto start = [&](Index index, size_t depth, bool parentCompact) {
        const Node& node = nodes[index];
        ++elements;
        if (node.kind == Kind::Comment) {
            out += "<!--" + node.text + "-->";
            return;
        }
        if (node.kind == Kind::Instruction) {
            out += "<?" + node.name + (node.text.empty() ? "" : " " + node.text) + "?>";
            return;
        }
        out += '<';
        out += node.name;
        const auto found = attributes.find(index);
        if (found != attributes.end())
            out += found->second;
        if (node.first == None && node.text.empty()) {
            out += "/>";
            return;
        }
        out += '>';
        AppendEscaped(out, node.text, false);
        if (node.first == None) {
            out += "</" + node.name + '>';
            return;
        }
        const bool compact = parentCompact || !node.text.empty() || depth >= IndentedDepth;
        open.push_back(Frame{index, node.first, depth, compact});
    };
    auto newLine = [&](size_t depth) {
        out += '\n';
        out.append(2 * depth, ' ');
    };

    for (const std::string& line : prolog)
        out += line + '\n';
    start(Root, 0, false);
    while (!open.empty() && out.size() <= MaxFileSize) {
        Frame& top = open.back();
        if (top.nextChild != None) {
            const Index child = top.nextChild;
            top.nextChild = nodes[child].next;
            const size_t depth = top.depth + 1;
            const bool compact = top.compact;
            if (!compact)
                newLine(depth);
            start(child, depth, compact); // may grow `open`: `top` is not used after this
        } else {
            if (!top.compact)
                newLine(top.depth);
            out += "</" + nodes[top.node].name + '>';
            open.pop_back();
        }
    }
    out += '\n';
    for (const std::string& line : epilog)
        out += line + '\n';
    if (out.size() > MaxFileSize) {
        error = "the settings would make a file larger than 16 MB";
        return false;
    }
    if (elements > MaxElements) {
        error = "the settings would have more than " + std::to_string(MaxElements) + " elements";
        return false;
    }
    return true;
}
