// The settings store's document: elements with text, read from and written to XML without
// recursion, so that no file, however deeply nested, can exhaust the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Elements live in one array and refer to each other by index: removing or destroying the
// tree never walks it recursively. Names and texts are UTF-8. Comments and processing
// instructions are kept where the file has them (before, inside and after the document
// element), so that a file edited by hand keeps its notes through a save; lookups see elements
// only.
class SettingsTree {
public:
    // A file larger than this is refused, and a document that would be larger is not written.
    static constexpr size_t MaxFileSize = 16u * 1024 * 1024;
    // More elements than this are refused: no settings file comes near it, and a file of
    // millions of tiny elements would take seconds and more memory than settings are worth.
    static constexpr size_t MaxElements = 250000;

    using Index = int32_t;
    static constexpr Index None = -1;
    static constexpr Index Root = 0;

    explicit SettingsTree(const std::string& rootName);

    // Replaces the tree by the document in `data`, in UTF-8, UTF-16, ISO-8859-1, ASCII or any
    // other encoding its declaration names that the system's iconv knows (windows-1252, say).
    // A document whose first bytes are not ASCII-compatible is recognised by them: UTF-32 (with
    // or without a byte order mark) and EBCDIC (IBM037, IBM1047 and the other code pages whose
    // declaration reads as IBM037 does).
    // On failure `error` says why, with the line and column where the parser stopped, and the
    // tree keeps what was read before the damage: every element read whole, and the elements
    // still open around them, marked as not whole (their own text is dropped).
    bool Parse(const char* data, size_t size, std::string& error);
    // The whole document: declaration, elements indented by two spaces. Returns false (and
    // says why) when the document would exceed MaxFileSize or MaxElements.
    bool Serialize(std::string& out, std::string& error) const;

    // Removes everything below the root, and the comments around it.
    void Clear();

    // The child element of that name, the first (occurrence 0) or a later one, or None.
    Index FindChild(Index parent, const std::string& name, size_t occurrence = 0) const;
    // The child elements in the file's order: First(parent), then Next(child) until None.
    Index First(Index node) const { return Element(nodes[node].first); }
    Index Next(Index node) const { return Element(nodes[node].next); }
    const std::string& Name(Index node) const { return nodes[node].name; }
    Index AddChild(Index parent, const std::string& name);
    // Takes the children out of their parent, with everything in them, in one walk.
    void RemoveChildren(Index parent, const std::vector<Index>& children);
    // Gives the element another name: false, changing nothing, when XML cannot have it.
    bool Rename(Index node, const std::string& name);
    // Replaces the element's content (children and comments included) by the text.
    void SetText(Index node, const std::string& text);
    const std::string& Text(Index node) const { return nodes[node].text; }
    // True when the element holds text alone: no child element, comment or instruction.
    bool HoldsTextAlone(Index node) const { return nodes[node].first == None; }
    // False only for an element that a damaged file left open (see Parse).
    bool Whole(Index node) const { return nodes[node].whole; }

private:
    enum class Kind : uint8_t { Element, Comment, Instruction };
    struct Node {
        std::string name; // an instruction's target
        std::string text; // a comment's text, an instruction's data
        Index first = None;
        Index last = None;
        Index next = None;
        bool whole = true;
        Kind kind = Kind::Element;
    };

    // The node itself when it is an element, else the next element after it, or None.
    Index Element(Index node) const;
    Index Append(Index parent, Node node);

    // After a failed parse: drops the open elements that hold nothing read whole, and marks the
    // others as not whole.
    void KeepWholeElements(const std::vector<Index>& open);

    std::string rootName;
    std::vector<Node> nodes;
    // The attributes of the few elements that have any, already escaped: ` a="1" b="2"`.
    std::unordered_map<Index, std::string> attributes;
    // Comments and instructions before and after the document element, as written.
    std::vector<std::string> prolog;
    std::vector<std::string> epilog;

    friend struct SettingsTreeBuilder;
};
