// The runtime's callback interfaces ICorProfilerCallback to ICorProfilerCallback9, which a profiler
// implements, and the assembly reference provider handed to GetAssemblyReferences.
#pragma once

#include "ComBase.h"
#include "CorProfilerCallbackList.h"
#include "CorProfilerTypes.h"

extern const IID IID_ICorProfilerCallback;
extern const IID IID_ICorProfilerCallback2;
extern const IID IID_ICorProfilerCallback3;
extern const IID IID_ICorProfilerCallback4;
extern const IID IID_ICorProfilerCallback5;
extern const IID IID_ICorProfilerCallback6;
extern const IID IID_ICorProfilerCallback7;
extern const IID IID_ICorProfilerCallback8;
extern const IID IID_ICorProfilerCallback9;
extern const IID IID_ICorProfilerAssemblyReferenceProvider;

struct ASSEMBLYMETADATA;

struct COR_PRF_ASSEMBLY_REFERENCE_INFO {
    void* pbPublicKeyOrToken;
    ULONG cbPublicKeyOrToken;
    LPCWSTR szName;
    ASSEMBLYMETADATA* pMetaData;
    void* pbHashValue;
    ULONG cbHashValue;
    DWORD dwAssemblyRefFlags;
};
static_assert(sizeof(COR_PRF_ASSEMBLY_REFERENCE_INFO) == 48, "COR_PRF_ASSEMBLY_REFERENCE_INFO layout");

struct ICorProfilerAssemblyReferenceProvider : IUnknown {
    virtual HRESULT AddAssemblyReference(const COR_PRF_ASSEMBLY_REFERENCE_INFO* pAssemblyRefInfo) = 0;
};

#define PM_DECLARE_PURE_CALLBACK(kind, name, params, args) virtual HRESULT name params = 0;

struct ICorProfilerCallback : IUnknown {
    PM_ICORPROFILERCALLBACK_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback2 : ICorProfilerCallback {
    PM_ICORPROFILERCALLBACK2_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback3 : ICorProfilerCallback2 {
    PM_ICORPROFILERCALLBACK3_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback4 : ICorProfilerCallback3 {
    PM_ICORPROFILERCALLBACK4_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback5 : ICorProfilerCallback4 {
    PM_ICORPROFILERCALLBACK5_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback6 : ICorProfilerCallback5 {
    PM_ICORPROFILERCALLBACK6_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback7 : ICorProfilerCallback6 {
    PM_ICORPROFILERCALLBACK7_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback8 : ICorProfilerCallback7 {
    PM_ICORPROFILERCALLBACK8_METHODS(PM_DECLARE_PURE_CALLBACK)
};

struct ICorProfilerCallback9 : ICorProfilerCallback8 {
    PM_ICORPROFILERCALLBACK9_METHODS(PM_DECLARE_PURE_CALLBACK)
};

#undef PM_DECLARE_PURE_CALLBACK
