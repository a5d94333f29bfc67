#include "xml/XmlTokenizer.h"

#include <cwchar>

namespace vq::xmldetail {

size_t Tokenizer::NameLength(size_t pos) const {
  size_t i = pos;
  while (i < n_ && !EndsName(s_[i])) ++i;
  return i - pos;
}

size_t Tokenizer::Find(size_t from, wchar_t c) const {
  if (from >= n_) return n_;
  const wchar_t* p = std::wmemchr(s_ + from, c, n_ - from);
  return p ? static_cast<size_t>(p - s_) : n_;
}

size_t Tokenizer::FindClose(size_t from, const wchar_t* seq, size_t seqLength) const {
  // Look for the final '>' and check the units before it; every unit is looked at a bounded
  // number of times, so long unterminated sections stay linear.
  size_t i = from + seqLength - 1;
  for (;;) {
    i = Find(i, L'>');
    if (i >= n_) return n_;
    bool match = true;
    for (size_t k = 0; k + 1 < seqLength; ++k) {
      if (s_[i - (seqLength - 1) + k] != seq[k]) {
        match = false;
        break;
      }
    }
    if (match) return i;
    ++i;
  }
}

Token Tokenizer::Fail(Token t, const wchar_t* entry, size_t from) const {
  if (sink_) sink_->SyntaxError(entry, t.start);
  return FailFrom(t, from);
}

Token Tokenizer::Open(Token t, const wchar_t* type) const {
  if (sink_) sink_->Unterminated(type, t.start);
  t.kind = kNodeError;
  t.end = n_;
  return t;
}

Token Tokenizer::Next(size_t pos) const {
  Token t;
  t.start = pos;
  if (pos >= n_) {
    t.end = pos;
    return t;
  }
  if (s_[pos] != L'<') {
    size_t i = pos;
    while (i < n_ && IsSpace(s_[i])) ++i;
    t.kind = kNodeWhitespace;
    if (i < n_ && s_[i] != L'<') {
      t.kind = kNodeText;
      i = Find(i, L'<');
    }
    t.end = i;
    return t;
  }
  if (pos + 1 >= n_) return Open(t, L"tag");
  const wchar_t c = s_[pos + 1];
  if (c == L'/') {
    size_t gt = Find(pos + 2, L'>');
    if (gt >= n_) return Open(t, L"end_tag");
    t.kind = kNodeEndTag;
    t.end = gt + 1;
    t.nameLength = NameLength(pos + 2);
    return t;
  }
  if (c == L'?') {
    size_t gt = FindClose(pos + 2, L"?>", 2);
    if (gt >= n_) return Open(t, L"processing_instruction");
    t.kind = kNodeProcessingInstruction;
    t.end = gt + 1;
    return t;
  }
  if (c == L'!') {
    if (pos + 2 >= n_) return Open(t, L"tag");
    const wchar_t d = s_[pos + 2];
    if (d == L'-') {
      if (pos + 3 >= n_) return Open(t, L"comment");
      if (s_[pos + 3] != L'-') return Fail(t, L"comment_tag_syntax", pos + 3);
      // The closing "-->" cannot share units with the opening "<!--".
      size_t gt = FindClose(pos + 4, L"-->", 3);
      if (gt >= n_) return Open(t, L"comment");
      t.kind = kNodeComment;
      t.end = gt + 1;
      return t;
    }
    if (d == L'[') {
      if (pos + 3 >= n_) return Open(t, L"cdata_section");
      if (s_[pos + 3] != L'C') return Fail(t, L"cdata_section_syntax", pos + 3);
      // Searched after the nine units of "<![CDATA[" so the inner text never has a negative
      // length, whatever the opening really spells.
      size_t gt = FindClose(pos + 9, L"]]>", 3);
      if (gt >= n_) return Open(t, L"cdata_section");
      t.kind = kNodeCData;
      t.end = gt + 1;
      return t;
    }
    if (d == L'D') return DocumentType(t);
    return Fail(t, L"exclamation_tag_syntax", pos + 2);
  }
  if (StartsName(c)) return StartTag(t);
  return Fail(t, L"first_tag_syntax", pos + 1);
}

Token Tokenizer::StartTag(Token t) const {
  t.nameLength = NameLength(t.start + 1);
  wchar_t quote = 0;
  bool afterEquals = false;  // '=' seen, value not begun
  bool unquoted = false;     // inside an unquoted attribute value
  for (size_t i = t.start + 1 + t.nameLength; i < n_; ++i) {
    const wchar_t c = s_[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == L'>') {
      t.kind = kNodeElement;
      t.end = i + 1;
      t.emptyElement = s_[i - 1] == L'/' && !unquoted;
      return t;
    }
    if (afterEquals) {
      if (IsSpace(c)) continue;
      afterEquals = false;
      if (c == L'"' || c == L'\'') {
        quote = c;
      } else {
        unquoted = true;
      }
      continue;
    }
    if (unquoted) {
      if (IsSpace(c)) unquoted = false;
      continue;
    }
    if (c == L'=') {
      afterEquals = true;
    } else if (c == L'"' || c == L'\'') {
      quote = c;
    }
  }
  return Open(t, L"start_tag");
}

Token Tokenizer::DocumentType(Token t) const {
  wchar_t quote = 0;
  size_t i = t.start + 2;
  while (i < n_) {
    const wchar_t c = s_[i];
    if (quote) {
      if (c == quote) quote = 0;
      ++i;
      continue;
    }
    if (c == L'"' || c == L'\'') {
      quote = c;
      ++i;
      continue;
    }
    if (c == L'>') {
      t.kind = kNodeDocumentType;
      t.end = i + 1;
      return t;
    }
    if (c != L'[') {
      ++i;
      continue;
    }
    // Internal subset: markup declarations and comments up to ']'.
    ++i;
    for (;;) {
      if (i >= n_) return Open(t, L"document_type");
      const wchar_t e = s_[i];
      if (e == L']') {
        ++i;
        break;
      }
      if (e != L'<') {
        ++i;
        continue;
      }
      if (i + 2 >= n_) return Open(t, L"document_type");
      const wchar_t k = s_[i + 2];
      if (s_[i + 1] != L'!') {
        if (sink_) sink_->SyntaxError(L"doctype_tag_syntax", i);
        return FailFrom(t, i + 1);
      }
      if (k == L'-') {
        if (i + 3 >= n_) return Open(t, L"document_type");
        if (s_[i + 3] != L'-') {
          if (sink_) sink_->SyntaxError(L"doctype_tag_syntax", i);
          return FailFrom(t, i + 1);
        }
        size_t gt = FindClose(i + 4, L"-->", 3);
        if (gt >= n_) return Open(t, L"document_type");
        i = gt + 1;
        continue;
      }
      if (k != L'A' && k != L'E' && k != L'N') {
        if (sink_) sink_->SyntaxError(L"doctype_tag_syntax", i);
        return FailFrom(t, i + 1);
      }
      // A declaration: up to its '>', quoted literals skipped.
      wchar_t q = 0;
      size_t j = i + 3;
      for (; j < n_; ++j) {
        if (q) {
          if (s_[j] == q) q = 0;
        } else if (s_[j] == L'"' || s_[j] == L'\'') {
          q = s_[j];
        } else if (s_[j] == L'>') {
          break;
        }
      }
      if (j >= n_) return Open(t, L"document_type");
      i = j + 1;
    }
  }
  return Open(t, L"document_type");
}

Token Tokenizer::FailFrom(Token t, size_t from) const {
  size_t gt = Find(from, L'>');
  t.kind = kNodeError;
  t.end = gt < n_ ? gt + 1 : n_;
  return t;
}

}  // namespace vq::xmldetail
