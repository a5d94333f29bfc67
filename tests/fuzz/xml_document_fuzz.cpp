// Feeds arbitrary text to XmlDocument::SetText, then walks the whole tree through the cursor
// and reads the text of every element and node. The input bytes are taken as little-endian
// UTF-16 units half of the time and as UTF-8 the other half, so both surrogate-laden unit
// sequences and ordinary markup get explored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Text.h"
#include "xml/XmlDocument.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::wstring ToText(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  if (data[0] & 1) {
    std::wstring out;
    for (size_t i = 1; i + 1 < size; i += 2) out.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return out;
  }
  return vq::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = ToText(data, size);
  vq::XmlDocument d;
  const bool wellFormed = d.SetText(text);
  Check(wellFormed == d.IsWellFormed());
  Check(d.Text().size() <= text.size());
  const uint32_t length = static_cast<uint32_t>(d.Text().size());
  // Every record lies inside the text and its parent comes before it.
  for (uint32_t i = 1; i < d.ElementCount(); ++i) {
    const vq::ElementRecord& r = d.Record(i);
    Check(r.start < length && r.length <= length - r.start);
    Check(r.parent < i);
  }

  size_t elements = 0;
  for (;;) {
    if (d.FindNext()) {
      ++elements;
      (void)d.ElementText();
      (void)d.TagName();
      std::wstring v;
      (void)d.GetAttrib(L"a", &v);
      d.Descend();
      continue;
    }
    if (!d.Ascend()) break;
  }
  Check(elements + 1 == d.ElementCount());

  // Children of the top-level elements through FindChild.
  d.ResetPos();
  while (d.FindNext()) {
    while (d.FindChild()) (void)d.ChildTagName();
  }

  // The same tree node by node, at the top level and inside the first element.
  d.ResetPos();
  size_t nodes = 0;
  while (d.FindNode() && nodes < 100000) {
    (void)d.NodeText();
    ++nodes;
  }
  d.ResetPos();
  if (d.FindNext() && d.Descend()) {
    while (d.FindNode()) (void)d.NodeText();
  }

  // The result log is markup of its own that this reader accepts entry by entry.
  if (!d.ResultLog().empty()) {
    vq::XmlDocument log;
    log.SetText(d.ResultLog());
    Check(log.ResultLog().find(L"syntax") == std::wstring::npos);
    // One entry past the cap at most; an escaped tag name grows at most sixfold.
    Check(d.ResultLog().size() < 1000 + 100 + 6 * text.size());
  }
  return 0;
}
