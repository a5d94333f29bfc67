// The tokeniser behind XmlDocument: splits a text into nodes without building anything. It is
// context-free from the start of a token, so the content of an element can be tokenised again
// on its own and gives the same tokens as the whole-document pass did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/XmlDocument.h"

namespace vq::xmldetail {

constexpr uint32_t kTokenEnd = 0;  // no token: the end of the range

struct Token {
  uint32_t kind = kTokenEnd;  // an XmlNodeKind, kNodeEndTag, kNodeError or kTokenEnd
  size_t start = 0;
  size_t end = 0;         // one past the last unit
  size_t nameLength = 0;  // start and end tags: units of the tag name
  bool emptyElement = false;
};

// Receives the syntax problems the tokeniser meets.
class TokenSink {
 public:
  virtual ~TokenSink() = default;
  virtual void SyntaxError(const wchar_t* entry, size_t offset) = 0;
  virtual void Unterminated(const wchar_t* type, size_t offset) = 0;
};

class Tokenizer {
 public:
  // Tokenises text[0, end); sink may be null.
  Tokenizer(const wchar_t* text, size_t end, TokenSink* sink) : s_(text), n_(end), sink_(sink) {}
  Token Next(size_t pos) const;

  static bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
  static bool EndsName(wchar_t c) { return IsSpace(c) || c == L'/' || c == L'>'; }
  static bool StartsName(wchar_t c) {
    return c == L':' || c == L'_' || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
           static_cast<uint32_t>(c) > static_cast<uint32_t>(L'z');
  }
  // Units of the tag name beginning at pos (up to whitespace, '/', '>' or the end).
  size_t NameLength(size_t pos) const;

 private:
  Token StartTag(Token t) const;
  Token DocumentType(Token t) const;
  Token Fail(Token t, const wchar_t* entry, size_t from) const;
  // An error token running to the next '>' at or after 'from' (or to the end).
  Token FailFrom(Token t, size_t from) const;
  Token Open(Token t, const wchar_t* type) const;
  size_t Find(size_t from, wchar_t c) const;
  // Position of the '>' ending the sequence (e.g. "-->"), searched from 'from'; n_ if none.
  size_t FindClose(size_t from, const wchar_t* seq, size_t seqLength) const;

  const wchar_t* s_;
  size_t n_;
  TokenSink* sink_;
};

// Decodes the references in text[0, n) and appends the result.
void AppendDecoded(const wchar_t* text, size_t n, std::wstring& out);
// Code point of a named reference given as written (case folded for the lookup); 0 if unknown.
uint32_t LookupNamedReference(const wchar_t* name, size_t n);
size_t NamedReferenceCount();

}  // namespace vq::xmldetail
