// File operations of XmlDocument.
#include "xml/XmlDocument.h"

namespace vq {

struct XmlDocument::Stream {};

XmlDocument::XmlDocument() { SetText(static_cast<const wchar_t*>(nullptr)); }

XmlDocument::~XmlDocument() { Close(); }

void XmlDocument::Close() {
  stream_.reset();
  flags_ &= ~(kXmlStreamRead | kXmlStreamWrite);
}

}  // namespace vq
