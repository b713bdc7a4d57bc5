#include "win32/UserObjects.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "win32/Handle.h"

namespace umbrane::win32 {

namespace {

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) {
    return {};
  }
  std::string result = text;
  (void)LocalFree(text);
  return result;
}

// The SID of the account that owns the kernel object `object`.
std::string OwnerOf(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  std::string sid = SidText(owner);
  (void)LocalFree(descriptor);
  return sid;
}

}  // namespace

std::string CurrentUserSid() {
  static const std::string sid = [] {
    UniqueHandle token;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
      return std::string();
    }
    token.Reset(opened);
    DWORD size = 0;
    (void)GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
      return std::string();
    }
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  }();
  return sid;
}

std::string UserObjectName(const std::string& base) {
  return std::string(base).append("-").append(CurrentUserSid());
}

UserOnlySecurity::UserOnlySecurity() {
  const std::string sid = CurrentUserSid();
  if (sid.empty()) {
    return;
  }
  // Owner this user; a protected list with one entry: all rights to them.
  const std::string sddl =
      std::string("O:").append(sid).append("D:P(A;;GA;;;").append(sid).append(")");
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

UserOnlySecurity::~UserOnlySecurity() {
  if (descriptor_ != nullptr) {
    (void)LocalFree(descriptor_);
  }
}

MutexClaim ClaimUserMutex(const std::string& base, bool own, HANDLE& mutex) {
  mutex = nullptr;
  UserOnlySecurity security;
  if (security.Attributes() == nullptr) {
    return MutexClaim::Failed;
  }
  UniqueHandle made(
      CreateMutexA(security.Attributes(), own ? TRUE : FALSE, UserObjectName(base).c_str()));
  const DWORD error = GetLastError();
  if (!made.Valid()) {
    return error == ERROR_ACCESS_DENIED ? MutexClaim::NotOurs : MutexClaim::Failed;
  }
  if (error == ERROR_ALREADY_EXISTS && OwnerOf(made.Get()) != CurrentUserSid()) {
    return MutexClaim::NotOurs;
  }
  mutex = made.Release();
  return error == ERROR_ALREADY_EXISTS ? MutexClaim::OursAlready : MutexClaim::Created;
}

MutexSeen SeeUserMutex(const std::string& base) {
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | READ_CONTROL, FALSE, UserObjectName(base).c_str()));
  if (!mutex.Valid()) {
    return GetLastError() == ERROR_ACCESS_DENIED ? MutexSeen::NotOurs : MutexSeen::None;
  }
  return OwnerOf(mutex.Get()) == CurrentUserSid() ? MutexSeen::Ours : MutexSeen::NotOurs;
}

}  // namespace umbrane::win32
