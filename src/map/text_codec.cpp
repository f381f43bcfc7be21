#include "map/text_codec.hpp"

#include <iconv.h>

#include <cerrno>

namespace cuserver {
namespace {

std::optional<std::string> Recode(std::string_view text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.resize(text.size() * 2 + 4);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  size_t used = 0;
  bool ok = true;
  while (inLeft > 0) {
    char* dest = out.data() + used;
    size_t destLeft = out.size() - used;
    const size_t rc = iconv(cd, &in, &inLeft, &dest, &destLeft);
    used = out.size() - destLeft;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno != E2BIG) {
      ok = false;
      break;
    }
    out.resize(out.size() * 2);
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(used);
  return out;
}

}  // namespace

std::optional<std::string> Cp936ToUtf8(std::string_view text) { return Recode(text, "CP936", "UTF-8"); }

std::optional<std::string> Utf8ToCp936(std::string_view text) { return Recode(text, "UTF-8", "CP936"); }

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    char32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace cuserver
