// One target's IL state for one method: the body it set or read from the chain, and what it set as
// function control during a ReJIT. A lock of a small pool shared by all blocks, innermost of all (nothing
// else is taken while it is held), guards its fields: other targets' lookups and the clearing after a
// compilation reach it without its proxy's lock.
#pragma once

#include "hosting/FastMutex.h"
#include "ilchain/IFunctionILBlock.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace profilermultiplexer {

class FunctionILBlock : public IFunctionILBlock {
public:
    FunctionILBlock(ModuleID moduleId, mdMethodDef methodDef, const char* targetName, MethodName methodName,
                    ILFetcher getILFunctionBody);
    FunctionILBlock(const FunctionILBlock&) = delete;
    FunctionILBlock& operator=(const FunctionILBlock&) = delete;

    // A shared copy of size bytes (a buffer of its own also for 0), made in one allocation with its
    // reference counts.
    static std::shared_ptr<unsigned char[]> SharedILCopy(const unsigned char* bytes, ULONG size);

    // IUnknown: no reference counting, the shared pointers own the block.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // ICorProfilerFunctionControl
    HRESULT SetCodegenFlags(DWORD flags) override;
    HRESULT SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) override;
    HRESULT SetILInstrumentedCodeMap(ULONG cILMapEntries, COR_IL_MAP* rgILMapEntries) override;

    // IFunctionILBlock
    HRESULT SetILFunctionBody(ULONG size, const std::shared_ptr<unsigned char[]>& body) override;
    std::pair<std::shared_ptr<COR_IL_MAP[]>, ULONG> GetILInstrumentedCodeMap() const override;
    HRESULT GetILFunctionBody(LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) override;
    HRESULT GetOrFetchILFunctionBody(std::shared_ptr<unsigned char[]>* body, ULONG* size) override;
    std::pair<std::shared_ptr<unsigned char[]>, ULONG> GetILFunctionBody() const override;
    DWORD GetCodegenFlags() const override;
    void RequestRejit() override;
    bool IsRejitPending() const override;
    void RejitIsNoLongerPending() override;
    void ClearILFunctionBody() override;
    bool HasNonEmptyILBlock() const override;

private:
    // The chain's IL for the block's method; run without the lock, since it reads other blocks.
    HRESULT FetchILFunctionBody(std::shared_ptr<unsigned char[]>* body, ULONG* size) const;
    // The block's lock in the pool.
    FastMutex& Lock() const noexcept;
    // The method's display name, for log lines.
    std::string Name() const { return _methodName.Get(_moduleId, _methodDef); }

    // In an order that leaves no gaps: a block is kept for every method a target rewrote.
    const ModuleID _moduleId;
    const mdMethodDef _methodDef;
    DWORD _codegenFlags = 0;
    // Written under the lock, read without it by HasNonEmptyILBlock.
    std::atomic<ULONG> _ilSize{0};
    ULONG _ilMapCount = 0;
    const char* const _targetName;
    const MethodName _methodName;
    std::shared_ptr<COR_IL_MAP[]> _ilMap;
    std::shared_ptr<unsigned char[]> _ilBody;
    const ILFetcher _getILFunctionBody;
    bool _isRejitPending = false;
};

} // namespace profilermultiplexer
