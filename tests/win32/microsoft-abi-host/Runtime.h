#pragma once

// The few C library and Win32 functions the Microsoft-ABI test host uses.
// The host is built without SDK or C++ library headers, so it declares them
// itself; they are imported from msvcrt.dll and kernel32.dll.

using size_t = decltype(sizeof(0));

extern "C" {
__declspec(dllimport) void* __cdecl malloc(size_t size);
__declspec(dllimport) void __cdecl free(void* block);
__declspec(dllimport) int __cdecl printf(const char* format, ...);
__declspec(dllimport) int __cdecl sprintf(char* buffer, const char* format, ...);
__declspec(dllimport) int __cdecl sscanf(const char* text, const char* format, ...);
__declspec(dllimport) int __cdecl fflush(void* stream);
__declspec(dllimport) int __cdecl strcmp(const char* left, const char* right);
__declspec(dllimport) int __cdecl strncmp(const char* left, const char* right, size_t count);
__declspec(dllimport) size_t __cdecl strlen(const char* text);
__declspec(dllimport) void* __cdecl memcpy(void* target, const void* source, size_t count);
__declspec(dllimport) void* __cdecl memset(void* target, int value, size_t count);
// The C library's split of the command line: argc, argv, the environment.
__declspec(dllimport) int __cdecl __getmainargs(int* argc, char*** argv, char*** environment,
                                                int expandWildcards, void* startInfo);

__declspec(dllimport) void* __stdcall LoadLibraryA(const char* fileName);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall VirtualProtect(void* address, size_t size,
                                                   unsigned long protection,
                                                   unsigned long* oldProtection);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int exitCode);
using CrashFilter = long(__stdcall*)(void* exceptionPointers);
__declspec(dllimport) CrashFilter __stdcall SetUnhandledExceptionFilter(CrashFilter filter);
}

// Win32 page protection that allows writing, for patching an import slot.
constexpr unsigned long kPageReadWrite = 0x04;
