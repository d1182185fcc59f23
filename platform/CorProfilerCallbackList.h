// The runtime's callback methods, one list per interface in vtable order (after IUnknown's three).
// Each entry: X(kind, Name, (typed parameters), (argument names)); every method returns HRESULT.
// kind FANOUT: the multiplexer hands the call to every target unchanged; CUSTOM: written by hand.
#pragma once

#include "CorProfilerTypes.h"

// clang-format off
#define PM_ICORPROFILERCALLBACK_METHODS(X) \
    X(CUSTOM, Initialize, (IUnknown* pICorProfilerInfoUnk), (pICorProfilerInfoUnk)) \
    X(CUSTOM, Shutdown, (), ()) \
    X(FANOUT, AppDomainCreationStarted, (AppDomainID appDomainId), (appDomainId)) \
    X(FANOUT, AppDomainCreationFinished, (AppDomainID appDomainId, HRESULT hrStatus), \
      (appDomainId, hrStatus)) \
    X(FANOUT, AppDomainShutdownStarted, (AppDomainID appDomainId), (appDomainId)) \
    X(FANOUT, AppDomainShutdownFinished, (AppDomainID appDomainId, HRESULT hrStatus), \
      (appDomainId, hrStatus)) \
    X(FANOUT, AssemblyLoadStarted, (AssemblyID assemblyId), (assemblyId)) \
    X(FANOUT, AssemblyLoadFinished, (AssemblyID assemblyId, HRESULT hrStatus), (assemblyId, hrStatus)) \
    X(FANOUT, AssemblyUnloadStarted, (AssemblyID assemblyId), (assemblyId)) \
    X(FANOUT, AssemblyUnloadFinished, (AssemblyID assemblyId, HRESULT hrStatus), (assemblyId, hrStatus)) \
    X(CUSTOM, ModuleLoadStarted, (ModuleID moduleId), (moduleId)) \
    X(FANOUT, ModuleLoadFinished, (ModuleID moduleId, HRESULT hrStatus), (moduleId, hrStatus)) \
    X(CUSTOM, ModuleUnloadStarted, (ModuleID moduleId), (moduleId)) \
    X(CUSTOM, ModuleUnloadFinished, (ModuleID moduleId, HRESULT hrStatus), (moduleId, hrStatus)) \
    X(FANOUT, ModuleAttachedToAssembly, (ModuleID moduleId, AssemblyID AssemblyId), (moduleId, AssemblyId)) \
    X(FANOUT, ClassLoadStarted, (ClassID classId), (classId)) \
    X(FANOUT, ClassLoadFinished, (ClassID classId, HRESULT hrStatus), (classId, hrStatus)) \
    X(FANOUT, ClassUnloadStarted, (ClassID classId), (classId)) \
    X(FANOUT, ClassUnloadFinished, (ClassID classId, HRESULT hrStatus), (classId, hrStatus)) \
    X(FANOUT, FunctionUnloadStarted, (FunctionID functionId), (functionId)) \
    X(CUSTOM, JITCompilationStarted, (FunctionID functionId, BOOL fIsSafeToBlock), \
      (functionId, fIsSafeToBlock)) \
    X(CUSTOM, JITCompilationFinished, (FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock), \
      (functionId, hrStatus, fIsSafeToBlock)) \
    X(FANOUT, JITCachedFunctionSearchStarted, (FunctionID functionId, BOOL* pbUseCachedFunction), \
      (functionId, pbUseCachedFunction)) \
    X(FANOUT, JITCachedFunctionSearchFinished, (FunctionID functionId, COR_PRF_JIT_CACHE result), \
      (functionId, result)) \
    X(FANOUT, JITFunctionPitched, (FunctionID functionId), (functionId)) \
    X(FANOUT, JITInlining, (FunctionID callerId, FunctionID calleeId, BOOL* pfShouldInline), \
      (callerId, calleeId, pfShouldInline)) \
    X(FANOUT, ThreadCreated, (ThreadID threadId), (threadId)) \
    X(FANOUT, ThreadDestroyed, (ThreadID threadId), (threadId)) \
    X(FANOUT, ThreadAssignedToOSThread, (ThreadID managedThreadId, DWORD osThreadId), \
      (managedThreadId, osThreadId)) \
    X(FANOUT, RemotingClientInvocationStarted, (), ()) \
    X(FANOUT, RemotingClientSendingMessage, (GUID* pCookie, BOOL fIsAsync), (pCookie, fIsAsync)) \
    X(FANOUT, RemotingClientReceivingReply, (GUID* pCookie, BOOL fIsAsync), (pCookie, fIsAsync)) \
    X(FANOUT, RemotingClientInvocationFinished, (), ()) \
    X(FANOUT, RemotingServerReceivingMessage, (GUID* pCookie, BOOL fIsAsync), (pCookie, fIsAsync)) \
    X(FANOUT, RemotingServerInvocationStarted, (), ()) \
    X(FANOUT, RemotingServerInvocationReturned, (), ()) \
    X(FANOUT, RemotingServerSendingReply, (GUID* pCookie, BOOL fIsAsync), (pCookie, fIsAsync)) \
    X(FANOUT, UnmanagedToManagedTransition, (FunctionID functionId, COR_PRF_TRANSITION_REASON reason), \
      (functionId, reason)) \
    X(FANOUT, ManagedToUnmanagedTransition, (FunctionID functionId, COR_PRF_TRANSITION_REASON reason), \
      (functionId, reason)) \
    X(FANOUT, RuntimeSuspendStarted, (COR_PRF_SUSPEND_REASON suspendReason), (suspendReason)) \
    X(FANOUT, RuntimeSuspendFinished, (), ()) \
    X(FANOUT, RuntimeSuspendAborted, (), ()) \
    X(FANOUT, RuntimeResumeStarted, (), ()) \
    X(FANOUT, RuntimeResumeFinished, (), ()) \
    X(FANOUT, RuntimeThreadSuspended, (ThreadID threadId), (threadId)) \
    X(FANOUT, RuntimeThreadResumed, (ThreadID threadId), (threadId)) \
    X(FANOUT, MovedReferences, \
      (ULONG cMovedObjectIDRanges, ObjectID* oldObjectIDRangeStart, ObjectID* newObjectIDRangeStart, \
       ULONG* cObjectIDRangeLength), \
      (cMovedObjectIDRanges, oldObjectIDRangeStart, newObjectIDRangeStart, cObjectIDRangeLength)) \
    X(CUSTOM, ObjectAllocated, (ObjectID objectId, ClassID classId), (objectId, classId)) \
    X(FANOUT, ObjectsAllocatedByClass, (ULONG cClassCount, ClassID* classIds, ULONG* cObjects), \
      (cClassCount, classIds, cObjects)) \
    X(FANOUT, ObjectReferences, \
      (ObjectID objectId, ClassID classId, ULONG cObjectRefs, ObjectID* objectRefIds), \
      (objectId, classId, cObjectRefs, objectRefIds)) \
    X(FANOUT, RootReferences, (ULONG cRootRefs, ObjectID* rootRefIds), (cRootRefs, rootRefIds)) \
    X(FANOUT, ExceptionThrown, (ObjectID thrownObjectId), (thrownObjectId)) \
    X(FANOUT, ExceptionSearchFunctionEnter, (FunctionID functionId), (functionId)) \
    X(FANOUT, ExceptionSearchFunctionLeave, (), ()) \
    X(FANOUT, ExceptionSearchFilterEnter, (FunctionID functionId), (functionId)) \
    X(FANOUT, ExceptionSearchFilterLeave, (), ()) \
    X(FANOUT, ExceptionSearchCatcherFound, (FunctionID functionId), (functionId)) \
    X(FANOUT, ExceptionOSHandlerEnter, (UINT_PTR __unused), (__unused)) \
    X(FANOUT, ExceptionOSHandlerLeave, (UINT_PTR __unused), (__unused)) \
    X(FANOUT, ExceptionUnwindFunctionEnter, (FunctionID functionId), (functionId)) \
    X(FANOUT, ExceptionUnwindFunctionLeave, (), ()) \
    X(FANOUT, ExceptionUnwindFinallyEnter, (FunctionID functionId), (functionId)) \
    X(FANOUT, ExceptionUnwindFinallyLeave, (), ()) \
    X(FANOUT, ExceptionCatcherEnter, (FunctionID functionId, ObjectID objectId), (functionId, objectId)) \
    X(FANOUT, ExceptionCatcherLeave, (), ()) \
    X(FANOUT, COMClassicVTableCreated, \
      (ClassID wrappedClassId, REFGUID implementedIID, void* pVTable, ULONG cSlots), \
      (wrappedClassId, implementedIID, pVTable, cSlots)) \
    X(FANOUT, COMClassicVTableDestroyed, (ClassID wrappedClassId, REFGUID implementedIID, void* pVTable), \
      (wrappedClassId, implementedIID, pVTable)) \
    X(FANOUT, ExceptionCLRCatcherFound, (), ()) \
    X(FANOUT, ExceptionCLRCatcherExecute, (), ())

#define PM_ICORPROFILERCALLBACK2_METHODS(X) \
    X(FANOUT, ThreadNameChanged, (ThreadID threadId, ULONG cchName, WCHAR* name), (threadId, cchName, name)) \
    X(FANOUT, GarbageCollectionStarted, \
      (int cGenerations, BOOL* generationCollected, COR_PRF_GC_REASON reason), \
      (cGenerations, generationCollected, reason)) \
    X(FANOUT, SurvivingReferences, \
      (ULONG cSurvivingObjectIDRanges, ObjectID* objectIDRangeStart, ULONG* cObjectIDRangeLength), \
      (cSurvivingObjectIDRanges, objectIDRangeStart, cObjectIDRangeLength)) \
    X(FANOUT, GarbageCollectionFinished, (), ()) \
    X(FANOUT, FinalizeableObjectQueued, (DWORD finalizerFlags, ObjectID objectID), \
      (finalizerFlags, objectID)) \
    X(FANOUT, RootReferences2, \
      (ULONG cRootRefs, ObjectID* rootRefIds, COR_PRF_GC_ROOT_KIND* rootKinds, \
       COR_PRF_GC_ROOT_FLAGS* rootFlags, UINT_PTR* rootIds), \
      (cRootRefs, rootRefIds, rootKinds, rootFlags, rootIds)) \
    X(FANOUT, HandleCreated, (GCHandleID handleId, ObjectID initialObjectId), (handleId, initialObjectId)) \
    X(FANOUT, HandleDestroyed, (GCHandleID handleId), (handleId))

#define PM_ICORPROFILERCALLBACK3_METHODS(X) \
    X(CUSTOM, InitializeForAttach, (IUnknown* pCorProfilerInfoUnk, void* pvClientData, UINT cbClientData), \
      (pCorProfilerInfoUnk, pvClientData, cbClientData)) \
    X(FANOUT, ProfilerAttachComplete, (), ()) \
    X(FANOUT, ProfilerDetachSucceeded, (), ())

#define PM_ICORPROFILERCALLBACK4_METHODS(X) \
    X(CUSTOM, ReJITCompilationStarted, (FunctionID functionId, ReJITID rejitId, BOOL fIsSafeToBlock), \
      (functionId, rejitId, fIsSafeToBlock)) \
    X(CUSTOM, GetReJITParameters, \
      (ModuleID moduleId, mdMethodDef methodId, ICorProfilerFunctionControl* pFunctionControl), \
      (moduleId, methodId, pFunctionControl)) \
    X(CUSTOM, ReJITCompilationFinished, \
      (FunctionID functionId, ReJITID rejitId, HRESULT hrStatus, BOOL fIsSafeToBlock), \
      (functionId, rejitId, hrStatus, fIsSafeToBlock)) \
    X(CUSTOM, ReJITError, \
      (ModuleID moduleId, mdMethodDef methodId, FunctionID functionId, HRESULT hrStatus), \
      (moduleId, methodId, functionId, hrStatus)) \
    X(FANOUT, MovedReferences2, \
      (ULONG cMovedObjectIDRanges, ObjectID* oldObjectIDRangeStart, ObjectID* newObjectIDRangeStart, \
       SIZE_T* cObjectIDRangeLength), \
      (cMovedObjectIDRanges, oldObjectIDRangeStart, newObjectIDRangeStart, cObjectIDRangeLength)) \
    X(FANOUT, SurvivingReferences2, \
      (ULONG cSurvivingObjectIDRanges, ObjectID* objectIDRangeStart, SIZE_T* cObjectIDRangeLength), \
      (cSurvivingObjectIDRanges, objectIDRangeStart, cObjectIDRangeLength))

#define PM_ICORPROFILERCALLBACK5_METHODS(X) \
    X(FANOUT, ConditionalWeakTableElementReferences, \
      (ULONG cRootRefs, ObjectID* keyRefIds, ObjectID* valueRefIds, GCHandleID* rootIds), \
      (cRootRefs, keyRefIds, valueRefIds, rootIds))

#define PM_ICORPROFILERCALLBACK6_METHODS(X) \
    X(FANOUT, GetAssemblyReferences, \
      (const WCHAR* wszAssemblyPath, ICorProfilerAssemblyReferenceProvider* pAsmRefProvider), \
      (wszAssemblyPath, pAsmRefProvider))

#define PM_ICORPROFILERCALLBACK7_METHODS(X) \
    X(FANOUT, ModuleInMemorySymbolsUpdated, (ModuleID moduleId), (moduleId))

#define PM_ICORPROFILERCALLBACK8_METHODS(X) \
    X(FANOUT, DynamicMethodJITCompilationStarted, \
      (FunctionID functionId, BOOL fIsSafeToBlock, LPCBYTE pILHeader, ULONG cbILHeader), \
      (functionId, fIsSafeToBlock, pILHeader, cbILHeader)) \
    X(FANOUT, DynamicMethodJITCompilationFinished, \
      (FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock), \
      (functionId, hrStatus, fIsSafeToBlock))

#define PM_ICORPROFILERCALLBACK9_METHODS(X) \
    X(FANOUT, DynamicMethodUnloaded, (FunctionID functionId), (functionId))

// All 92 callbacks of ICorProfilerCallback9, Initialize first and DynamicMethodUnloaded last.
#define PM_ALL_CORPROFILERCALLBACK_METHODS(X) \
    PM_ICORPROFILERCALLBACK_METHODS(X) \
    PM_ICORPROFILERCALLBACK2_METHODS(X) \
    PM_ICORPROFILERCALLBACK3_METHODS(X) \
    PM_ICORPROFILERCALLBACK4_METHODS(X) \
    PM_ICORPROFILERCALLBACK5_METHODS(X) \
    PM_ICORPROFILERCALLBACK6_METHODS(X) \
    PM_ICORPROFILERCALLBACK7_METHODS(X) \
    PM_ICORPROFILERCALLBACK8_METHODS(X) \
    PM_ICORPROFILERCALLBACK9_METHODS(X)
// clang-format on
