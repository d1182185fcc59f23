// One target's IL state for one method; handed to the target as its function control during a ReJIT.
#pragma once

#include "platform/ComBase.h"
#include "platform/CorProfilerInfo.h"
#include "platform/CorProfilerTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace profilermultiplexer {

class IMetadataHelper;

class IFunctionILBlock : public ICorProfilerFunctionControl {
public:
    // Fills body and size with the IL that the chain offers the block's target for (module, token).
    using ILFetcher =
        std::function<HRESULT(ModuleID, mdMethodDef, std::shared_ptr<unsigned char[]>*, ULONG*)>;

    // Where a block finds its method's display name, only when a line shows it: a fixed name or the
    // metadata helper's. Either is borrowed and must outlive the block.
    class MethodName {
    public:
        MethodName(const std::string& name) noexcept : _source(reinterpret_cast<std::uintptr_t>(&name)) {}
        MethodName(IMetadataHelper* names) noexcept
            : _source(reinterpret_cast<std::uintptr_t>(names) | HelperBit) {}
        std::string Get(ModuleID moduleId, mdMethodDef methodDef) const;

    private:
        static constexpr std::uintptr_t HelperBit = 1;
        // The fixed name's address, or the helper's with HelperBit set (both are aligned): one word in
        // every block.
        std::uintptr_t _source;
    };

    using ICorProfilerFunctionControl::SetILFunctionBody;

    // IL in memory the runtime keeps for the process (its allocator's, or what it holds), shared without an
    // owner; and whether a shared buffer is such memory.
    static std::shared_ptr<unsigned char[]> RuntimeKeptIL(const unsigned char* header) {
        return {std::shared_ptr<unsigned char[]>(), const_cast<unsigned char*>(header)};
    }
    static bool IsRuntimeKeptIL(const std::shared_ptr<unsigned char[]>& body) noexcept {
        return body && body.use_count() == 0;
    }

    // Takes the buffer over without copying it.
    virtual HRESULT SetILFunctionBody(ULONG size, const std::shared_ptr<unsigned char[]>& body) = 0;
    virtual std::pair<std::shared_ptr<COR_IL_MAP[]>, ULONG> GetILInstrumentedCodeMap() const = 0;
    // Fetches the chain's IL first when the block is empty; pcbMethodSize may be null. The header stays
    // valid only while the block holds that IL.
    virtual HRESULT GetILFunctionBody(LPCBYTE* ppMethodHeader, ULONG* pcbMethodSize) = 0;
    // The same, sharing the buffer: it stays valid whatever happens to the block.
    virtual HRESULT GetOrFetchILFunctionBody(std::shared_ptr<unsigned char[]>* body, ULONG* size) = 0;
    virtual std::pair<std::shared_ptr<unsigned char[]>, ULONG> GetILFunctionBody() const = 0;
    virtual DWORD GetCodegenFlags() const = 0;
    virtual void RequestRejit() = 0;
    virtual bool IsRejitPending() const = 0;
    virtual void RejitIsNoLongerPending() = 0;
    virtual void ClearILFunctionBody() = 0;
    virtual bool HasNonEmptyILBlock() const = 0;
    virtual ~IFunctionILBlock() = default;

    // The target's name is borrowed: it must outlive the block.
    static std::shared_ptr<IFunctionILBlock> CreateFunctionILBlock(ModuleID moduleId, mdMethodDef methodDef,
                                                                   const char* targetName,
                                                                   MethodName methodName,
                                                                   ILFetcher getILFunctionBody);
};

} // namespace profilermultiplexer
