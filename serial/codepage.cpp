#include "codepage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace serial {

// Code page numbers follow Windows, names are iconv's:
//   0 (the system default) and 65001  UTF-8
//   1200 / 1201                       UTF-16LE / UTF-16BE
//   20127                             ASCII
//   20866 / 21866                     KOI8-R / KOI8-U
//   28591 .. 28606 (except 28600..28602) ISO-8859-1 .. ISO-8859-16
//   any other number n                CPn (437, 850, 852, 866, 874, 1250 .. 1258, ...)
std::string CodePageCharset(uint32_t codePage) {
  switch (codePage) {
    case 0:
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28606 && (codePage < 28600 || codePage > 28602))
    return "ISO-8859-" + std::to_string(codePage - 28590);
  return "CP" + std::to_string(codePage);
}

namespace {

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`; an input sequence iconv refuses is skipped
  // (`skip` bytes) and `replacement` (already in the target charset) written.
  std::string Run(const std::string& in, size_t skip, const std::string& replacement) {
    std::string out;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    std::vector<char> buf(256);
    while (srcLeft > 0) {
      char* dst = buf.data();
      size_t dstLeft = buf.size();
      const size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buf.data(), buf.size() - dstLeft);
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ, or EINVAL for a sequence cut off at the end.
      const size_t n = std::min(skip, srcLeft);
      src += n;
      srcLeft -= n;
      out += replacement;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    iconv(cd_, nullptr, nullptr, &dst, &dstLeft);  // shift back to the initial state
    out.append(buf.data(), buf.size() - dstLeft);
    return out;
  }

 private:
  iconv_t cd_;
};

// UTF-16LE bytes of the text, independent of the host's byte order.
std::string ToUtf16Le(const std::u16string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return out;
}

}  // namespace

std::string EncodeCodePage(const std::u16string& text, uint32_t codePage) {
  Converter conv(CodePageCharset(codePage), "UTF-16LE");
  if (!conv.ok() || text.empty()) return {};
  // A refused character (or a lone surrogate) is one UTF-16 unit.
  return conv.Run(ToUtf16Le(text), 2, "?");
}

std::u16string DecodeCodePage(const std::string& bytes, uint32_t codePage) {
  Converter conv("UTF-16LE", CodePageCharset(codePage));
  if (!conv.ok() || bytes.empty()) return {};
  return FromUtf16Le(conv.Run(bytes, 1, std::string("\xFD\xFF", 2)));
}

}  // namespace serial
