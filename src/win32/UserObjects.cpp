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

// The rights that change what a folder holds or who may.
constexpr DWORD kChanges = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                           WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// This user, the system, the administrators and the installer service:
// whoever of them may change the program's folder could change the
// program anyway.
bool Trusted(PSID sid) {
  const std::string name = SidText(sid);
  return !name.empty() &&
         (name == CurrentUserSid() || name == "S-1-5-18" || name == "S-1-5-32-544" ||
          name == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
}

std::string AccountName(PSID sid) {
  char name[256] = {};
  char domain[256] = {};
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return name;
  }
  const std::string text = SidText(sid);
  return text.empty() ? "another account" : text;
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

std::string OthersWhoMayChange(PSID owner, PACL list) {
  if (owner != nullptr && !Trusted(owner)) {
    return AccountName(owner);  // an owner may always change who may change it
  }
  if (list == nullptr) {
    return "Everyone";  // no list at all: nothing is kept from anyone (FAT drives)
  }
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(list, i, &entry)) {
      continue;
    }
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // What only later files and folders inherit does not open this one.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kChanges) != 0 && !Trusted(&allowed->SidStart)) {
      return AccountName(&allowed->SidStart);
    }
  }
  return {};
}

MutexSeen SeeUserMutex(const std::string& base) {
  UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | READ_CONTROL, FALSE, UserObjectName(base).c_str()));
  if (!mutex.Valid()) {
    return GetLastError() == ERROR_ACCESS_DENIED ? MutexSeen::NotOurs : MutexSeen::None;
  }
  return OwnerOf(mutex.Get()) == CurrentUserSid() ? MutexSeen::Ours : MutexSeen::NotOurs;
}

}  // namespace umbrane::win32
