#pragma once
// Security attributes that give a new file to its creator alone, as a file
// created 0600 is on POSIX systems. Windows only.

#include <windows.h>

namespace os {

// A protected DACL with one entry, for the user the calling thread runs as
// (the one it impersonates, if any). get() is null when the user cannot be
// told: the file then takes its folder's permissions.
struct OwnerOnly {
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      return;
    }
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &size) != 0;
    CloseHandle(token);
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    ok = known && InitializeAcl(reinterpret_cast<ACL*>(acl), sizeof acl, ACL_REVISION) &&
         AddAccessAllowedAce(reinterpret_cast<ACL*>(acl), ACL_REVISION, FILE_ALL_ACCESS, sid) &&
         InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl), FALSE) &&
         SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
  }
  SECURITY_ATTRIBUTES* get() { return ok ? &attributes : nullptr; }
  alignas(8) unsigned char user[256] = {};
  alignas(8) unsigned char acl[256] = {};
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{};
  bool ok = false;
};

}  // namespace os
