// The runtime's info methods, one list per interface in vtable order (after IUnknown's three).
// Each entry: X(kind, Name, (typed parameters), (argument names)); every method returns HRESULT.
// kind FORWARD: the multiplexer's proxy passes the call to the runtime unchanged; OWN: the proxy handles it;
// HOOKS: an enter/leave hook setter, kept by the proxy while the targets are initialised, passed on
// unchanged afterwards.
#pragma once

#include "CorProfilerTypes.h"

// clang-format off
#define PM_ICORPROFILERINFO_METHODS(X) \
    X(FORWARD, GetClassFromObject, (ObjectID objectId, ClassID* pClassId), (objectId, pClassId)) \
    X(FORWARD, GetClassFromToken, (ModuleID moduleId, mdTypeDef typeDef, ClassID* pClassId), \
      (moduleId, typeDef, pClassId)) \
    X(FORWARD, GetCodeInfo, (FunctionID functionId, LPCBYTE* pStart, ULONG* pcSize), \
      (functionId, pStart, pcSize)) \
    X(OWN, GetEventMask, (DWORD* pdwEvents), (pdwEvents)) \
    X(FORWARD, GetFunctionFromIP, (LPCBYTE ip, FunctionID* pFunctionId), (ip, pFunctionId)) \
    X(FORWARD, GetFunctionFromToken, (ModuleID moduleId, mdToken token, FunctionID* pFunctionId), \
      (moduleId, token, pFunctionId)) \
    X(FORWARD, GetHandleFromThread, (ThreadID threadId, HANDLE* phThread), (threadId, phThread)) \
    X(FORWARD, GetObjectSize, (ObjectID objectId, ULONG* pcSize), (objectId, pcSize)) \
    X(FORWARD, IsArrayClass, \
      (ClassID classId, CorElementType* pBaseElemType, ClassID* pBaseClassId, ULONG* pcRank), \
      (classId, pBaseElemType, pBaseClassId, pcRank)) \
    X(FORWARD, GetThreadInfo, (ThreadID threadId, DWORD* pdwWin32ThreadId), (threadId, pdwWin32ThreadId)) \
    X(FORWARD, GetCurrentThreadID, (ThreadID* pThreadId), (pThreadId)) \
    X(FORWARD, GetClassIDInfo, (ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken), \
      (classId, pModuleId, pTypeDefToken)) \
    X(FORWARD, GetFunctionInfo, \
      (FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId, mdToken* pToken), \
      (functionId, pClassId, pModuleId, pToken)) \
    X(OWN, SetEventMask, (DWORD dwEvents), (dwEvents)) \
    X(HOOKS, SetEnterLeaveFunctionHooks, \
      (FunctionEnter* pFuncEnter, FunctionLeave* pFuncLeave, FunctionTailcall* pFuncTailcall), \
      (pFuncEnter, pFuncLeave, pFuncTailcall)) \
    X(OWN, SetFunctionIDMapper, (FunctionIDMapper* pFunc), (pFunc)) \
    X(FORWARD, GetTokenAndMetaDataFromFunction, \
      (FunctionID functionId, REFIID riid, IUnknown** ppImport, mdToken* pToken), \
      (functionId, riid, ppImport, pToken)) \
    X(FORWARD, GetModuleInfo, \
      (ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName, WCHAR* szName, \
       AssemblyID* pAssemblyId), \
      (moduleId, ppBaseLoadAddress, cchName, pcchName, szName, pAssemblyId)) \
    X(FORWARD, GetModuleMetaData, (ModuleID moduleId, DWORD dwOpenFlags, REFIID riid, IUnknown** ppOut), \
      (moduleId, dwOpenFlags, riid, ppOut)) \
    X(OWN, GetILFunctionBody, \
      (ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize), \
      (moduleId, methodId, ppMethodHeader, pcbMethodSize)) \
    X(OWN, GetILFunctionBodyAllocator, (ModuleID moduleId, IMethodMalloc** ppMalloc), (moduleId, ppMalloc)) \
    X(OWN, SetILFunctionBody, (ModuleID moduleId, mdMethodDef methodid, LPCBYTE pbNewILMethodHeader), \
      (moduleId, methodid, pbNewILMethodHeader)) \
    X(FORWARD, GetAppDomainInfo, \
      (AppDomainID appDomainId, ULONG cchName, ULONG* pcchName, WCHAR* szName, ProcessID* pProcessId), \
      (appDomainId, cchName, pcchName, szName, pProcessId)) \
    X(FORWARD, GetAssemblyInfo, \
      (AssemblyID assemblyId, ULONG cchName, ULONG* pcchName, WCHAR* szName, AppDomainID* pAppDomainId, \
       ModuleID* pModuleId), \
      (assemblyId, cchName, pcchName, szName, pAppDomainId, pModuleId)) \
    X(FORWARD, SetFunctionReJIT, (FunctionID functionId), (functionId)) \
    X(FORWARD, ForceGC, (), ()) \
    X(OWN, SetILInstrumentedCodeMap, \
      (FunctionID functionId, BOOL fStartJit, ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries), \
      (functionId, fStartJit, cILMapEntries, rgILMapEntries)) \
    X(FORWARD, GetInprocInspectionInterface, (IUnknown** ppicd), (ppicd)) \
    X(FORWARD, GetInprocInspectionIThisThread, (IUnknown** ppicd), (ppicd)) \
    X(FORWARD, GetThreadContext, (ThreadID threadId, ContextID* pContextId), (threadId, pContextId)) \
    X(FORWARD, BeginInprocDebugging, (BOOL fThisThreadOnly, DWORD* pdwProfilerContext), \
      (fThisThreadOnly, pdwProfilerContext)) \
    X(FORWARD, EndInprocDebugging, (DWORD dwProfilerContext), (dwProfilerContext)) \
    X(FORWARD, GetILToNativeMapping, \
      (FunctionID functionId, ULONG32 cMap, ULONG32* pcMap, COR_DEBUG_IL_TO_NATIVE_MAP* map), \
      (functionId, cMap, pcMap, map))

#define PM_ICORPROFILERINFO2_METHODS(X) \
    X(FORWARD, DoStackSnapshot, \
      (ThreadID thread, StackSnapshotCallback* callback, ULONG32 infoFlags, void* clientData, \
       BYTE* context, ULONG32 contextSize), \
      (thread, callback, infoFlags, clientData, context, contextSize)) \
    X(HOOKS, SetEnterLeaveFunctionHooks2, \
      (FunctionEnter2* pFuncEnter, FunctionLeave2* pFuncLeave, FunctionTailcall2* pFuncTailcall), \
      (pFuncEnter, pFuncLeave, pFuncTailcall)) \
    X(FORWARD, GetFunctionInfo2, \
      (FunctionID funcId, COR_PRF_FRAME_INFO frameInfo, ClassID* pClassId, ModuleID* pModuleId, \
       mdToken* pToken, ULONG32 cTypeArgs, ULONG32* pcTypeArgs, ClassID* typeArgs), \
      (funcId, frameInfo, pClassId, pModuleId, pToken, cTypeArgs, pcTypeArgs, typeArgs)) \
    X(FORWARD, GetStringLayout, \
      (ULONG* pBufferLengthOffset, ULONG* pStringLengthOffset, ULONG* pBufferOffset), \
      (pBufferLengthOffset, pStringLengthOffset, pBufferOffset)) \
    X(FORWARD, GetClassLayout, \
      (ClassID classID, COR_FIELD_OFFSET* rFieldOffset, ULONG cFieldOffset, ULONG* pcFieldOffset, \
       ULONG* pulClassSize), \
      (classID, rFieldOffset, cFieldOffset, pcFieldOffset, pulClassSize)) \
    X(FORWARD, GetClassIDInfo2, \
      (ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken, ClassID* pParentClassId, \
       ULONG32 cNumTypeArgs, ULONG32* pcNumTypeArgs, ClassID* typeArgs), \
      (classId, pModuleId, pTypeDefToken, pParentClassId, cNumTypeArgs, pcNumTypeArgs, typeArgs)) \
    X(FORWARD, GetCodeInfo2, \
      (FunctionID functionID, ULONG32 cCodeInfos, ULONG32* pcCodeInfos, COR_PRF_CODE_INFO* codeInfos), \
      (functionID, cCodeInfos, pcCodeInfos, codeInfos)) \
    X(FORWARD, GetClassFromTokenAndTypeArgs, \
      (ModuleID moduleID, mdTypeDef typeDef, ULONG32 cTypeArgs, ClassID* typeArgs, ClassID* pClassID), \
      (moduleID, typeDef, cTypeArgs, typeArgs, pClassID)) \
    X(FORWARD, GetFunctionFromTokenAndTypeArgs, \
      (ModuleID moduleID, mdMethodDef funcDef, ClassID classId, ULONG32 cTypeArgs, ClassID* typeArgs, \
       FunctionID* pFunctionID), \
      (moduleID, funcDef, classId, cTypeArgs, typeArgs, pFunctionID)) \
    X(FORWARD, EnumModuleFrozenObjects, (ModuleID moduleID, ICorProfilerObjectEnum** ppEnum), \
      (moduleID, ppEnum)) \
    X(FORWARD, GetArrayObjectInfo, \
      (ObjectID objectId, ULONG32 cDimensions, ULONG32* pDimensionSizes, int* pDimensionLowerBounds, \
       BYTE** ppData), \
      (objectId, cDimensions, pDimensionSizes, pDimensionLowerBounds, ppData)) \
    X(FORWARD, GetBoxClassLayout, (ClassID classId, ULONG32* pBufferOffset), (classId, pBufferOffset)) \
    X(FORWARD, GetThreadAppDomain, (ThreadID threadId, AppDomainID* pAppDomainId), (threadId, pAppDomainId)) \
    X(FORWARD, GetRVAStaticAddress, (ClassID classId, mdFieldDef fieldToken, void** ppAddress), \
      (classId, fieldToken, ppAddress)) \
    X(FORWARD, GetAppDomainStaticAddress, \
      (ClassID classId, mdFieldDef fieldToken, AppDomainID appDomainId, void** ppAddress), \
      (classId, fieldToken, appDomainId, ppAddress)) \
    X(FORWARD, GetThreadStaticAddress, \
      (ClassID classId, mdFieldDef fieldToken, ThreadID threadId, void** ppAddress), \
      (classId, fieldToken, threadId, ppAddress)) \
    X(FORWARD, GetContextStaticAddress, \
      (ClassID classId, mdFieldDef fieldToken, ContextID contextId, void** ppAddress), \
      (classId, fieldToken, contextId, ppAddress)) \
    X(FORWARD, GetStaticFieldInfo, \
      (ClassID classId, mdFieldDef fieldToken, COR_PRF_STATIC_TYPE* pFieldInfo), \
      (classId, fieldToken, pFieldInfo)) \
    X(FORWARD, GetGenerationBounds, \
      (ULONG cObjectRanges, ULONG* pcObjectRanges, COR_PRF_GC_GENERATION_RANGE* ranges), \
      (cObjectRanges, pcObjectRanges, ranges)) \
    X(FORWARD, GetObjectGeneration, (ObjectID objectId, COR_PRF_GC_GENERATION_RANGE* range), \
      (objectId, range)) \
    X(FORWARD, GetNotifiedExceptionClauseInfo, (COR_PRF_EX_CLAUSE_INFO* pinfo), (pinfo))

#define PM_ICORPROFILERINFO3_METHODS(X) \
    X(FORWARD, EnumJITedFunctions, (ICorProfilerFunctionEnum** ppEnum), (ppEnum)) \
    X(OWN, RequestProfilerDetach, (DWORD dwExpectedCompletionMilliseconds), \
      (dwExpectedCompletionMilliseconds)) \
    X(OWN, SetFunctionIDMapper2, (FunctionIDMapper2* pFunc, void* clientData), (pFunc, clientData)) \
    X(FORWARD, GetStringLayout2, (ULONG* pStringLengthOffset, ULONG* pBufferOffset), \
      (pStringLengthOffset, pBufferOffset)) \
    X(HOOKS, SetEnterLeaveFunctionHooks3, \
      (FunctionEnter3* pFuncEnter3, FunctionLeave3* pFuncLeave3, FunctionTailcall3* pFuncTailcall3), \
      (pFuncEnter3, pFuncLeave3, pFuncTailcall3)) \
    X(HOOKS, SetEnterLeaveFunctionHooks3WithInfo, \
      (FunctionEnter3WithInfo* pFuncEnter3WithInfo, FunctionLeave3WithInfo* pFuncLeave3WithInfo, \
       FunctionTailcall3WithInfo* pFuncTailcall3WithInfo), \
      (pFuncEnter3WithInfo, pFuncLeave3WithInfo, pFuncTailcall3WithInfo)) \
    X(FORWARD, GetFunctionEnter3Info, \
      (FunctionID functionId, COR_PRF_ELT_INFO eltInfo, COR_PRF_FRAME_INFO* pFrameInfo, \
       ULONG* pcbArgumentInfo, COR_PRF_FUNCTION_ARGUMENT_INFO* pArgumentInfo), \
      (functionId, eltInfo, pFrameInfo, pcbArgumentInfo, pArgumentInfo)) \
    X(FORWARD, GetFunctionLeave3Info, \
      (FunctionID functionId, COR_PRF_ELT_INFO eltInfo, COR_PRF_FRAME_INFO* pFrameInfo, \
       COR_PRF_FUNCTION_ARGUMENT_RANGE* pRetvalRange), \
      (functionId, eltInfo, pFrameInfo, pRetvalRange)) \
    X(FORWARD, GetFunctionTailcall3Info, \
      (FunctionID functionId, COR_PRF_ELT_INFO eltInfo, COR_PRF_FRAME_INFO* pFrameInfo), \
      (functionId, eltInfo, pFrameInfo)) \
    X(FORWARD, EnumModules, (ICorProfilerModuleEnum** ppEnum), (ppEnum)) \
    X(FORWARD, GetRuntimeInformation, \
      (USHORT* pClrInstanceId, COR_PRF_RUNTIME_TYPE* pRuntimeType, USHORT* pMajorVersion, \
       USHORT* pMinorVersion, USHORT* pBuildNumber, USHORT* pQFEVersion, ULONG cchVersionString, \
       ULONG* pcchVersionString, WCHAR* szVersionString), \
      (pClrInstanceId, pRuntimeType, pMajorVersion, pMinorVersion, pBuildNumber, pQFEVersion, \
       cchVersionString, pcchVersionString, szVersionString)) \
    X(FORWARD, GetThreadStaticAddress2, \
      (ClassID classId, mdFieldDef fieldToken, AppDomainID appDomainId, ThreadID threadId, \
       void** ppAddress), \
      (classId, fieldToken, appDomainId, threadId, ppAddress)) \
    X(FORWARD, GetAppDomainsContainingModule, \
      (ModuleID moduleId, ULONG32 cAppDomainIds, ULONG32* pcAppDomainIds, AppDomainID* appDomainIds), \
      (moduleId, cAppDomainIds, pcAppDomainIds, appDomainIds)) \
    X(FORWARD, GetModuleInfo2, \
      (ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName, WCHAR* szName, \
       AssemblyID* pAssemblyId, DWORD* pdwModuleFlags), \
      (moduleId, ppBaseLoadAddress, cchName, pcchName, szName, pAssemblyId, pdwModuleFlags))

#define PM_ICORPROFILERINFO4_METHODS(X) \
    X(FORWARD, EnumThreads, (ICorProfilerThreadEnum** ppEnum), (ppEnum)) \
    X(FORWARD, InitializeCurrentThread, (), ()) \
    X(OWN, RequestReJIT, (ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds), \
      (cFunctions, moduleIds, methodIds)) \
    X(OWN, RequestRevert, (ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds, HRESULT* status), \
      (cFunctions, moduleIds, methodIds, status)) \
    X(FORWARD, GetCodeInfo3, \
      (FunctionID functionID, ReJITID reJitId, ULONG32 cCodeInfos, ULONG32* pcCodeInfos, \
       COR_PRF_CODE_INFO* codeInfos), \
      (functionID, reJitId, cCodeInfos, pcCodeInfos, codeInfos)) \
    X(FORWARD, GetFunctionFromIP2, (LPCBYTE ip, FunctionID* pFunctionId, ReJITID* pReJitId), \
      (ip, pFunctionId, pReJitId)) \
    X(FORWARD, GetReJITIDs, (FunctionID functionId, ULONG cReJitIds, ULONG* pcReJitIds, ReJITID* reJitIds), \
      (functionId, cReJitIds, pcReJitIds, reJitIds)) \
    X(FORWARD, GetILToNativeMapping2, \
      (FunctionID functionId, ReJITID reJitId, ULONG32 cMap, ULONG32* pcMap, \
       COR_DEBUG_IL_TO_NATIVE_MAP* map), \
      (functionId, reJitId, cMap, pcMap, map)) \
    X(FORWARD, EnumJITedFunctions2, (ICorProfilerFunctionEnum** ppEnum), (ppEnum)) \
    X(FORWARD, GetObjectSize2, (ObjectID objectId, SIZE_T* pcSize), (objectId, pcSize))

#define PM_ICORPROFILERINFO5_METHODS(X) \
    X(OWN, GetEventMask2, (DWORD* pdwEventsLow, DWORD* pdwEventsHigh), (pdwEventsLow, pdwEventsHigh)) \
    X(OWN, SetEventMask2, (DWORD dwEventsLow, DWORD dwEventsHigh), (dwEventsLow, dwEventsHigh))

#define PM_ICORPROFILERINFO6_METHODS(X) \
    X(FORWARD, EnumNgenModuleMethodsInliningThisMethod, \
      (ModuleID inlinersModuleId, ModuleID inlineeModuleId, mdMethodDef inlineeMethodId, \
       BOOL* incompleteData, ICorProfilerMethodEnum** ppEnum), \
      (inlinersModuleId, inlineeModuleId, inlineeMethodId, incompleteData, ppEnum))

#define PM_ICORPROFILERINFO7_METHODS(X) \
    X(FORWARD, ApplyMetaData, (ModuleID moduleId), (moduleId)) \
    X(FORWARD, GetInMemorySymbolsLength, (ModuleID moduleId, DWORD* pCountSymbolBytes), \
      (moduleId, pCountSymbolBytes)) \
    X(FORWARD, ReadInMemorySymbols, \
      (ModuleID moduleId, DWORD symbolsReadOffset, BYTE* pSymbolBytes, DWORD countSymbolBytes, \
       DWORD* pCountSymbolBytesRead), \
      (moduleId, symbolsReadOffset, pSymbolBytes, countSymbolBytes, pCountSymbolBytesRead))

#define PM_ICORPROFILERINFO8_METHODS(X) \
    X(FORWARD, IsFunctionDynamic, (FunctionID functionId, BOOL* isDynamic), (functionId, isDynamic)) \
    X(FORWARD, GetFunctionFromIP3, (LPCBYTE ip, FunctionID* functionId, ReJITID* pReJitId), \
      (ip, functionId, pReJitId)) \
    X(FORWARD, GetDynamicFunctionInfo, \
      (FunctionID functionId, ModuleID* moduleId, PCCOR_SIGNATURE* ppvSig, ULONG* pbSig, ULONG cchName, \
       ULONG* pcchName, WCHAR* wszName), \
      (functionId, moduleId, ppvSig, pbSig, cchName, pcchName, wszName))

#define PM_ICORPROFILERINFO9_METHODS(X) \
    X(FORWARD, GetNativeCodeStartAddresses, \
      (FunctionID functionID, ReJITID reJitId, ULONG32 cCodeStartAddresses, ULONG32* pcCodeStartAddresses, \
       UINT_PTR* codeStartAddresses), \
      (functionID, reJitId, cCodeStartAddresses, pcCodeStartAddresses, codeStartAddresses)) \
    X(FORWARD, GetILToNativeMapping3, \
      (UINT_PTR pNativeCodeStartAddress, ULONG32 cMap, ULONG32* pcMap, COR_DEBUG_IL_TO_NATIVE_MAP* map), \
      (pNativeCodeStartAddress, cMap, pcMap, map)) \
    X(FORWARD, GetCodeInfo4, \
      (UINT_PTR pNativeCodeStartAddress, ULONG32 cCodeInfos, ULONG32* pcCodeInfos, \
       COR_PRF_CODE_INFO* codeInfos), \
      (pNativeCodeStartAddress, cCodeInfos, pcCodeInfos, codeInfos))

#define PM_ICORPROFILERINFO10_METHODS(X) \
    X(FORWARD, EnumerateObjectReferences, \
      (ObjectID objectId, ObjectReferenceCallback* callback, void* clientData), \
      (objectId, callback, clientData)) \
    X(FORWARD, IsFrozenObject, (ObjectID objectId, BOOL* pbFrozen), (objectId, pbFrozen)) \
    X(FORWARD, GetLOHObjectSizeThreshold, (DWORD* pThreshold), (pThreshold)) \
    X(OWN, RequestReJITWithInliners, \
      (DWORD dwRejitFlags, ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds), \
      (dwRejitFlags, cFunctions, moduleIds, methodIds)) \
    X(FORWARD, SuspendRuntime, (), ()) \
    X(FORWARD, ResumeRuntime, (), ())

// All 96 methods of ICorProfilerInfo10, GetClassFromObject first and ResumeRuntime last.
#define PM_ALL_CORPROFILERINFO_METHODS(X) \
    PM_ICORPROFILERINFO_METHODS(X) \
    PM_ICORPROFILERINFO2_METHODS(X) \
    PM_ICORPROFILERINFO3_METHODS(X) \
    PM_ICORPROFILERINFO4_METHODS(X) \
    PM_ICORPROFILERINFO5_METHODS(X) \
    PM_ICORPROFILERINFO6_METHODS(X) \
    PM_ICORPROFILERINFO7_METHODS(X) \
    PM_ICORPROFILERINFO8_METHODS(X) \
    PM_ICORPROFILERINFO9_METHODS(X) \
    PM_ICORPROFILERINFO10_METHODS(X)
// clang-format on
