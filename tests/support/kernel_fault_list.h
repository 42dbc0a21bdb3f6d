// The module's kernel calls that can fail, for kernel_faults.cpp:
// DLMGR_FAULT(dll, name, result type, failure value, error, (parameters), (arguments)).
// No include guard: included once per use with DLMGR_FAULT defined.
DLMGR_FAULT("kernel32.dll", CreateFileA, HANDLE, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED,
            (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
            (a, b, c, d, e, f, g))
DLMGR_FAULT("kernel32.dll", CreateFileW, HANDLE, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED,
            (LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
            (a, b, c, d, e, f, g))
DLMGR_FAULT("kernel32.dll", CreateFileMappingA, HANDLE, nullptr, ERROR_NOT_ENOUGH_MEMORY,
            (HANDLE a, LPSECURITY_ATTRIBUTES b, DWORD c, DWORD d, DWORD e, LPCSTR f),
            (a, b, c, d, e, f))
DLMGR_FAULT("kernel32.dll", MapViewOfFile, LPVOID, nullptr, ERROR_NOT_ENOUGH_MEMORY,
            (HANDLE a, DWORD b, DWORD c, DWORD d, SIZE_T e), (a, b, c, d, e))
DLMGR_FAULT("kernel32.dll", CreateEventA, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (LPSECURITY_ATTRIBUTES a, BOOL b, BOOL c, LPCSTR d), (a, b, c, d))
DLMGR_FAULT("kernel32.dll", OpenEventA, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (DWORD a, BOOL b, LPCSTR c), (a, b, c))
DLMGR_FAULT("kernel32.dll", CreateMutexA, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (LPSECURITY_ATTRIBUTES a, BOOL b, LPCSTR c), (a, b, c))
DLMGR_FAULT("kernel32.dll", OpenMutexA, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (DWORD a, BOOL b, LPCSTR c), (a, b, c))
DLMGR_FAULT("kernel32.dll", WaitForSingleObject, DWORD, WAIT_FAILED, ERROR_INVALID_HANDLE,
            (HANDLE a, DWORD b), (a, b))
DLMGR_FAULT("kernel32.dll", SetEvent, BOOL, FALSE, ERROR_INVALID_HANDLE, (HANDLE a), (a))
DLMGR_FAULT("kernel32.dll", ReleaseMutex, BOOL, FALSE, ERROR_NOT_OWNER, (HANDLE a), (a))
DLMGR_FAULT("kernel32.dll", ReadFile, BOOL, FALSE, ERROR_READ_FAULT,
            (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
DLMGR_FAULT("kernel32.dll", WriteFile, BOOL, FALSE, ERROR_DISK_FULL,
            (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
DLMGR_FAULT("kernel32.dll", GetFileSizeEx, BOOL, FALSE, ERROR_ACCESS_DENIED,
            (HANDLE a, PLARGE_INTEGER b), (a, b))
DLMGR_FAULT("kernel32.dll", CreateDirectoryA, BOOL, FALSE, ERROR_ACCESS_DENIED,
            (LPCSTR a, LPSECURITY_ATTRIBUTES b), (a, b))
DLMGR_FAULT("kernel32.dll", DeleteFileA, BOOL, FALSE, ERROR_ACCESS_DENIED, (LPCSTR a), (a))
DLMGR_FAULT("kernel32.dll", TlsAlloc, DWORD, TLS_OUT_OF_INDEXES, ERROR_NOT_ENOUGH_MEMORY, (), ())
DLMGR_FAULT("kernel32.dll", TlsSetValue, BOOL, FALSE, ERROR_INVALID_PARAMETER,
            (DWORD a, LPVOID b), (a, b))
DLMGR_FAULT("kernel32.dll", OpenProcess, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (DWORD a, BOOL b, DWORD c), (a, b, c))
DLMGR_FAULT("kernel32.dll", OpenThread, HANDLE, nullptr, ERROR_ACCESS_DENIED,
            (DWORD a, BOOL b, DWORD c), (a, b, c))
DLMGR_FAULT("kernel32.dll", DuplicateHandle, BOOL, FALSE, ERROR_ACCESS_DENIED,
            (HANDLE a, HANDLE b, HANDLE c, LPHANDLE d, DWORD e, BOOL f, DWORD g),
            (a, b, c, d, e, f, g))
DLMGR_FAULT("kernel32.dll", WinExec, UINT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND,
            (LPCSTR a, UINT b), (a, b))
DLMGR_FAULT("psapi.dll", GetMappedFileNameW, DWORD, 0, ERROR_ACCESS_DENIED,
            (HANDLE a, LPVOID b, LPWSTR c, DWORD d), (a, b, c, d))
DLMGR_FAULT("advapi32.dll", RegOpenKeyExA, LONG, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
            (HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e), (a, b, c, d, e))
DLMGR_FAULT("advapi32.dll", RegCreateKeyExA, LONG, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
            (HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
             PHKEY h, LPDWORD i),
            (a, b, c, d, e, f, g, h, i))
DLMGR_FAULT("advapi32.dll", RegSetValueExA, LONG, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
            (HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f), (a, b, c, d, e, f))
DLMGR_FAULT("advapi32.dll", RegDeleteValueA, LONG, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
            (HKEY a, LPCSTR b), (a, b))
DLMGR_FAULT("shlwapi.dll", SHQueryValueExA, DWORD, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
            (HKEY a, LPCSTR b, DWORD* c, DWORD* d, void* e, DWORD* f), (a, b, c, d, e, f))
DLMGR_FAULT("shell32.dll", ShellExecuteExA, BOOL, FALSE, ERROR_FILE_NOT_FOUND,
            (SHELLEXECUTEINFOA* a), (a))
