// A small non-validating XML reader: one text in memory, all of its elements indexed in one pass,
// and a cursor that walks the elements and reads their text. Markup problems never throw; each
// becomes an entry of the result log (itself a markup text) and a "not well-formed" answer.
//
// Positions are element indexes into the index built by SetText. Index 0 stands for the document.
// The cursor has three positions: the parent whose children are walked, the main (current)
// element, and the current child of the main element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq {

// One indexed element: eight 32-bit fields.
struct ElementRecord {
  uint32_t start;       // offset of the '<' of the start tag
  uint32_t length;      // start to the end of the end tag; the start tag's length when there is none
  uint32_t tagLengths;  // low 22 bits start tag length, high 10 bits end tag length (both saturate)
  uint32_t flags;       // low 16 bits nesting level (saturates), plus the kElem* bits
  uint32_t parent;
  uint32_t firstChild;   // 0 = none
  uint32_t nextSibling;  // 0 = none
  uint32_t prevSibling;  // in the first child: the last sibling
};

enum : uint32_t {
  kElemLevelMask = 0xFFFF,
  kElemFree = 0x20000,
  kElemFirst = 0x80000,
  kElemUnended = 0x100000,
  kElemHasError = 0x200000,
  kElemNotWellFormed = 0x800000,  // record 0 only
};

// Node kinds at the cursor and of the tokeniser.
enum XmlNodeKind : uint32_t {
  kNodeNone = 0,
  kNodeElement = 1,
  kNodeText = 2,
  kNodeWhitespace = 4,
  kNodeCData = 8,
  kNodeProcessingInstruction = 16,
  kNodeComment = 32,
  kNodeDocumentType = 64,
  kNodeEndTag = 0x1000,
  kNodeError = 0x2000,
};

// Document flags.
enum : uint32_t {
  // Element text and text nodes lose leading and trailing whitespace (space, tab, CR, LF).
  kXmlTrimWhitespace = 0x01,
  // Every run of whitespace inside element text and text nodes becomes one space; implies trim.
  kXmlCollapseWhitespace = 0x02,
  // Names given to FindNext / FindChild match tag names without regard to ASCII case.
  kXmlIgnoreCase = 0x08,
  kXmlStreamRead = 0x10,   // set by Open, never by SetFlags
  kXmlStreamWrite = 0x20,  // set by Open, never by SetFlags
};

// Flags of the building operations.
enum : uint32_t {
  kMarkupCData = 0x01,  // place the text as a CDATA section instead of escaping it
};

// Open modes of the file operations.
enum XmlFileMode : uint32_t {
  kXmlFileRead = 1,
  kXmlFileWrite = 2,
  kXmlFileAppend = 4,
};

class XmlDocument {
 public:
  static constexpr uint32_t kPageSize = 65536;

  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replaces the text (nullptr = empty), parses it and puts the cursor at the document level.
  // The text ends at its first NUL. Returns whether it is well-formed. Refused (false, nothing
  // changed) while a file is open.
  bool SetText(const wchar_t* text = nullptr);
  bool SetText(std::wstring_view text);
  bool SetText(const std::wstring& text) { return SetText(std::wstring_view(text)); }

  const std::wstring& Text() const { return text_; }
  const std::wstring& ResultLog() const { return resultLog_; }
  bool IsWellFormed() const;

  // Navigation. A name of nullptr or "" matches any element. Predicates are not supported: a
  // name is compared as it stands, brackets included.
  bool FindNext(const wchar_t* name = nullptr);
  bool FindNext(const std::wstring& name) { return FindNext(name.c_str()); }
  bool FindChild(const wchar_t* name = nullptr);
  bool FindChild(const std::wstring& name) { return FindChild(name.c_str()); }
  bool Descend();
  bool Ascend();
  // Back to the document level (as after SetText).
  void ResetPos();
  // Moves to the next node of one of the kinds in the mask (0 = any kind) after the current
  // node, among the children of the parent position. Elements found this way become the main
  // position; other nodes leave the main position at the element before them.
  bool FindNode(uint32_t kinds = 0);

  // Text content of the main element with references decoded and CDATA sections unwrapped;
  // empty when the element has child elements, has no content or there is no main element.
  std::wstring ElementText() const;
  // Text of the node at the cursor: an element's text, or a non-element node without its
  // delimiters (text nodes decoded).
  std::wstring NodeText() const;
  std::wstring TagName() const;       // of the main element
  std::wstring ChildTagName() const;  // of the child position
  // Value of an attribute of the main element, references decoded; false when absent.
  bool GetAttrib(const wchar_t* name, std::wstring* value) const;

  uint32_t ParentPosition() const { return parent_; }
  uint32_t MainPosition() const { return main_; }
  uint32_t ChildPosition() const { return child_; }
  uint32_t NodeKind() const { return nodeKind_; }
  uint32_t NodeOffset() const { return nodeOffset_; }
  uint32_t NodeLength() const { return nodeLength_; }

  uint32_t Flags() const { return flags_; }
  // The streaming bits cannot be set or cleared here.
  void SetFlags(uint32_t flags);

  // The element index: records 0 .. ElementCount()-1 are in use (0 is the document).
  uint32_t ElementCount() const { return nextFree_; }
  uint32_t IndexCapacity() const { return capacity_; }
  const ElementRecord& Record(uint32_t index) const { return Rec(index); }

  // Building. AddElem inserts a new element after the main position (or as the last child of the
  // parent position when there is no main element) and makes it the main position. AddChildElem
  // inserts it after the child position (or as the last child of the main element) and makes it
  // the child position. The text is escaped, or wrapped as CDATA with kMarkupCData. Names must
  // be plain tag names; anything that could break the markup is refused.
  bool AddElem(const wchar_t* name, const wchar_t* text = nullptr, uint32_t flags = 0);
  bool AddChildElem(const wchar_t* name, const wchar_t* text = nullptr, uint32_t flags = 0);
  // Sets (adds or replaces) an attribute of the main / child element.
  bool SetAttrib(const wchar_t* name, const wchar_t* value);
  bool SetChildAttrib(const wchar_t* name, const wchar_t* value);

  // Markup helpers shared by the building operations and the result log.
  static std::wstring EscapeText(std::wstring_view text);       // < & >
  static std::wstring EscapeAttribute(std::wstring_view text);  // also " and '
  static std::wstring WrapCData(std::wstring_view text);
  // Decodes character and entity references; undecodable ones stay as written.
  static std::wstring DecodeText(std::wstring_view text);

  // Whole-file convenience: reads and decodes a file, then SetText. The result log keeps the
  // entries of the read before those of the parse.
  bool Load(const std::wstring& path);
  // Writes the text to a file as UTF-8 (no byte-order mark).
  bool Save(const std::wstring& path);

  // Streaming file operations. Open for reading decodes the file's encoding and hands out the
  // text in pieces through ReadText; open for writing or appending sends text given to
  // WriteText to the file (appending keeps the file's own encoding where it can be detected).
  // While a file is open SetText is refused; while one is open for writing so is FindNext.
  bool Open(const std::wstring& path, uint32_t mode);
  // Appends up to about maxUnits decoded units to out; false at the end of the file.
  bool ReadText(std::wstring* out, size_t maxUnits = 16384);
  bool WriteText(std::wstring_view text);
  void Close();
  bool IsOpen() const { return stream_ != nullptr; }

 private:
  friend class ParseSink;
  struct Stream;

  ElementRecord& Rec(uint32_t i) { return pages_[i >> 16][i & 0xFFFF]; }
  const ElementRecord& Rec(uint32_t i) const { return pages_[i >> 16][i & 0xFFFF]; }

  void Parse();
  void SizeIndex(uint32_t records);
  void GrowIndex();
  uint32_t NewRecord();
  void Unend(uint32_t index, uint32_t startLength, size_t offset2);
  void AddLogEntry(std::wstring_view name, std::initializer_list<std::pair<const wchar_t*, std::wstring>> attrs);
  bool LogFull() const { return resultLog_.size() >= 1000; }

  size_t StartTagLength(uint32_t i) const;
  size_t EndTagLength(uint32_t i) const;
  std::wstring_view TagNameOf(uint32_t i) const;
  bool NameMatches(uint32_t i, const wchar_t* name) const;
  std::wstring ContentText(uint32_t i) const;
  std::wstring ApplyWhitespaceFlags(std::wstring s) const;
  // Finds an attribute of the start tag of element i: the whole attribute and its value's units.
  bool FindAttribute(uint32_t i, std::wstring_view name, size_t* attrStart, size_t* attrEnd,
                     size_t* valueStart = nullptr, size_t* valueEnd = nullptr) const;

  size_t InsertionPointInside(uint32_t i, std::wstring* text) const;
  bool InsertElement(bool asChild, const wchar_t* name, const wchar_t* text, uint32_t flags);
  bool SetAttribOf(uint32_t i, const wchar_t* name, const wchar_t* value);
  void Reparse(std::wstring text);
  uint32_t FindRecordAt(size_t start) const;

  void LogFileError(const wchar_t* what);

  std::wstring text_;
  std::wstring resultLog_;
  uint32_t parent_ = 0;
  uint32_t main_ = 0;
  uint32_t child_ = 0;
  uint32_t nextFree_ = 1;
  uint32_t freeHead_ = 0;
  uint32_t nodeKind_ = kNodeNone;
  uint32_t nodeOffset_ = 0;
  uint32_t nodeLength_ = 0;
  uint32_t flags_ = 0;
  std::unique_ptr<Stream> stream_;
  std::vector<std::vector<ElementRecord>> pages_;
  uint32_t capacity_ = 0;
};

}  // namespace vq
