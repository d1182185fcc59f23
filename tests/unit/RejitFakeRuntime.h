// The runtime's info object for the ReJIT tests: records every ReJIT and revert request with its
// methods and flags, and answers with chosen results and per-method revert statuses.
#pragma once

#include "ILFakeRuntime.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class RejitFakeRuntime : public ILFakeRuntime {
public:
    // One request: RequestReJIT, RequestReJITWithInliners or RequestRevert, with its methods.
    struct Request {
        std::string kind;
        std::optional<DWORD> flags;
        std::vector<std::pair<ModuleID, mdMethodDef>> methods;

        bool operator==(const Request& other) const {
            return kind == other.kind && flags == other.flags && methods == other.methods;
        }
    };

    HRESULT rejitResult = S_OK;
    HRESULT revertResult = S_OK;
    HRESULT revertStatus = S_OK;

    HRESULT RequestReJIT(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds) override {
        Record({"RequestReJIT", std::nullopt, Methods(cFunctions, moduleIds, methodIds)});
        return rejitResult;
    }
    HRESULT RequestReJITWithInliners(DWORD dwRejitFlags, ULONG cFunctions, ModuleID* moduleIds,
                                     mdMethodDef* methodIds) override {
        Record({"RequestReJITWithInliners", dwRejitFlags, Methods(cFunctions, moduleIds, methodIds)});
        return rejitResult;
    }
    HRESULT RequestRevert(ULONG cFunctions, ModuleID* moduleIds, mdMethodDef* methodIds,
                          HRESULT* status) override {
        Record({"RequestRevert", std::nullopt, Methods(cFunctions, moduleIds, methodIds)});
        for (ULONG index = 0; status != nullptr && index < cFunctions; ++index) {
            status[index] = revertStatus;
        }
        return revertResult;
    }

    std::vector<Request> Requests() const {
        std::lock_guard<std::mutex> lock(_requestLock);
        return _requests;
    }
    void ClearRequests() {
        std::lock_guard<std::mutex> lock(_requestLock);
        _requests.clear();
    }

private:
    static std::vector<std::pair<ModuleID, mdMethodDef>> Methods(ULONG count, const ModuleID* moduleIds,
                                                                 const mdMethodDef* methodIds) {
        std::vector<std::pair<ModuleID, mdMethodDef>> methods;
        for (ULONG index = 0; index < count; ++index) {
            methods.emplace_back(moduleIds[index], methodIds[index]);
        }
        return methods;
    }
    void Record(Request request) {
        std::lock_guard<std::mutex> lock(_requestLock);
        _requests.push_back(std::move(request));
    }

    mutable std::mutex _requestLock;
    std::vector<Request> _requests;
};

} // namespace profilermultiplexer::tests
