// File operations of XmlDocument: reading with encoding detection and writing, both streamed
// through the platform's file handles. Everything they notice goes to the result log.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/Text.h"
#include "common/WFormat.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "xml/XmlDocument.h"

namespace vq {

namespace {

enum class Encoding { kUtf8, kUtf16LE, kUtf16BE, kCodePage };

constexpr size_t kSniffBytes = 1024;

std::wstring Decimal(uint64_t v) { return WFormat(L"%I64u", v); }

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of name="..." (or '...', or an unquoted word) inside lowered[from, to).
std::string AttributeValue(const std::string& raw, const std::string& lowered, size_t from, size_t to,
                           const char* name) {
  const size_t n = std::strlen(name);
  for (size_t at = lowered.find(name, from); at != std::string::npos && at < to; at = lowered.find(name, at + 1)) {
    size_t p = at + n;
    while (p < to && IsBlank(raw[p])) ++p;
    if (p >= to || raw[p] != '=') continue;
    ++p;
    while (p < to && IsBlank(raw[p])) ++p;
    if (p >= to) break;
    char quote = 0;
    if (raw[p] == '"' || raw[p] == '\'') quote = raw[p++];
    size_t e = p;
    while (e < to && (quote ? raw[e] != quote : !IsBlank(raw[e]) && raw[e] != '>' && raw[e] != '?')) ++e;
    return raw.substr(p, e - p);
  }
  return {};
}

// The encoding an 8-bit document declares within its first bytes: the "encoding" of an xml
// declaration, or the charset of an html head's Content-Type meta element.
std::string DeclaredEncoding(const std::string& head) {
  const std::string lowered = Lower(head);
  size_t p = 0;
  while (p < head.size() && IsBlank(head[p])) ++p;
  if (lowered.compare(p, 5, "<?xml") == 0) {
    const size_t end = std::min(lowered.find("?>", p), head.size());
    std::string v = AttributeValue(head, lowered, p + 5, end, "encoding");
    if (!v.empty()) return v;
  }
  const size_t html = lowered.find("<html");
  if (html == std::string::npos) return {};
  const size_t headAt = lowered.find("<head", html);
  if (headAt == std::string::npos) return {};
  const size_t headEnd = std::min(lowered.find("</head", headAt), head.size());
  for (size_t m = lowered.find("<meta", headAt); m < headEnd; m = lowered.find("<meta", m + 1)) {
    const size_t end = std::min(lowered.find('>', m), headEnd);
    if (Lower(AttributeValue(head, lowered, m, end, "http-equiv")) != "content-type") continue;
    const std::string content = Lower(AttributeValue(head, lowered, m, end, "content"));
    size_t c = content.find("charset");
    if (c == std::string::npos) continue;
    c += 7;
    while (c < content.size() && IsBlank(content[c])) ++c;
    if (c >= content.size() || content[c] != '=') continue;
    ++c;
    while (c < content.size() && IsBlank(content[c])) ++c;
    size_t e = c;
    while (e < content.size() && content[e] != ';' && !IsBlank(content[e])) ++e;
    // Keep the spelling of the file, not the lowered copy.
    const size_t inRaw = lowered.find(content.substr(c, e - c), m);
    return inRaw == std::string::npos ? content.substr(c, e - c) : head.substr(inRaw, e - c);
  }
  return {};
}

// Length of the complete UTF-8 prefix of bytes: a sequence cut by the end of the buffer is left
// for the next read.
size_t CompleteUtf8Prefix(const std::string& bytes) {
  const size_t n = bytes.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const unsigned char c = static_cast<unsigned char>(bytes[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation: look further back
    size_t need = 1;
    if (c >= 0xF0) {
      need = 4;
    } else if (c >= 0xE0) {
      need = 3;
    } else if (c >= 0xC0) {
      need = 2;
    }
    return need > back ? n - back : n;
  }
  return n;
}

bool IsUtf8(const std::string& bytes) {
  const std::wstring w = Utf8ToWide(bytes);
  size_t replacements = static_cast<size_t>(std::count(w.begin(), w.end(), static_cast<wchar_t>(0xFFFD)));
  size_t literal = 0;
  for (size_t at = bytes.find("\xEF\xBF\xBD"); at != std::string::npos; at = bytes.find("\xEF\xBF\xBD", at + 3))
    ++literal;
  return replacements == literal;
}

const wchar_t* EncodingName(Encoding e) {
  switch (e) {
    case Encoding::kUtf8:
      return L"UTF-8";
    case Encoding::kUtf16LE:
      return L"UTF-16LE";
    case Encoding::kUtf16BE:
      return L"UTF-16BE";
    case Encoding::kCodePage:
      break;
  }
  return L"ANSI";
}

}  // namespace

struct XmlDocument::Stream {
  platform::File file;
  uint32_t mode = 0;
  Encoding encoding = Encoding::kUtf8;
  std::wstring encodingName;  // as declared, for the log
  std::string pending;        // bytes read but not decoded yet
  bool atEnd = false;
  bool swapLogged = false;
};

XmlDocument::XmlDocument() { SetText(static_cast<const wchar_t*>(nullptr)); }

XmlDocument::~XmlDocument() { Close(); }

void XmlDocument::LogFileError(const wchar_t* what) {
  AddLogEntry(L"file_error", {{L"msg", WFormat(L"%s failed, system error %d", what, platform::File::LastError())}});
}

bool XmlDocument::Open(const std::wstring& path, uint32_t mode) {
  if (stream_) return false;
  if (mode != kXmlFileRead && mode != kXmlFileWrite && mode != kXmlFileAppend) return false;
  resultLog_.clear();
  auto s = std::make_unique<Stream>();
  s->mode = mode;
  if (mode == kXmlFileRead) {
    s->file = platform::File::OpenRead(path);
    if (!s->file.IsOpen()) {
      LogFileError(L"open");
      return false;
    }
    // The first bytes decide the encoding.
    char buf[kSniffBytes];
    while (s->pending.size() < kSniffBytes) {
      const size_t n = s->file.Read(buf, kSniffBytes - s->pending.size());
      if (n == 0) {
        s->atEnd = true;
        break;
      }
      s->pending.append(buf, n);
    }
    const std::string head = s->pending;
    bool bom = true;
    auto startsWith = [&](const char* mark, size_t n) { return head.size() >= n && head.compare(0, n, mark, n) == 0; };
    if (startsWith("\xEF\xBB\xBF", 3)) {
      s->encoding = Encoding::kUtf8;
      s->pending.erase(0, 3);
    } else if (startsWith("\xFF\xFE", 2)) {
      s->encoding = Encoding::kUtf16LE;
      s->pending.erase(0, 2);
    } else if (startsWith("\xFE\xFF", 2)) {
      s->encoding = Encoding::kUtf16BE;
      s->pending.erase(0, 2);
    } else {
      bom = false;
      const std::string declared = DeclaredEncoding(head);
      const std::string lowered = Lower(declared);
      if (!declared.empty()) {
        if (lowered == "utf-8" || lowered == "utf8") {
          s->encoding = Encoding::kUtf8;
        } else {
          // Any other 8-bit encoding is read through the platform's code page (936 on a
          // Chinese desktop, which covers GB2312 and GBK).
          s->encoding = Encoding::kCodePage;
          s->encodingName = Utf8ToWide(declared);
        }
      } else if (!head.empty() && head[0] == '<') {
        s->encoding = Encoding::kUtf8;
      } else {
        const bool utf8 = IsUtf8(head.substr(0, s->atEnd ? head.size() : CompleteUtf8Prefix(head)));
        s->encoding = utf8 ? Encoding::kUtf8 : Encoding::kCodePage;
        AddLogEntry(L"utf8_detection", {{L"encoding", utf8 ? L"UTF-8" : L"ANSI"}});
      }
    }
    if (s->encodingName.empty()) s->encodingName = EncodingName(s->encoding);
    if (bom) AddLogEntry(L"bom", {{L"encoding", s->encodingName}});
    if (!head.empty()) AddLogEntry(L"read", {{L"encoding", s->encodingName}, {L"length", Decimal(head.size())}});
    if (s->encoding == Encoding::kCodePage) {
      AddLogEntry(L"converted_from", {{L"encoding", s->encodingName}});
      AddLogEntry(L"converted_to", {{L"encoding", L"UTF-16"}});
    }
    flags_ |= kXmlStreamRead;
  } else {
    if (mode == kXmlFileAppend) {
      // Appending keeps a UTF-16 file in UTF-16.
      {
        // Closed again before the exclusive open below, which it would otherwise block.
        platform::File existing = platform::File::OpenRead(path);
        unsigned char mark[2] = {0, 0};
        if (existing.IsOpen() && existing.Read(mark, 2) == 2) {
          if (mark[0] == 0xFF && mark[1] == 0xFE) s->encoding = Encoding::kUtf16LE;
          if (mark[0] == 0xFE && mark[1] == 0xFF) s->encoding = Encoding::kUtf16BE;
        }
      }
      bool created = false;
      s->file = platform::File::OpenAppendExclusive(path, &created);
      // The handle starts at the beginning; appending writes after the last byte.
      if (s->file.IsOpen() && !s->file.SeekEnd()) {
        LogFileError(L"seek");
        return false;
      }
    } else {
      s->file = platform::File::CreateAlways(path);
    }
    if (!s->file.IsOpen()) {
      LogFileError(L"open");
      return false;
    }
    s->encodingName = EncodingName(s->encoding);
    flags_ |= kXmlStreamWrite;
  }
  stream_ = std::move(s);
  return true;
}

bool XmlDocument::ReadText(std::wstring* out, size_t maxUnits) {
  if (!stream_ || stream_->mode != kXmlFileRead || !out) return false;
  Stream& s = *stream_;
  const bool wide = s.encoding == Encoding::kUtf16LE || s.encoding == Encoding::kUtf16BE;
  if (maxUnits == 0) maxUnits = 1;
  // Code-page text is converted in one piece: a double-byte character must not be split.
  // Otherwise each call reads one more piece, so a character cut at the end of what is held
  // always gets the bytes it waits for.
  const bool whole = s.encoding == Encoding::kCodePage;
  const size_t piece = wide ? 2 * maxUnits : maxUnits;
  std::string buf(whole ? size_t{1} << 16 : piece, '\0');
  while (!s.atEnd) {
    const size_t n = s.file.Read(&buf[0], buf.size());
    if (n == 0) {
      s.atEnd = true;
      break;
    }
    s.pending.append(buf.data(), n);
    AddLogEntry(L"read", {{L"encoding", s.encodingName}, {L"length", Decimal(n)}});
    if (!whole) break;
  }
  if (s.pending.empty()) return false;

  std::wstring text;
  size_t used = s.pending.size();
  if (wide) {
    used &= ~static_cast<size_t>(1);
    if (s.encoding == Encoding::kUtf16BE && !s.swapLogged) {
      AddLogEntry(L"endian_swap", {});
      s.swapLogged = true;
    }
    std::u16string units(used / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
      const unsigned char a = static_cast<unsigned char>(s.pending[2 * i]);
      const unsigned char b = static_cast<unsigned char>(s.pending[2 * i + 1]);
      units[i] =
          s.encoding == Encoding::kUtf16LE ? static_cast<char16_t>(a | (b << 8)) : static_cast<char16_t>((a << 8) | b);
    }
    // A pair cut by the end of this piece waits for the next one.
    if (!s.atEnd && !units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) {
      units.pop_back();
      used -= 2;
    }
    text = Utf16ToWide(units);
  } else if (s.encoding == Encoding::kUtf8) {
    const size_t complete = CompleteUtf8Prefix(s.pending);
    if (!IsUtf8(s.pending.substr(0, complete))) AddLogEntry(L"conversion_loss", {{L"encoding", s.encodingName}});
    if (!s.atEnd) used = complete;
    if (s.atEnd && complete < s.pending.size()) {
      AddLogEntry(L"truncation_error", {{L"length", Decimal(s.pending.size() - complete)}});
    }
    text = Utf8ToWide(std::string_view(s.pending).substr(0, used));
  } else {
    text = platform::AnsiToWide(s.pending);
  }
  if (s.atEnd && used < s.pending.size()) {
    AddLogEntry(L"truncation_error", {{L"length", Decimal(s.pending.size() - used)}});
    used = s.pending.size();
  }
  s.pending.erase(0, used);
  // The text ends at its first NUL in memory, so NULs read from the file are dropped rather
  // than cutting the document short.
  const size_t before = text.size();
  text.erase(std::remove(text.begin(), text.end(), L'\0'), text.end());
  if (text.size() != before) AddLogEntry(L"nulls_removed", {{L"count", Decimal(before - text.size())}});
  out->append(text);
  return true;
}

bool XmlDocument::WriteText(std::wstring_view text) {
  if (!stream_ || stream_->mode == kXmlFileRead) return false;
  Stream& s = *stream_;
  std::string bytes;
  if (s.encoding == Encoding::kUtf8) {
    bytes = WideToUtf8(text);
  } else {
    bytes = WideToUtf16LEBytes(text);
    if (s.encoding == Encoding::kUtf16BE)
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t n = s.file.Write(bytes.data() + done, bytes.size() - done);
    if (n == 0) {
      LogFileError(L"write");
      AddLogEntry(L"write", {{L"encoding", s.encodingName}, {L"length", Decimal(done)}});
      return false;
    }
    done += n;
  }
  AddLogEntry(L"write", {{L"encoding", s.encodingName}, {L"length", Decimal(done)}});
  return true;
}

void XmlDocument::Close() {
  stream_.reset();
  flags_ &= ~(kXmlStreamRead | kXmlStreamWrite);
}

bool XmlDocument::Load(const std::wstring& path) {
  if (stream_) return false;
  if (!Open(path, kXmlFileRead)) return false;
  std::wstring text;
  while (ReadText(&text, 1 << 16)) {
  }
  std::wstring fileLog = std::move(resultLog_);
  Close();
  const bool wellFormed = SetText(text);
  // The read's entries come first; the parse's follow while the log has room.
  std::wstring parseLog = std::move(resultLog_);
  resultLog_ = std::move(fileLog);
  for (size_t from = 0; from < parseLog.size() && !LogFull();) {
    const size_t end = parseLog.find(L"/>", from);
    if (end == std::wstring::npos) break;
    resultLog_.append(parseLog, from, end + 2 - from);
    from = end + 2;
  }
  return wellFormed;
}

bool XmlDocument::Save(const std::wstring& path) {
  if (stream_) return false;
  if (!Open(path, kXmlFileWrite)) return false;
  const bool ok = WriteText(text_);
  Close();
  return ok;
}

}  // namespace vq
