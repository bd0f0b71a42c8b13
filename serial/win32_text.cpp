#include "win32_text.h"

#include <windows.h>

#include "codepage.h"

namespace serial {

std::wstring WideFromUtf8(const std::string& text) {
  const std::u16string wide = DecodeCodePage(text, CP_UTF8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8FromWide(const std::wstring& text) {
  return EncodeCodePage(std::u16string(text.begin(), text.end()), CP_UTF8);
}

namespace {
std::wstring SystemMessage(DWORD code, DWORD language) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
  if (buffer) ::LocalFree(buffer);
  return text;
}
}  // namespace

std::string SystemErrorText(unsigned long code) {
  // English as the rest of the component's messages, else the user's language.
  std::wstring text = SystemMessage(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (text.empty()) text = SystemMessage(code, 0);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : Utf8FromWide(text);
}

}  // namespace serial
