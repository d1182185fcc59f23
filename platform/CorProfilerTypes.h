// Identifiers, enumerations, structures and hook types of the runtime's profiling API,
// laid out as the runtime passes them on Linux x86-64.
#pragma once

#include "ComBase.h"

#include <cstddef>
#include <cstdint>

using HANDLE = void*;

// Runtime object identifiers: opaque pointer-sized values.
using ProcessID = UINT_PTR;
using AssemblyID = UINT_PTR;
using AppDomainID = UINT_PTR;
using ModuleID = UINT_PTR;
using ClassID = UINT_PTR;
using ThreadID = UINT_PTR;
using ContextID = UINT_PTR;
using FunctionID = UINT_PTR;
using ObjectID = UINT_PTR;
using GCHandleID = UINT_PTR;
using ReJITID = UINT_PTR;
using COR_PRF_ELT_INFO = UINT_PTR;
using COR_PRF_FRAME_INFO = UINT_PTR;

// Metadata tokens: 32-bit, the table in the top byte and the row below it.
using mdToken = ULONG32;
using mdModule = mdToken;
using mdTypeRef = mdToken;
using mdTypeDef = mdToken;
using mdFieldDef = mdToken;
using mdMethodDef = mdToken;
using mdParamDef = mdToken;
using mdInterfaceImpl = mdToken;
using mdMemberRef = mdToken;
using mdCustomAttribute = mdToken;
using mdPermission = mdToken;
using mdSignature = mdToken;
using mdEvent = mdToken;
using mdProperty = mdToken;
using mdModuleRef = mdToken;
using mdAssembly = mdToken;
using mdAssemblyRef = mdToken;
using mdFile = mdToken;
using mdExportedType = mdToken;
using mdManifestResource = mdToken;
using mdTypeSpec = mdToken;
using mdGenericParam = mdToken;
using mdMethodSpec = mdToken;
using mdGenericParamConstraint = mdToken;
using mdString = mdToken;

using COR_SIGNATURE = BYTE;
using PCOR_SIGNATURE = COR_SIGNATURE*;
using PCCOR_SIGNATURE = const COR_SIGNATURE*;

// Element types of signatures; only passed by pointer here.
enum CorElementType : uint32_t;

// Interfaces that only pass through as pointers.
struct ICorProfilerFunctionControl;
struct ICorProfilerAssemblyReferenceProvider;
struct IMethodMalloc;
struct ICorProfilerObjectEnum;
struct ICorProfilerFunctionEnum;
struct ICorProfilerModuleEnum;
struct ICorProfilerThreadEnum;
struct ICorProfilerMethodEnum;

// Event mask, low word (SetEventMask, SetEventMask2).
enum COR_PRF_MONITOR : uint32_t {
    COR_PRF_MONITOR_NONE = 0x00000000,
    COR_PRF_MONITOR_FUNCTION_UNLOADS = 0x00000001,
    COR_PRF_MONITOR_CLASS_LOADS = 0x00000002,
    COR_PRF_MONITOR_MODULE_LOADS = 0x00000004,
    COR_PRF_MONITOR_ASSEMBLY_LOADS = 0x00000008,
    COR_PRF_MONITOR_APPDOMAIN_LOADS = 0x00000010,
    COR_PRF_MONITOR_JIT_COMPILATION = 0x00000020,
    COR_PRF_MONITOR_EXCEPTIONS = 0x00000040,
    COR_PRF_MONITOR_GC = 0x00000080,
    COR_PRF_MONITOR_OBJECT_ALLOCATED = 0x00000100,
    COR_PRF_MONITOR_THREADS = 0x00000200,
    COR_PRF_MONITOR_REMOTING = 0x00000400,
    COR_PRF_MONITOR_CODE_TRANSITIONS = 0x00000800,
    COR_PRF_MONITOR_ENTERLEAVE = 0x00001000,
    COR_PRF_MONITOR_CCW = 0x00002000,
    COR_PRF_MONITOR_REMOTING_COOKIE = 0x00004400,
    COR_PRF_MONITOR_REMOTING_ASYNC = 0x00008400,
    COR_PRF_MONITOR_SUSPENDS = 0x00010000,
    COR_PRF_MONITOR_CACHE_SEARCHES = 0x00020000,
    COR_PRF_ENABLE_REJIT = 0x00040000,
    COR_PRF_ENABLE_INPROC_DEBUGGING = 0x00080000,
    COR_PRF_ENABLE_JIT_MAPS = 0x00100000,
    COR_PRF_DISABLE_INLINING = 0x00200000,
    COR_PRF_DISABLE_OPTIMIZATIONS = 0x00400000,
    COR_PRF_ENABLE_OBJECT_ALLOCATED = 0x00800000,
    COR_PRF_MONITOR_CLR_EXCEPTIONS = 0x01000000,
    COR_PRF_MONITOR_ALL = 0x0107FFFF,
    COR_PRF_ENABLE_FUNCTION_ARGS = 0x02000000,
    COR_PRF_ENABLE_FUNCTION_RETVAL = 0x04000000,
    COR_PRF_ENABLE_FRAME_INFO = 0x08000000,
    COR_PRF_ENABLE_STACK_SNAPSHOT = 0x10000000,
    COR_PRF_USE_PROFILE_IMAGES = 0x20000000,
    COR_PRF_DISABLE_TRANSPARENCY_CHECKS_UNDER_FULL_TRUST = 0x40000000,
    COR_PRF_DISABLE_ALL_NGEN_IMAGES = 0x80000000,
    COR_PRF_ALL = 0x8FFFFFFF,
};

// Event mask, high word (SetEventMask2).
enum COR_PRF_HIGH_MONITOR : uint32_t {
    COR_PRF_HIGH_MONITOR_NONE = 0x00000000,
    COR_PRF_HIGH_ADD_ASSEMBLY_REFERENCES = 0x00000001,
    COR_PRF_HIGH_IN_MEMORY_SYMBOLS_UPDATED = 0x00000002,
    COR_PRF_HIGH_MONITOR_DYNAMIC_FUNCTION_UNLOADS = 0x00000004,
    COR_PRF_HIGH_DISABLE_TIERED_COMPILATION = 0x00000008,
    COR_PRF_HIGH_BASIC_GC = 0x00000010,
    COR_PRF_HIGH_MONITOR_GC_MOVED_OBJECTS = 0x00000020,
    COR_PRF_HIGH_REQUIRE_PROFILE_IMAGE = 0x00000000,
    COR_PRF_HIGH_MONITOR_LARGEOBJECT_ALLOCATED = 0x00000040,
    COR_PRF_HIGH_MONITOR_EVENT_PIPE = 0x00000080,
    COR_PRF_HIGH_MONITOR_PINNEDOBJECT_ALLOCATED = 0x00000100,
};

// Per-method code generation flags (ICorProfilerFunctionControl::SetCodegenFlags).
enum COR_PRF_CODEGEN_FLAGS : uint32_t {
    COR_PRF_CODEGEN_DISABLE_INLINING = 0x0001,
    COR_PRF_CODEGEN_DISABLE_ALL_OPTIMIZATIONS = 0x0002,
};

// dwRejitFlags of RequestReJITWithInliners.
enum COR_PRF_REJIT_FLAGS : uint32_t {
    COR_PRF_REJIT_BLOCK_INLINING = 0x1,
    COR_PRF_REJIT_INLINING_CALLBACKS = 0x2,
};

// infoFlags of DoStackSnapshot.
enum COR_PRF_SNAPSHOT_INFO : uint32_t {
    COR_PRF_SNAPSHOT_DEFAULT = 0x0,
    COR_PRF_SNAPSHOT_REGISTER_CONTEXT = 0x1,
    COR_PRF_SNAPSHOT_X86_OPTIMIZED = 0x2,
};

enum COR_PRF_MISC : uint32_t {
    PROFILER_PARENT_UNKNOWN = 0xFFFFFFFD,
    PROFILER_GLOBAL_CLASS = 0xFFFFFFFE,
    PROFILER_GLOBAL_MODULE = 0xFFFFFFFF,
};

enum COR_PRF_JIT_CACHE : uint32_t {
    COR_PRF_CACHED_FUNCTION_FOUND = 0,
    COR_PRF_CACHED_FUNCTION_NOT_FOUND = 1,
};

enum COR_PRF_TRANSITION_REASON : uint32_t {
    COR_PRF_TRANSITION_CALL = 0,
    COR_PRF_TRANSITION_RETURN = 1,
};

enum COR_PRF_SUSPEND_REASON : uint32_t {
    COR_PRF_SUSPEND_OTHER = 0,
    COR_PRF_SUSPEND_FOR_GC = 1,
    COR_PRF_SUSPEND_FOR_APPDOMAIN_SHUTDOWN = 2,
    COR_PRF_SUSPEND_FOR_CODE_PITCHING = 3,
    COR_PRF_SUSPEND_FOR_SHUTDOWN = 4,
    COR_PRF_SUSPEND_FOR_INPROC_DEBUGGER = 6,
    COR_PRF_SUSPEND_FOR_GC_PREP = 7,
    COR_PRF_SUSPEND_FOR_REJIT = 8,
    COR_PRF_SUSPEND_FOR_PROFILER = 9,
};

enum COR_PRF_RUNTIME_TYPE : uint32_t {
    COR_PRF_DESKTOP_CLR = 0x1,
    COR_PRF_CORE_CLR = 0x2,
};

enum COR_PRF_STATIC_TYPE : uint32_t {
    COR_PRF_FIELD_NOT_A_STATIC = 0x0,
    COR_PRF_FIELD_APP_DOMAIN_STATIC = 0x1,
    COR_PRF_FIELD_THREAD_STATIC = 0x2,
    COR_PRF_FIELD_CONTEXT_STATIC = 0x4,
    COR_PRF_FIELD_RVA_STATIC = 0x8,
};

enum COR_PRF_GC_ROOT_KIND : uint32_t {
    COR_PRF_GC_ROOT_OTHER = 0,
    COR_PRF_GC_ROOT_STACK = 1,
    COR_PRF_GC_ROOT_FINALIZER = 2,
    COR_PRF_GC_ROOT_HANDLE = 3,
};

enum COR_PRF_GC_ROOT_FLAGS : uint32_t {
    COR_PRF_GC_ROOT_PINNING = 0x1,
    COR_PRF_GC_ROOT_WEAKREF = 0x2,
    COR_PRF_GC_ROOT_INTERIOR = 0x4,
    COR_PRF_GC_ROOT_REFCOUNTED = 0x8,
};

enum COR_PRF_FINALIZER_FLAGS : uint32_t {
    COR_PRF_FINALIZER_CRITICAL = 0x1,
};

enum COR_PRF_GC_GENERATION : uint32_t {
    COR_PRF_GC_GEN_0 = 0,
    COR_PRF_GC_GEN_1 = 1,
    COR_PRF_GC_GEN_2 = 2,
    COR_PRF_GC_LARGE_OBJECT_HEAP = 3,
    COR_PRF_GC_PINNED_OBJECT_HEAP = 4,
};

enum COR_PRF_CLAUSE_TYPE : uint32_t {
    COR_PRF_CLAUSE_NONE = 0,
    COR_PRF_CLAUSE_FILTER = 1,
    COR_PRF_CLAUSE_CATCH = 2,
    COR_PRF_CLAUSE_FINALLY = 3,
};

enum COR_PRF_GC_REASON : uint32_t {
    COR_PRF_GC_OTHER = 0,
    COR_PRF_GC_INDUCED = 1,
};

enum COR_PRF_MODULE_FLAGS : uint32_t {
    COR_PRF_MODULE_DISK = 0x00000001,
    COR_PRF_MODULE_NGEN = 0x00000002,
    COR_PRF_MODULE_DYNAMIC = 0x00000004,
    COR_PRF_MODULE_COLLECTIBLE = 0x00000008,
    COR_PRF_MODULE_RESOURCE = 0x00000010,
    COR_PRF_MODULE_FLAT_LAYOUT = 0x00000020,
    COR_PRF_MODULE_WINDOWS_RUNTIME = 0x00000040,
};

// One entry of an IL offset map (SetILInstrumentedCodeMap).
struct _COR_IL_MAP {
    ULONG32 oldOffset;
    ULONG32 newOffset;
    BOOL fAccurate;
};
using COR_IL_MAP = _COR_IL_MAP;

struct COR_DEBUG_IL_TO_NATIVE_MAP {
    ULONG32 ilOffset;
    ULONG32 nativeStartOffset;
    ULONG32 nativeEndOffset;
};

struct COR_FIELD_OFFSET {
    mdFieldDef ridOfField;
    ULONG ulOffset;
};

struct COR_PRF_FUNCTION_ARGUMENT_RANGE {
    UINT_PTR startAddress;
    ULONG length;
};

// Variable length: numRanges entries follow in ranges.
struct COR_PRF_FUNCTION_ARGUMENT_INFO {
    ULONG numRanges;
    ULONG totalArgumentSize;
    COR_PRF_FUNCTION_ARGUMENT_RANGE ranges[1];
};

struct COR_PRF_CODE_INFO {
    UINT_PTR startAddress;
    SIZE_T size;
};

struct COR_PRF_FUNCTION {
    FunctionID functionId;
    ReJITID reJitId;
};

struct COR_PRF_METHOD {
    ModuleID moduleId;
    mdMethodDef methodId;
};

struct COR_PRF_GC_GENERATION_RANGE {
    COR_PRF_GC_GENERATION generation;
    ObjectID rangeStart;
    UINT_PTR rangeLength;
    UINT_PTR rangeLengthReserved;
};

struct COR_PRF_EX_CLAUSE_INFO {
    COR_PRF_CLAUSE_TYPE clauseType;
    UINT_PTR programCounter;
    UINT_PTR framePointer;
    UINT_PTR shadowStackPointer;
};

union FunctionIDOrClientID {
    FunctionID functionID;
    UINT_PTR clientID;
};

// Hook and callback function types; the interfaces take pointers to them.
using FunctionIDMapper = UINT_PTR(FunctionID funcId, BOOL* pbHookFunction);
using FunctionIDMapper2 = UINT_PTR(FunctionID funcId, void* clientData, BOOL* pbHookFunction);

using FunctionEnter = void(FunctionID funcID);
using FunctionLeave = void(FunctionID funcID);
using FunctionTailcall = void(FunctionID funcID);

using FunctionEnter2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func,
                            COR_PRF_FUNCTION_ARGUMENT_INFO* argumentInfo);
using FunctionLeave2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func,
                            COR_PRF_FUNCTION_ARGUMENT_RANGE* retvalRange);
using FunctionTailcall2 = void(FunctionID funcId, UINT_PTR clientData, COR_PRF_FRAME_INFO func);

using FunctionEnter3 = void(FunctionIDOrClientID functionIDOrClientID);
using FunctionLeave3 = void(FunctionIDOrClientID functionIDOrClientID);
using FunctionTailcall3 = void(FunctionIDOrClientID functionIDOrClientID);

using FunctionEnter3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);
using FunctionLeave3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);
using FunctionTailcall3WithInfo = void(FunctionIDOrClientID functionIDOrClientID, COR_PRF_ELT_INFO eltInfo);

using StackSnapshotCallback = HRESULT(FunctionID funcId, UINT_PTR ip, COR_PRF_FRAME_INFO frameInfo,
                                      ULONG32 contextSize, BYTE* context, void* clientData);

using ObjectReferenceCallback = BOOL(ObjectID root, ObjectID* reference, void* clientData);

// The layouts the runtime reads and writes (LP64).
static_assert(sizeof(COR_PRF_MONITOR) == 4 && sizeof(COR_PRF_GC_REASON) == 4, "enums are 32-bit");
static_assert(sizeof(COR_PRF_GC_ROOT_KIND) == 4 && sizeof(COR_PRF_GC_ROOT_FLAGS) == 4, "enums are 32-bit");
static_assert(sizeof(COR_IL_MAP) == 12 && offsetof(COR_IL_MAP, fAccurate) == 8, "COR_IL_MAP layout");
static_assert(sizeof(COR_DEBUG_IL_TO_NATIVE_MAP) == 12, "COR_DEBUG_IL_TO_NATIVE_MAP layout");
static_assert(sizeof(COR_FIELD_OFFSET) == 8, "COR_FIELD_OFFSET layout");
static_assert(sizeof(COR_PRF_FUNCTION_ARGUMENT_RANGE) == 16, "COR_PRF_FUNCTION_ARGUMENT_RANGE layout");
static_assert(sizeof(COR_PRF_FUNCTION_ARGUMENT_INFO) == 24 &&
                  offsetof(COR_PRF_FUNCTION_ARGUMENT_INFO, ranges) == 8,
              "COR_PRF_FUNCTION_ARGUMENT_INFO layout");
static_assert(sizeof(COR_PRF_CODE_INFO) == 16, "COR_PRF_CODE_INFO layout");
static_assert(sizeof(COR_PRF_FUNCTION) == 16, "COR_PRF_FUNCTION layout");
static_assert(sizeof(COR_PRF_METHOD) == 16 && offsetof(COR_PRF_METHOD, methodId) == 8,
              "COR_PRF_METHOD layout");
static_assert(sizeof(COR_PRF_GC_GENERATION_RANGE) == 32 &&
                  offsetof(COR_PRF_GC_GENERATION_RANGE, rangeStart) == 8,
              "COR_PRF_GC_GENERATION_RANGE layout");
static_assert(sizeof(COR_PRF_EX_CLAUSE_INFO) == 32 && offsetof(COR_PRF_EX_CLAUSE_INFO, programCounter) == 8,
              "COR_PRF_EX_CLAUSE_INFO layout");
static_assert(sizeof(FunctionIDOrClientID) == 8, "FunctionIDOrClientID layout");
