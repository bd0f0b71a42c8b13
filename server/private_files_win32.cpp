#include <windows.h>

#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>

#include <memory>

#include "serial/win32_text.h"
#include "server/access_token.h"
#include "server/private_files.h"

namespace zuvsrv {
namespace {

[[noreturn]] void Fail(const std::string& what, DWORD code) {
  throw TokenError(what + ": " + serial::SystemErrorText(code));
}

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

// The SID of the account the process runs as (SYSTEM for a service).
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    Fail("OpenProcessToken", ::GetLastError());
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool got = ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  const DWORD error = ::GetLastError();
  ::CloseHandle(token);
  if (!got) Fail("GetTokenInformation", error);
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    Fail("ConvertSidToStringSid", ::GetLastError());
  std::unique_ptr<wchar_t, LocalFreer> owned(text);
  return serial::Utf8FromWide(text);
}

// Full access for this account and SYSTEM, nothing inherited from the
// folder above (ProgramData lets every user read); a folder passes it on.
std::unique_ptr<void, LocalFreer> PrivateDescriptor(bool folder) {
  const std::string inherit = folder ? "OICI" : "";
  const std::wstring sddl = serial::WideFromUtf8("D:P(A;" + inherit + ";FA;;;SY)(A;" + inherit +
                                                 ";FA;;;" + CurrentUserSid() + ")");
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    Fail("ConvertStringSecurityDescriptorToSecurityDescriptor", ::GetLastError());
  return std::unique_ptr<void, LocalFreer>(descriptor);
}

bool Trusted(PSID sid, PSID owner) {
  return (owner && ::EqualSid(sid, owner)) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

}  // namespace

std::string SystemRandomBytes(size_t count) {
  std::string raw(count, '\0');
  const NTSTATUS status = ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(raw.data()),
                                            ULONG(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status != 0) throw TokenError("BCryptGenRandom: status " + std::to_string(status));
  return raw;
}

void MakePrivateDir(const std::string& path) {
  const auto descriptor = PrivateDescriptor(true);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!::CreateDirectoryW(serial::WideFromUtf8(path).c_str(), &attributes) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS)
    throw std::runtime_error("cannot create " + path + ": " +
                             serial::SystemErrorText(::GetLastError()));
}

bool CreatePrivateFile(const std::string& path, const std::string& text) {
  const auto descriptor = PrivateDescriptor(false);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const std::wstring wide = serial::WideFromUtf8(path);
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) return false;
  if (file == INVALID_HANDLE_VALUE) Fail("cannot create token file " + path, ::GetLastError());
  DWORD written = 0;
  const bool ok = ::WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) &&
                  written == text.size() && ::FlushFileBuffers(file);
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (!ok) {
    ::DeleteFileW(wide.c_str());
    Fail("cannot write token file " + path, error);
  }
  return true;
}

bool FileExists(const std::string& path) {
  return ::GetFileAttributesW(serial::WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadableByOthers(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = serial::WideFromUtf8(path);
  if (::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  std::unique_ptr<void, LocalFreer> owned(descriptor);
  if (!dacl) return true;  // no DACL: everyone has every right
  constexpr DWORD kRead = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
      continue;
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kRead) && !Trusted(&allowed->SidStart, owner)) return true;
  }
  return false;
}

}  // namespace zuvsrv
