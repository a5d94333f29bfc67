// Building markup: escaping, CDATA wrapping, and the operations that add elements and
// attributes. An edit changes the text and parses it again, which keeps the index exact with
// one code path; building is meant for small documents such as the result log.
#include "xml/XmlDocument.h"
#include "xml/XmlTokenizer.h"

namespace vq {

using xmldetail::Tokenizer;

namespace {

// A plain tag or attribute name: nothing in it can end the name or break out of the markup.
bool IsPlainName(const wchar_t* name) {
  if (!name || !Tokenizer::StartsName(name[0])) return false;
  for (const wchar_t* p = name; *p; ++p) {
    const wchar_t c = *p;
    if (Tokenizer::IsSpace(c) || c == L'/' || c == L'>' || c == L'<' || c == L'&' || c == L'"' || c == L'\'' ||
        c == L'=')
      return false;
  }
  return true;
}

std::wstring Escape(std::wstring_view text, bool attribute) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'<':
        out += L"&lt;";
        break;
      case L'&':
        out += L"&amp;";
        break;
      case L'>':
        out += L"&gt;";
        break;
      case L'"':
        if (attribute) {
          out += L"&quot;";
        } else {
          out += c;
        }
        break;
      case L'\'':
        if (attribute) {
          out += L"&apos;";
        } else {
          out += c;
        }
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::wstring XmlDocument::EscapeText(std::wstring_view text) { return Escape(text, false); }
std::wstring XmlDocument::EscapeAttribute(std::wstring_view text) { return Escape(text, true); }

std::wstring XmlDocument::WrapCData(std::wstring_view text) {
  std::wstring out = L"<![CDATA[";
  size_t from = 0;
  for (;;) {
    size_t at = text.find(L"]]>", from);
    if (at == std::wstring_view::npos) break;
    out.append(text.substr(from, at - from));
    out += L"]]]]><![CDATA[>";
    from = at + 3;
  }
  out.append(text.substr(from));
  out += L"]]>";
  return out;
}

void XmlDocument::Reparse(std::wstring text) {
  text_ = std::move(text);
  resultLog_.clear();
  Parse();
}

uint32_t XmlDocument::FindRecordAt(size_t start) const {
  for (uint32_t i = 1; i < nextFree_; ++i)
    if (Rec(i).start == start) return i;
  return 0;
}

size_t XmlDocument::InsertionPointInside(uint32_t i, std::wstring* text) const {
  const ElementRecord& r = Rec(i);
  const size_t startLength = StartTagLength(i);
  const size_t afterStart = r.start + startLength;
  if (r.flags & kElemUnended) return afterStart;
  const size_t endLength = EndTagLength(i);
  if (endLength > 0) return static_cast<size_t>(r.start) + r.length - endLength;
  // An empty-element tag "<x/>" becomes "<x></x>" so it can hold content.
  if (startLength < 3 || (*text)[afterStart - 2] != L'/') return afterStart;
  const size_t slash = afterStart - 2;
  text->erase(slash, 1);
  std::wstring close = L"</";
  close += TagNameOf(i);
  close += L'>';
  text->insert(slash + 1, close);
  return slash + 1;
}

bool XmlDocument::InsertElement(bool asChild, const wchar_t* name, const wchar_t* content, uint32_t flags) {
  if (flags_ & kXmlStreamRead) return false;
  if (!IsPlainName(name)) return false;
  if (asChild && main_ == 0) return false;
  std::wstring markup = L"<";
  markup += name;
  if (content && *content) {
    markup += L'>';
    markup += (flags & kMarkupCData) ? WrapCData(content) : EscapeText(content);
    markup += L"</";
    markup += name;
    markup += L'>';
  } else {
    markup += L"/>";
  }
  std::wstring t = text_;
  size_t at;
  if (asChild) {
    at = child_ ? static_cast<size_t>(Rec(child_).start) + Rec(child_).length : InsertionPointInside(main_, &t);
  } else if (main_) {
    at = static_cast<size_t>(Rec(main_).start) + Rec(main_).length;
  } else if (parent_) {
    at = InsertionPointInside(parent_, &t);
  } else {
    at = t.size();
  }
  t.insert(at, markup);
  Reparse(std::move(t));
  const uint32_t n = FindRecordAt(at);
  if (n == 0) return false;
  if (asChild) {
    child_ = n;
    main_ = Rec(n).parent;
    parent_ = main_ ? Rec(main_).parent : 0;
    nodeKind_ = main_ ? kNodeElement : kNodeNone;
  } else {
    main_ = n;
    parent_ = Rec(n).parent;
    child_ = 0;
    nodeKind_ = kNodeElement;
  }
  return true;
}

bool XmlDocument::AddElem(const wchar_t* name, const wchar_t* text, uint32_t flags) {
  return InsertElement(false, name, text, flags);
}

bool XmlDocument::AddChildElem(const wchar_t* name, const wchar_t* text, uint32_t flags) {
  return InsertElement(true, name, text, flags);
}

bool XmlDocument::SetAttribOf(uint32_t i, const wchar_t* name, const wchar_t* value) {
  if (flags_ & kXmlStreamRead) return false;
  if (i == 0 || !IsPlainName(name)) return false;
  std::wstring attr = name;
  attr += L"=\"";
  attr += EscapeAttribute(value ? value : L"");
  attr += L'"';
  std::wstring t = text_;
  size_t nameStart, end;
  if (FindAttribute(i, name, &nameStart, &end)) {
    t.replace(nameStart, end - nameStart, attr);
  } else {
    const ElementRecord& r = Rec(i);
    const size_t afterStart = r.start + StartTagLength(i);
    size_t at = afterStart - 1;  // the '>'
    const bool emptyElement = !(r.flags & kElemUnended) && r.length == afterStart - r.start;
    if (emptyElement && afterStart - r.start >= 3 && t[afterStart - 2] == L'/') at = afterStart - 2;
    t.insert(at, L" " + attr);
  }
  // The tree keeps its shape, so the indexes of the cursor stay valid.
  const uint32_t saved[4] = {parent_, main_, child_, nodeKind_};
  Reparse(std::move(t));
  parent_ = saved[0];
  main_ = saved[1];
  child_ = saved[2];
  nodeKind_ = saved[3];
  return true;
}

bool XmlDocument::SetAttrib(const wchar_t* name, const wchar_t* value) { return SetAttribOf(main_, name, value); }
bool XmlDocument::SetChildAttrib(const wchar_t* name, const wchar_t* value) { return SetAttribOf(child_, name, value); }

}  // namespace vq
