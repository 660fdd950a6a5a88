#pragma once
// The few kernel32 functions the host uses, declared by hand: the host is
// built without the Microsoft runtime and without the Windows headers.

typedef void* HANDLE;
typedef int BOOL;
typedef unsigned long DWORD;
typedef wchar_t WCHAR;

struct STARTUPINFOW {
  DWORD cb;
  WCHAR* lpReserved;
  WCHAR* lpDesktop;
  WCHAR* lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  unsigned short wShowWindow, cbReserved2;
  unsigned char* lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess, hThread;
  DWORD dwProcessId, dwThreadId;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STARTF_USESTDHANDLES = 0x100;
constexpr DWORD HANDLE_FLAG_INHERIT = 1;
constexpr DWORD HEAP_ZERO_MEMORY = 8;

extern "C" {
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE file, const void* bytes, DWORD count, DWORD* written,
                                                void* overlapped);
__declspec(dllimport) BOOL __stdcall ReadFile(HANDLE file, void* bytes, DWORD count, DWORD* got, void* overlapped);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE handle);
__declspec(dllimport) void* __stdcall LoadLibraryW(const WCHAR* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) BOOL __stdcall FreeLibrary(void* module);
__declspec(dllimport) DWORD __stdcall GetModuleFileNameW(void* module, WCHAR* path, DWORD size);
__declspec(dllimport) HANDLE __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(HANDLE heap, DWORD flags, __SIZE_TYPE__ bytes);
__declspec(dllimport) BOOL __stdcall HeapFree(HANDLE heap, DWORD flags, void* block);
__declspec(dllimport) DWORD __stdcall GetProcessHeaps(DWORD count, HANDLE* heaps);
__declspec(dllimport) BOOL __stdcall HeapValidate(HANDLE heap, DWORD flags, const void* block);
__declspec(dllimport) BOOL __stdcall CreatePipe(HANDLE* read, HANDLE* write, SECURITY_ATTRIBUTES* attributes,
                                                 DWORD size);
__declspec(dllimport) BOOL __stdcall SetHandleInformation(HANDLE handle, DWORD mask, DWORD flags);
__declspec(dllimport) BOOL __stdcall CreateProcessW(const WCHAR* application, WCHAR* commandLine,
                                                     SECURITY_ATTRIBUTES* process, SECURITY_ATTRIBUTES* thread,
                                                     BOOL inherit, DWORD flags, void* environment,
                                                     const WCHAR* directory, STARTUPINFOW* startup,
                                                     PROCESS_INFORMATION* information);
__declspec(dllimport) BOOL __stdcall TerminateProcess(HANDLE process, unsigned int code);
__declspec(dllimport) DWORD __stdcall WaitForSingleObject(HANDLE handle, DWORD ms);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
}
