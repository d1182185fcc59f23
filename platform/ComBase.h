// Base types, result codes and the COM root interfaces, laid out as the .NET
// runtime's profiling API expects them on Linux x86-64 (LP64, 16-bit WCHAR).
#pragma once

#include <cstddef>
#include <cstdint>

using HRESULT = int32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using LPCBYTE = const BYTE*;
using USHORT = uint16_t;
using ULONG = uint32_t;
using LONG = int32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG32 = uint32_t;
using ULONG64 = uint64_t;
using UINT_PTR = uintptr_t;
using SIZE_T = size_t;
using PVOID = void*;
using LPVOID = void*;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using GUID = _GUID;
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

bool operator==(const GUID& a, const GUID& b) noexcept;
inline bool operator!=(const GUID& a, const GUID& b) noexcept { return !(a == b); }

constexpr HRESULT MakeHResult(uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
// The runtime's code by which a profiler refuses to be attached to a running process.
constexpr HRESULT CORPROF_E_PROFILER_NOT_ATTACHABLE = MakeHResult(0x80131368);
// The runtime's answer to enter/leave hooks or a mask that does not fit the flags or hooks it holds.
constexpr HRESULT CORPROF_E_INCONSISTENT_WITH_FLAGS = MakeHResult(0x80131374);
// The runtime's code by which a profiler declines to be loaded.
constexpr HRESULT CORPROF_E_PROFILER_CANCEL_ACTIVATION = MakeHResult(0x80131375);
// The runtime's status for a method that cannot be reverted.
constexpr HRESULT CORPROF_E_ACTIVE_REJIT_REQUEST_NOT_FOUND = MakeHResult(0x8013137D);
// The runtime's answers to a profiler whose callback interface or event mask does not allow the call.
constexpr HRESULT CORPROF_E_CALLBACK4_REQUIRED = MakeHResult(0x8013137B);
constexpr HRESULT CORPROF_E_REJIT_NOT_ENABLED = MakeHResult(0x8013137C);
constexpr HRESULT CORPROF_E_CALLBACK6_REQUIRED = MakeHResult(0x80131380);
constexpr HRESULT CORPROF_E_CALLBACK7_REQUIRED = MakeHResult(0x80131382);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};
