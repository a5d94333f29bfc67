// Character and entity references: numeric references and the named references of HTML 4
// plus "apos".
#include <array>

#include "common/Text.h"
#include "xml/XmlTokenizer.h"

namespace vq::xmldetail {
namespace {

struct NamedReference {
  const char* name;
  uint32_t codePoint;
};

// clang-format off
constexpr NamedReference kNamed[] = {
  // Latin-1
  {"nbsp", 160}, {"iexcl", 161}, {"cent", 162}, {"pound", 163}, {"curren", 164}, {"yen", 165},
  {"brvbar", 166}, {"sect", 167}, {"uml", 168}, {"copy", 169}, {"ordf", 170}, {"laquo", 171},
  {"not", 172}, {"shy", 173}, {"reg", 174}, {"macr", 175}, {"deg", 176}, {"plusmn", 177},
  {"sup2", 178}, {"sup3", 179}, {"acute", 180}, {"micro", 181}, {"para", 182}, {"middot", 183},
  {"cedil", 184}, {"sup1", 185}, {"ordm", 186}, {"raquo", 187}, {"frac14", 188}, {"frac12", 189},
  {"frac34", 190}, {"iquest", 191}, {"Agrave", 192}, {"Aacute", 193}, {"Acirc", 194},
  {"Atilde", 195}, {"Auml", 196}, {"Aring", 197}, {"AElig", 198}, {"Ccedil", 199},
  {"Egrave", 200}, {"Eacute", 201}, {"Ecirc", 202}, {"Euml", 203}, {"Igrave", 204},
  {"Iacute", 205}, {"Icirc", 206}, {"Iuml", 207}, {"ETH", 208}, {"Ntilde", 209}, {"Ograve", 210},
  {"Oacute", 211}, {"Ocirc", 212}, {"Otilde", 213}, {"Ouml", 214}, {"times", 215},
  {"Oslash", 216}, {"Ugrave", 217}, {"Uacute", 218}, {"Ucirc", 219}, {"Uuml", 220},
  {"Yacute", 221}, {"THORN", 222}, {"szlig", 223}, {"agrave", 224}, {"aacute", 225},
  {"acirc", 226}, {"atilde", 227}, {"auml", 228}, {"aring", 229}, {"aelig", 230},
  {"ccedil", 231}, {"egrave", 232}, {"eacute", 233}, {"ecirc", 234}, {"euml", 235},
  {"igrave", 236}, {"iacute", 237}, {"icirc", 238}, {"iuml", 239}, {"eth", 240}, {"ntilde", 241},
  {"ograve", 242}, {"oacute", 243}, {"ocirc", 244}, {"otilde", 245}, {"ouml", 246},
  {"divide", 247}, {"oslash", 248}, {"ugrave", 249}, {"uacute", 250}, {"ucirc", 251},
  {"uuml", 252}, {"yacute", 253}, {"thorn", 254}, {"yuml", 255},
  // Symbols and Greek letters
  {"fnof", 402},
  {"Alpha", 913}, {"Beta", 914}, {"Gamma", 915}, {"Delta", 916}, {"Epsilon", 917}, {"Zeta", 918},
  {"Eta", 919}, {"Theta", 920}, {"Iota", 921}, {"Kappa", 922}, {"Lambda", 923}, {"Mu", 924},
  {"Nu", 925}, {"Xi", 926}, {"Omicron", 927}, {"Pi", 928}, {"Rho", 929}, {"Sigma", 931},
  {"Tau", 932}, {"Upsilon", 933}, {"Phi", 934}, {"Chi", 935}, {"Psi", 936}, {"Omega", 937},
  {"alpha", 945}, {"beta", 946}, {"gamma", 947}, {"delta", 948}, {"epsilon", 949}, {"zeta", 950},
  {"eta", 951}, {"theta", 952}, {"iota", 953}, {"kappa", 954}, {"lambda", 955}, {"mu", 956},
  {"nu", 957}, {"xi", 958}, {"omicron", 959}, {"pi", 960}, {"rho", 961}, {"sigmaf", 962},
  {"sigma", 963}, {"tau", 964}, {"upsilon", 965}, {"phi", 966}, {"chi", 967}, {"psi", 968},
  {"omega", 969}, {"thetasym", 977}, {"upsih", 978}, {"piv", 982},
  {"bull", 8226}, {"hellip", 8230}, {"prime", 8242}, {"Prime", 8243}, {"oline", 8254},
  {"frasl", 8260}, {"weierp", 8472}, {"image", 8465}, {"real", 8476}, {"trade", 8482},
  {"alefsym", 8501}, {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594}, {"darr", 8595},
  {"harr", 8596}, {"crarr", 8629}, {"lArr", 8656}, {"uArr", 8657}, {"rArr", 8658},
  {"dArr", 8659}, {"hArr", 8660}, {"forall", 8704}, {"part", 8706}, {"exist", 8707},
  {"empty", 8709}, {"nabla", 8711}, {"isin", 8712}, {"notin", 8713}, {"ni", 8715},
  {"prod", 8719}, {"sum", 8721}, {"minus", 8722}, {"lowast", 8727}, {"radic", 8730},
  {"prop", 8733}, {"infin", 8734}, {"ang", 8736}, {"and", 8743}, {"or", 8744}, {"cap", 8745},
  {"cup", 8746}, {"int", 8747}, {"there4", 8756}, {"sim", 8764}, {"cong", 8773},
  {"asymp", 8776}, {"ne", 8800}, {"equiv", 8801}, {"le", 8804}, {"ge", 8805}, {"sub", 8834},
  {"sup", 8835}, {"nsub", 8836}, {"sube", 8838}, {"supe", 8839}, {"oplus", 8853},
  {"otimes", 8855}, {"perp", 8869}, {"sdot", 8901}, {"lceil", 8968}, {"rceil", 8969},
  {"lfloor", 8970}, {"rfloor", 8971}, {"lang", 9001}, {"rang", 9002}, {"loz", 9674},
  {"spades", 9824}, {"clubs", 9827}, {"hearts", 9829}, {"diams", 9830},
  // Markup-significant and internationalisation characters
  {"quot", 34}, {"amp", 38}, {"lt", 60}, {"gt", 62}, {"OElig", 338}, {"oelig", 339},
  {"Scaron", 352}, {"scaron", 353}, {"Yuml", 376}, {"circ", 710}, {"tilde", 732},
  {"ensp", 8194}, {"emsp", 8195}, {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205},
  {"lrm", 8206}, {"rlm", 8207}, {"ndash", 8211}, {"mdash", 8212}, {"lsquo", 8216},
  {"rsquo", 8217}, {"sbquo", 8218}, {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222},
  {"dagger", 8224}, {"Dagger", 8225}, {"permil", 8240}, {"lsaquo", 8249}, {"rsaquo", 8250},
  {"euro", 8364},
  // XML's own
  {"apos", 39},
};
// clang-format on

constexpr size_t kNamedCount = sizeof(kNamed) / sizeof(kNamed[0]);
static_assert(kNamedCount == 253, "the 252 names of HTML 4 plus apos");

constexpr unsigned kBuckets = 130;
constexpr size_t kMaxName = 8;  // ';' must come within 9 units of the '&'

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct Buckets {
  std::array<int16_t, kBuckets> head{};
  std::array<int16_t, kNamedCount> next{};
  Buckets() {
    head.fill(-1);
    // Inserted back to front so each chain lists its names in table order.
    for (size_t k = kNamedCount; k-- > 0;) {
      unsigned sum = 0;
      for (const char* p = kNamed[k].name; *p; ++p) sum += static_cast<unsigned char>(Fold(*p));
      next[k] = head[sum % kBuckets];
      head[sum % kBuckets] = static_cast<int16_t>(k);
    }
  }
};

const Buckets& Table() {
  static const Buckets buckets;
  return buckets;
}

bool IsLowerName(const char* name) {
  for (const char* p = name; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') return false;
  return true;
}

// Numeric reference body after '#': "x" + hex digits or decimal digits (already folded).
uint32_t NumericValue(const char* body, size_t n) {
  uint32_t base = 10;
  size_t i = 0;
  if (n > 0 && body[0] == 'x') {
    base = 16;
    i = 1;
  }
  if (i >= n) return 0;
  uint32_t v = 0;  // at most 7 hex or 8 decimal digits fit the name: no overflow
  for (; i < n; ++i) {
    const char c = body[i];
    uint32_t d;
    if (c >= '0' && c <= '9') {
      d = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return 0;
    }
    v = v * base + d;
  }
  // Beyond Unicode or a surrogate cannot be written as a character: the reference stays as it is.
  if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  return v;
}

}  // namespace

size_t NamedReferenceCount() { return kNamedCount; }

uint32_t LookupNamedReference(const wchar_t* name, size_t n) {
  if (n == 0 || n > kMaxName) return 0;
  char folded[kMaxName + 1];
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<uint32_t>(name[i]) >= 0x80) return 0;
    folded[i] = Fold(static_cast<char>(name[i]));
    sum += static_cast<unsigned char>(folded[i]);
  }
  folded[n] = 0;
  const Buckets& t = Table();
  // Two names that differ only in case fold together: the one written exactly wins, otherwise
  // the small-letter one.
  uint32_t lower = 0;
  for (int k = t.head[sum % kBuckets]; k >= 0; k = t.next[static_cast<size_t>(k)]) {
    const char* entry = kNamed[k].name;
    size_t len = 0;
    bool same = true, exact = true;
    for (; entry[len]; ++len) {
      if (len >= n || Fold(entry[len]) != folded[len]) {
        same = false;
        break;
      }
      if (static_cast<wchar_t>(entry[len]) != name[len]) exact = false;
    }
    if (!same || len != n) continue;
    if (exact) return kNamed[k].codePoint;
    if (IsLowerName(entry)) lower = kNamed[k].codePoint;
  }
  return lower;
}

void AppendDecoded(const wchar_t* s, size_t n, std::wstring& out) {
  out.reserve(out.size() + n);
  for (size_t i = 0; i < n; ++i) {
    const wchar_t c = s[i];
    if (c != L'&') {
      out.push_back(c);
      continue;
    }
    size_t j = i + 1;
    const size_t limit = (n - j < kMaxName + 1) ? n : j + kMaxName + 1;
    bool ascii = true;
    while (j < limit && s[j] != L';') {
      if (static_cast<uint32_t>(s[j]) >= 0x80) {
        ascii = false;
        break;
      }
      ++j;
    }
    uint32_t cp = 0;
    if (ascii && j < limit) {
      const size_t len = j - (i + 1);
      if (len > 0 && s[i + 1] == L'#') {
        char body[kMaxName];
        for (size_t k = 0; k + 1 < len; ++k) body[k] = Fold(static_cast<char>(s[i + 2 + k]));
        cp = NumericValue(body, len - 1);
      } else {
        cp = LookupNamedReference(s + i + 1, len);
      }
    }
    if (cp == 0) {
      out.push_back(L'&');
      continue;
    }
    AppendCodePoint(out, cp);
    i = j;
  }
}

}  // namespace vq::xmldetail
