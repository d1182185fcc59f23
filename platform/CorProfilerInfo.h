// The runtime's info interfaces ICorProfilerInfo to ICorProfilerInfo10, the function control handed
// to GetReJITParameters, and the IL body allocator.
#pragma once

#include "ComBase.h"
#include "CorProfilerInfoList.h"
#include "CorProfilerTypes.h"

extern const IID IID_ICorProfilerInfo;
extern const IID IID_ICorProfilerInfo2;
extern const IID IID_ICorProfilerInfo3;
extern const IID IID_ICorProfilerInfo4;
extern const IID IID_ICorProfilerInfo5;
extern const IID IID_ICorProfilerInfo6;
extern const IID IID_ICorProfilerInfo7;
extern const IID IID_ICorProfilerInfo8;
extern const IID IID_ICorProfilerInfo9;
extern const IID IID_ICorProfilerInfo10;
// Later versions, which the proxy does not implement: only their ids.
extern const IID IID_ICorProfilerInfo11;
extern const IID IID_ICorProfilerInfo12;
extern const IID IID_ICorProfilerInfo13;
extern const IID IID_ICorProfilerInfo14;
extern const IID IID_ICorProfilerInfo15;
extern const IID IID_ICorProfilerFunctionControl;
extern const IID IID_IMethodMalloc;

struct ICorProfilerFunctionControl : IUnknown {
    virtual HRESULT SetCodegenFlags(DWORD flags) = 0;
    virtual HRESULT SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) = 0;
    virtual HRESULT SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) = 0;
};

struct IMethodMalloc : IUnknown {
    virtual PVOID Alloc(ULONG cb) = 0;
};

#define PM_DECLARE_PURE_INFO(kind, name, params, args) virtual HRESULT name params = 0;

struct ICorProfilerInfo : IUnknown {
    PM_ICORPROFILERINFO_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo2 : ICorProfilerInfo {
    PM_ICORPROFILERINFO2_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo3 : ICorProfilerInfo2 {
    PM_ICORPROFILERINFO3_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo4 : ICorProfilerInfo3 {
    PM_ICORPROFILERINFO4_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo5 : ICorProfilerInfo4 {
    PM_ICORPROFILERINFO5_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo6 : ICorProfilerInfo5 {
    PM_ICORPROFILERINFO6_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo7 : ICorProfilerInfo6 {
    PM_ICORPROFILERINFO7_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo8 : ICorProfilerInfo7 {
    PM_ICORPROFILERINFO8_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo9 : ICorProfilerInfo8 {
    PM_ICORPROFILERINFO9_METHODS(PM_DECLARE_PURE_INFO)
};

struct ICorProfilerInfo10 : ICorProfilerInfo9 {
    PM_ICORPROFILERINFO10_METHODS(PM_DECLARE_PURE_INFO)
};

#undef PM_DECLARE_PURE_INFO
