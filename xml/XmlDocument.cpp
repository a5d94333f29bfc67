#include "xml/XmlDocument.h"

#include <algorithm>
#include <cwchar>
#include <unordered_map>

#include "common/WFormat.h"
#include "xml/XmlTokenizer.h"

namespace vq {

using xmldetail::kTokenEnd;
using xmldetail::Token;
using xmldetail::Tokenizer;

namespace {

constexpr uint32_t kStartLengthMax = 0x3FFFFF;  // 22 bits
constexpr uint32_t kEndLengthMax = 0x3FF;       // 10 bits
// Offsets are 32-bit: longer texts are not taken.
constexpr size_t kMaxTextLength = 0x7FFFFFFF;

uint32_t PackLengths(size_t startLength, size_t endLength) {
  uint32_t s = static_cast<uint32_t>(std::min<size_t>(startLength, kStartLengthMax));
  uint32_t e = static_cast<uint32_t>(std::min<size_t>(endLength, kEndLengthMax));
  return s | (e << 22);
}

std::wstring Decimal(size_t v) { return WFormat(L"%I64u", static_cast<uint64_t>(v)); }

}  // namespace

// Sends the tokeniser's syntax problems to the result log during a parse.
class ParseSink : public xmldetail::TokenSink {
 public:
  explicit ParseSink(XmlDocument* doc) : doc_(doc) {}
  void SyntaxError(const wchar_t* entry, size_t offset) override {
    if (!doc_->LogFull()) doc_->AddLogEntry(entry, {{L"offset", Decimal(offset)}});
  }
  void Unterminated(const wchar_t* type, size_t offset) override {
    if (!doc_->LogFull())
      doc_->AddLogEntry(L"unterminated_tag_syntax", {{L"type", type}, {L"offset", Decimal(offset)}});
  }

 private:
  XmlDocument* doc_;
};

bool XmlDocument::SetText(const wchar_t* text) {
  if (stream_) return false;
  return SetText(text ? std::wstring_view(text) : std::wstring_view());
}

bool XmlDocument::SetText(std::wstring_view text) {
  if (stream_) return false;
  // The text ends at its first NUL, as it would for a C string.
  size_t nul = text.find(L'\0');
  if (nul != std::wstring_view::npos) text = text.substr(0, nul);
  if (text.size() > kMaxTextLength) text = std::wstring_view();
  text_.assign(text.data(), text.size());
  if (text_.empty()) {
    // Releases a big index from an earlier document.
    pages_.clear();
    capacity_ = 0;
  }
  resultLog_.clear();
  Parse();
  return IsWellFormed();
}

void XmlDocument::ResetPos() {
  parent_ = main_ = child_ = 0;
  nodeKind_ = kNodeNone;
  nodeOffset_ = nodeLength_ = 0;
}

void XmlDocument::SetFlags(uint32_t flags) {
  flags_ = (flags & ~(kXmlStreamRead | kXmlStreamWrite)) | (flags_ & (kXmlStreamRead | kXmlStreamWrite));
}

bool XmlDocument::IsWellFormed() const {
  const ElementRecord& doc = Rec(0);
  return !(doc.flags & kElemNotWellFormed) && doc.firstChild != 0 && Rec(doc.firstChild).nextSibling == 0;
}

// ---- Index ---------------------------------------------------------------------------------

void XmlDocument::SizeIndex(uint32_t records) {
  // Keeps the pages already there (their memory is reused), trims or extends the last one.
  const uint32_t pages = (records + kPageSize - 1) / kPageSize;
  pages_.resize(pages);
  for (uint32_t p = 0; p < pages; ++p) {
    uint32_t want = std::min<uint32_t>(kPageSize, records - p * kPageSize);
    pages_[p].resize(want);
  }
  capacity_ = records;
}

void XmlDocument::GrowIndex() {
  // The index is always sized to 8 records or more, so half of it is never 0.
  uint64_t grown = static_cast<uint64_t>(capacity_) + std::max<uint32_t>(capacity_ / 2, 1);
  SizeIndex(static_cast<uint32_t>(std::min<uint64_t>(grown, 0xFFFFFFFFu)));
}

uint32_t XmlDocument::NewRecord() {
  if (nextFree_ >= capacity_) GrowIndex();
  uint32_t i = nextFree_++;
  Rec(i) = ElementRecord{};
  return i;
}

void XmlDocument::AddLogEntry(std::wstring_view name,
                              std::initializer_list<std::pair<const wchar_t*, std::wstring>> attrs) {
  if (LogFull()) return;
  resultLog_ += L'<';
  resultLog_ += name;
  for (const auto& a : attrs) {
    resultLog_ += L' ';
    resultLog_ += a.first;
    resultLog_ += L"=\"";
    resultLog_ += EscapeAttribute(a.second);
    resultLog_ += L'"';
  }
  resultLog_ += L"/>";
}

// ---- Parse ---------------------------------------------------------------------------------

void XmlDocument::Parse() {
  ResetPos();
  nextFree_ = 1;
  freeHead_ = 0;
  SizeIndex(static_cast<uint32_t>(text_.size() / 64 + 8));
  Rec(0) = ElementRecord{};
  if (text_.empty()) return;

  struct Open {
    uint32_t index;
    uint32_t startLength;
    std::wstring_view name;
  };
  std::vector<Open> stack;
  stack.reserve(7);
  // How many open elements carry each name: an end tag that matches none is known at once,
  // so a deep stack is never searched in vain.
  std::unordered_map<std::wstring_view, uint32_t> openNames;
  bool anyUnended = false;

  ParseSink sink(this);
  const Tokenizer tok(text_.data(), text_.size(), &sink);
  const wchar_t* s = text_.data();
  size_t pos = 0;
  for (;;) {
    const Token t = tok.Next(pos);
    if (t.kind == kTokenEnd) break;
    pos = t.end;
    const uint32_t current = stack.empty() ? 0 : stack.back().index;
    if (t.kind == kNodeElement) {
      const uint32_t i = NewRecord();
      ElementRecord& r = Rec(i);
      ElementRecord& p = Rec(current);
      r.start = static_cast<uint32_t>(t.start);
      r.length = static_cast<uint32_t>(t.end - t.start);
      r.tagLengths = PackLengths(t.end - t.start, 0);
      r.flags = static_cast<uint32_t>(std::min<size_t>(stack.size(), kElemLevelMask));
      r.parent = current;
      if (p.firstChild == 0) {
        p.firstChild = i;
        r.flags |= kElemFirst;
        r.prevSibling = i;
      } else {
        ElementRecord& first = Rec(p.firstChild);
        const uint32_t last = first.prevSibling;
        Rec(last).nextSibling = i;
        r.prevSibling = last;
        first.prevSibling = i;
      }
      if (!t.emptyElement) {
        std::wstring_view name(s + t.start + 1, t.nameLength);
        stack.push_back({i, static_cast<uint32_t>(t.end - t.start), name});
        ++openNames[name];
      }
    } else if (t.kind == kNodeEndTag) {
      std::wstring_view name(s + t.start + 2, t.nameLength);
      auto found = openNames.find(name);
      if (found == openNames.end() || found->second == 0) {
        if (!LogFull()) {
          AddLogEntry(L"lone_end_tag", {{L"tagname", std::wstring(name)}, {L"offset", Decimal(t.start)}});
        }
        Rec(0).flags |= kElemNotWellFormed;
        Rec(current).flags |= kElemHasError;
        continue;
      }
      size_t k = stack.size() - 1;
      while (stack[k].name != name) --k;
      // Everything opened after the match is unended, outermost first: each element's children
      // move up once, so long runs of unclosed tags stay linear.
      for (size_t j = k + 1; j < stack.size(); ++j) {
        Unend(stack[j].index, stack[j].startLength, t.start + 1);
        --openNames[stack[j].name];
        anyUnended = true;
      }
      ElementRecord& r = Rec(stack[k].index);
      r.length = static_cast<uint32_t>(t.end - r.start);
      r.tagLengths = PackLengths(stack[k].startLength, t.end - t.start);
      --found->second;
      stack.resize(k);
    } else if (t.kind == kNodeError) {
      Rec(0).flags |= kElemNotWellFormed;
      Rec(current).flags |= kElemHasError;
    }
  }
  for (const Open& o : stack) {
    Unend(o.index, o.startLength, text_.size());
    anyUnended = true;
  }

  if (anyUnended) {
    // Children moved up have a new depth; parents always come before their children in the
    // index, so one forward pass sets every level.
    for (uint32_t i = 1; i < nextFree_; ++i) {
      ElementRecord& r = Rec(i);
      uint32_t level =
          r.parent == 0 ? 0 : std::min<uint32_t>((Rec(r.parent).flags & kElemLevelMask) + 1, kElemLevelMask);
      r.flags = (r.flags & ~kElemLevelMask) | level;
    }
  }

  ElementRecord& doc = Rec(0);
  doc.length = static_cast<uint32_t>(text_.size());
  if (doc.firstChild == 0) {
    AddLogEntry(L"no_root_element", {});
  } else if (Rec(doc.firstChild).nextSibling != 0) {
    AddLogEntry(L"root_has_sibling", {});
  }
  ResetPos();
}

void XmlDocument::Unend(uint32_t x, uint32_t startLength, size_t offset2) {
  ElementRecord& r = Rec(x);
  // The entry's texts are only built while the log has room: a text with millions of unended
  // elements would otherwise spend most of its time formatting entries that are dropped.
  if (!LogFull()) {
    AddLogEntry(
        L"unended_start_tag",
        {{L"tagname", std::wstring(TagNameOf(x))}, {L"offset", Decimal(r.start)}, {L"offset2", Decimal(offset2)}});
  }
  Rec(0).flags |= kElemNotWellFormed;
  r.flags |= kElemUnended;
  r.tagLengths = PackLengths(startLength, 0);
  r.length = startLength;
  if (r.firstChild != 0) {
    // The children follow x as its siblings.
    const uint32_t first = r.firstChild;
    const uint32_t last = Rec(first).prevSibling;
    for (uint32_t c = first; c != 0; c = Rec(c).nextSibling) {
      Rec(c).parent = r.parent;
      Rec(c).flags &= ~kElemFirst;
    }
    const uint32_t after = r.nextSibling;
    r.nextSibling = first;
    Rec(first).prevSibling = x;
    Rec(last).nextSibling = after;
    if (after != 0) {
      Rec(after).prevSibling = last;
    } else {
      Rec(Rec(r.parent).firstChild).prevSibling = last;
    }
    r.firstChild = 0;
  }
  if (r.flags & kElemHasError) Rec(r.parent).flags |= kElemHasError;
}

// ---- Element geometry ----------------------------------------------------------------------

size_t XmlDocument::StartTagLength(uint32_t i) const {
  const ElementRecord& r = Rec(i);
  const uint32_t packed = r.tagLengths & kStartLengthMax;
  if (packed < kStartLengthMax) return packed;
  // Too long for its field: measure it again.
  const Tokenizer tok(text_.data(), text_.size(), nullptr);
  return tok.Next(r.start).end - r.start;
}

size_t XmlDocument::EndTagLength(uint32_t i) const {
  const ElementRecord& r = Rec(i);
  if (r.flags & kElemUnended) return 0;
  const uint32_t packed = r.tagLengths >> 22;
  if (packed < kEndLengthMax) return packed;
  // Too long for its field: find it again. The end tag holds no '>' but its last, and between
  // the '>' before it and its "</" only text can lie (text holds no '<'), so its start is the
  // first '<' after the nearest earlier '>'. This stays short of the element's whole content.
  const size_t end = static_cast<size_t>(r.start) + r.length;
  const size_t contentStart = r.start + StartTagLength(i);
  const wchar_t* s = text_.data();
  size_t p = end - 1;
  while (p > contentStart && s[p - 1] != L'>') --p;
  while (p < end && s[p] != L'<') ++p;
  return end - p;
}

std::wstring_view XmlDocument::TagNameOf(uint32_t i) const {
  if (i == 0 || i >= nextFree_) return {};
  const size_t start = Rec(i).start + 1;
  const Tokenizer tok(text_.data(), text_.size(), nullptr);
  return std::wstring_view(text_.data() + start, tok.NameLength(start));
}

std::wstring XmlDocument::TagName() const { return std::wstring(TagNameOf(main_)); }
std::wstring XmlDocument::ChildTagName() const { return std::wstring(TagNameOf(child_)); }

bool XmlDocument::NameMatches(uint32_t i, const wchar_t* name) const {
  if (!name || !*name) return true;
  const std::wstring_view tag = TagNameOf(i);
  const bool ignoreCase = (flags_ & kXmlIgnoreCase) != 0;
  bool folding = ignoreCase;
  size_t k = 0;
  for (; k < tag.size(); ++k) {
    wchar_t a = tag[k], b = name[k];
    if (b == 0) return false;
    if (folding) {
      if (static_cast<uint32_t>(a) >= 0x80 || static_cast<uint32_t>(b) >= 0x80) {
        folding = false;
      } else {
        if (a >= L'a' && a <= L'z') a = static_cast<wchar_t>(a - 32);
        if (b >= L'a' && b <= L'z') b = static_cast<wchar_t>(b - 32);
      }
    }
    if (a != b) return false;
  }
  return name[k] == 0;
}

// ---- Navigation ----------------------------------------------------------------------------

bool XmlDocument::FindNext(const wchar_t* name) {
  if (flags_ & kXmlStreamWrite) return false;
  if (name && name[0] == L'/') return false;
  uint32_t i = main_ ? Rec(main_).nextSibling : Rec(parent_).firstChild;
  for (; i != 0; i = Rec(i).nextSibling) {
    if (NameMatches(i, name)) {
      main_ = i;
      parent_ = Rec(i).parent;
      child_ = 0;
      nodeKind_ = kNodeElement;
      nodeOffset_ = nodeLength_ = 0;
      return true;
    }
  }
  return false;
}

bool XmlDocument::FindChild(const wchar_t* name) {
  if (flags_ & kXmlStreamWrite) return false;
  if (name && name[0] == L'/') return false;
  const uint32_t saved[6] = {parent_, main_, child_, nodeKind_, nodeOffset_, nodeLength_};
  if (main_ == 0 && !FindNext()) return false;
  uint32_t i = child_ ? Rec(child_).nextSibling : Rec(main_).firstChild;
  for (; i != 0; i = Rec(i).nextSibling) {
    if (NameMatches(i, name)) {
      child_ = i;
      parent_ = Rec(main_).parent;
      nodeKind_ = kNodeElement;
      return true;
    }
  }
  // A failed search leaves the cursor as it was, including a main position found above.
  parent_ = saved[0];
  main_ = saved[1];
  child_ = saved[2];
  nodeKind_ = saved[3];
  nodeOffset_ = saved[4];
  nodeLength_ = saved[5];
  return false;
}

bool XmlDocument::Descend() {
  if (main_ == 0 || nodeKind_ != kNodeElement) return false;
  parent_ = main_;
  main_ = child_;
  child_ = 0;
  nodeKind_ = main_ ? kNodeElement : kNodeNone;
  nodeOffset_ = nodeLength_ = 0;
  return true;
}

bool XmlDocument::Ascend() {
  if (parent_ == 0) return false;
  child_ = main_;
  main_ = parent_;
  parent_ = Rec(main_).parent;
  nodeKind_ = kNodeElement;
  nodeOffset_ = nodeLength_ = 0;
  return true;
}

bool XmlDocument::FindNode(uint32_t kinds) {
  if (flags_ & kXmlStreamWrite) return false;
  // The end of the parent's content, and where the current node ends. The parent's start tag
  // is measured only for the first step, as it may have to be measured again from the text.
  size_t end = text_.size();
  if (parent_ != 0) {
    const ElementRecord& p = Rec(parent_);
    end = static_cast<size_t>(p.start) + p.length - EndTagLength(parent_);
  }
  size_t pos = 0;
  if (nodeKind_ != kNodeNone && nodeKind_ != kNodeElement) {
    pos = static_cast<size_t>(nodeOffset_) + nodeLength_;
  } else if (main_ != 0) {
    pos = static_cast<size_t>(Rec(main_).start) + Rec(main_).length;
  } else if (parent_ != 0) {
    pos = Rec(parent_).start + StartTagLength(parent_);
  }
  if (end < pos) end = pos;
  uint32_t expected = main_ ? Rec(main_).nextSibling : Rec(parent_).firstChild;
  uint32_t lastElement = main_;
  const Tokenizer tok(text_.data(), end, nullptr);
  while (pos < end) {
    const Token t = tok.Next(pos);
    if (t.kind == kTokenEnd) break;
    if (t.kind == kNodeElement && expected != 0 && Rec(expected).start == t.start) {
      const uint32_t e = expected;
      pos = static_cast<size_t>(Rec(e).start) + Rec(e).length;
      if (kinds == 0 || (kinds & kNodeElement)) {
        main_ = e;
        parent_ = Rec(e).parent;
        child_ = 0;
        nodeKind_ = kNodeElement;
        nodeOffset_ = nodeLength_ = 0;
        return true;
      }
      lastElement = e;
      expected = Rec(e).nextSibling;
      continue;
    }
    pos = t.end;
    if (t.kind == kNodeElement || t.kind == kNodeEndTag || t.kind == kNodeError) continue;
    if (kinds == 0 || (kinds & t.kind)) {
      main_ = lastElement;
      child_ = 0;
      nodeKind_ = t.kind;
      nodeOffset_ = static_cast<uint32_t>(t.start);
      nodeLength_ = static_cast<uint32_t>(t.end - t.start);
      return true;
    }
  }
  return false;
}

// ---- Text ----------------------------------------------------------------------------------

std::wstring XmlDocument::DecodeText(std::wstring_view text) {
  std::wstring out;
  xmldetail::AppendDecoded(text.data(), text.size(), out);
  return out;
}

std::wstring XmlDocument::ApplyWhitespaceFlags(std::wstring s) const {
  if (!(flags_ & (kXmlTrimWhitespace | kXmlCollapseWhitespace))) return s;
  if (flags_ & kXmlCollapseWhitespace) {
    std::wstring out;
    out.reserve(s.size());
    bool space = false;
    for (wchar_t c : s) {
      if (Tokenizer::IsSpace(c)) {
        space = true;
        continue;
      }
      if (space && !out.empty()) out += L' ';
      space = false;
      out += c;
    }
    return out;
  }
  size_t b = 0, e = s.size();
  while (b < e && Tokenizer::IsSpace(s[b])) ++b;
  while (e > b && Tokenizer::IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::wstring XmlDocument::ContentText(uint32_t i) const {
  const ElementRecord& r = Rec(i);
  if (r.firstChild != 0 || (r.flags & kElemUnended)) return {};
  const size_t startLength = StartTagLength(i);
  if (r.length <= startLength) return {};
  const size_t begin = r.start + startLength;
  const size_t end = static_cast<size_t>(r.start) + r.length - EndTagLength(i);
  if (end <= begin) return {};
  const wchar_t* s = text_.data();
  std::wstring out;
  if (!std::wmemchr(s + begin, L'<', end - begin)) {
    xmldetail::AppendDecoded(s + begin, end - begin, out);
    return ApplyWhitespaceFlags(std::move(out));
  }
  const Tokenizer tok(s, end, nullptr);
  for (size_t pos = begin;;) {
    const Token t = tok.Next(pos);
    if (t.kind == kTokenEnd) break;
    if (t.kind == kNodeText) {
      xmldetail::AppendDecoded(s + t.start, t.end - t.start, out);
    } else if (t.kind == kNodeCData) {
      out.append(s + t.start + 9, t.end - t.start - 12);
    }
    pos = t.end;
  }
  return ApplyWhitespaceFlags(std::move(out));
}

std::wstring XmlDocument::ElementText() const {
  if (main_ == 0) return {};
  return ContentText(main_);
}

std::wstring XmlDocument::NodeText() const {
  if (nodeKind_ == kNodeElement) return ElementText();
  if (nodeKind_ == kNodeNone) return {};
  const wchar_t* s = text_.data() + nodeOffset_;
  const size_t n = nodeLength_;
  switch (nodeKind_) {
    case kNodeCData:
      return std::wstring(s + 9, n - 12);
    case kNodeComment:
      return std::wstring(s + 4, n - 7);
    case kNodeProcessingInstruction:
      return std::wstring(s + 2, n - 4);
    case kNodeText: {
      std::wstring out;
      xmldetail::AppendDecoded(s, n, out);
      return ApplyWhitespaceFlags(std::move(out));
    }
    default:
      return std::wstring(s, n);
  }
}

bool XmlDocument::FindAttribute(uint32_t i, std::wstring_view name, size_t* attrStart, size_t* attrEnd,
                                size_t* valueStart, size_t* valueEnd) const {
  if (i == 0 || i >= nextFree_) return false;
  const ElementRecord& r = Rec(i);
  const wchar_t* s = text_.data();
  const size_t startLength = StartTagLength(i);
  size_t end = r.start + startLength;  // after '>'
  if (end > r.start + 1 && s[end - 1] == L'>') --end;
  size_t p = r.start + 1 + TagNameOf(i).size();
  while (p < end) {
    while (p < end && (Tokenizer::IsSpace(s[p]) || s[p] == L'/')) ++p;
    if (p >= end) break;
    const size_t nameStart = p;
    while (p < end && !Tokenizer::IsSpace(s[p]) && s[p] != L'=' && s[p] != L'>' && s[p] != L'"' && s[p] != L'\'') ++p;
    const size_t nameEnd = p;
    if (nameEnd == nameStart) {
      // A stray character; a stray quote starts a quoted run like the tokeniser's.
      if (s[p] == L'"' || s[p] == L'\'') {
        const wchar_t q = s[p++];
        while (p < end && s[p] != q) ++p;
      }
      ++p;
      continue;
    }
    while (p < end && Tokenizer::IsSpace(s[p])) ++p;
    size_t vs = p, ve = p;
    size_t attrEndPos = nameEnd;
    if (p < end && s[p] == L'=') {
      ++p;
      while (p < end && Tokenizer::IsSpace(s[p])) ++p;
      if (p < end && (s[p] == L'"' || s[p] == L'\'')) {
        const wchar_t quote = s[p++];
        vs = p;
        while (p < end && s[p] != quote) ++p;
        ve = p;
        if (p < end) ++p;
      } else {
        vs = p;
        while (p < end && !Tokenizer::IsSpace(s[p])) ++p;
        ve = p;
      }
      attrEndPos = p;
    } else {
      vs = ve = nameEnd;
    }
    if (std::wstring_view(s + nameStart, nameEnd - nameStart) == name) {
      if (attrStart) *attrStart = nameStart;
      if (attrEnd) *attrEnd = attrEndPos;
      if (valueStart) *valueStart = vs;
      if (valueEnd) *valueEnd = ve;
      return true;
    }
  }
  return false;
}

bool XmlDocument::GetAttrib(const wchar_t* name, std::wstring* value) const {
  if (!name || !*name) return false;
  size_t vs, ve;
  if (!FindAttribute(main_, name, nullptr, nullptr, &vs, &ve)) return false;
  if (value) *value = DecodeText(std::wstring_view(text_.data() + vs, ve - vs));
  return true;
}

}  // namespace vq
