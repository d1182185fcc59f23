#include "ilchain/MetadataHelper.h"
#include "FakeRuntimeInfo.h"
#include "LogCapture.h"
#include "NullMetaDataImport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace profilermultiplexer::tests {
namespace {

// Metadata of one module: method token -> (type token, name), type token -> name, and the module's name.
class FakeMetaDataImport : public NullMetaDataImport {
public:
    std::u16string scopeName = u"App.dll";
    std::map<mdTypeDef, std::u16string> types;
    std::map<mdMethodDef, std::pair<mdTypeDef, std::u16string>> methods;
    bool refuseIMetaDataImport = false;
    int methodPropsCalls = 0;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (refuseIMetaDataImport && riid == IID_IMetaDataImport) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return NullMetaDataImport::QueryInterface(riid, ppv);
    }

    HRESULT GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod, ULONG*,
                           DWORD*, PCCOR_SIGNATURE*, ULONG*, ULONG*, DWORD*) override {
        ++methodPropsCalls;
        const auto found = methods.find(mb);
        if (found == methods.end()) {
            return E_INVALIDARG;
        }
        *pClass = found->second.first;
        Copy(found->second.second, szMethod, cchMethod);
        return S_OK;
    }
    HRESULT GetTypeDefProps(mdTypeDef td, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG*, DWORD*,
                            mdToken*) override {
        const auto found = types.find(td);
        if (found == types.end()) {
            return E_INVALIDARG;
        }
        Copy(found->second, szTypeDef, cchTypeDef);
        return S_OK;
    }
    HRESULT GetScopeProps(LPWSTR szName, ULONG cchName, ULONG*, GUID*) override {
        Copy(scopeName, szName, cchName);
        return S_OK;
    }

private:
    // As the runtime does: cut to fit, always terminated.
    static void Copy(const std::u16string& text, LPWSTR buffer, ULONG length) {
        const std::size_t count = std::min<std::size_t>(text.size(), length - 1);
        std::copy_n(text.begin(), count, buffer);
        buffer[count] = u'\0';
    }
};

constexpr ModuleID AppModule = 0x7f00aa10;

class MetadataHelperTest : public testing::Test {
protected:
    MetadataHelperTest() {
        reader.types[0x02000002] = u"Sample.Program";
        reader.methods[0x06000001] = {0x02000002, u"Main"};
        runtime.SetModuleMetaData(AppModule, &reader);
    }

    FakeMetaDataImport reader;
    FakeRuntimeInfo runtime;
};

TEST_F(MetadataHelperTest, NamesAMethodByModuleTypeAndMethod) {
    MetadataHelper helper(&runtime);
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000001), "[App.dll] Sample.Program::Main");
    const auto [module, flags, iid] = runtime.LastMetaDataRequest();
    EXPECT_EQ(module, AppModule);
    EXPECT_EQ(flags, ofRead);
    EXPECT_EQ(*iid, IID_IMetaDataImport2);
}

TEST_F(MetadataHelperTest, CachesEachNameAndOpensEachModuleOnce) {
    MetadataHelper helper(&runtime);
    const std::string first = helper.GetMethodName(AppModule, 0x06000001);
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000001), first);
    EXPECT_EQ(reader.methodPropsCalls, 1);
    helper.GetMethodName(AppModule, 0x06000099);
    EXPECT_EQ(runtime.MetaDataRequests(), 1);
}

TEST_F(MetadataHelperTest, UnknownTokenGetsTheFallbackNameWithoutLogging) {
    MetadataHelper helper(&runtime);
    LogCapture capture("trace");
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000012), "(moduleId: 0x7f00aa10,methodId: 0x6000012)");
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000012), "(moduleId: 0x7f00aa10,methodId: 0x6000012)");
    EXPECT_EQ(reader.methodPropsCalls, 1);
    EXPECT_TRUE(capture.Messages().empty());
}

TEST_F(MetadataHelperTest, UnknownTypeGetsTheFallbackName) {
    reader.methods[0x06000002] = {0x02000009, u"Orphan"};
    MetadataHelper helper(&runtime);
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000002), "(moduleId: 0x7f00aa10,methodId: 0x6000002)");
}

TEST_F(MetadataHelperTest, LongNamesAreCutToTheirBuffer) {
    reader.methods[0x06000003] = {0x02000002, std::u16string(5000, u'm')};
    MetadataHelper helper(&runtime);
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000003),
              "[App.dll] Sample.Program::" + std::string(4095, 'm'));
}

TEST_F(MetadataHelperTest, HoldsTheRuntimeAndTheReaderUntilDestroyed) {
    {
        MetadataHelper helper(&runtime);
        helper.GetMethodName(AppModule, 0x06000001);
        EXPECT_EQ(runtime.RefCount(), 1u);
        EXPECT_EQ(reader.RefCount(), 1u);
    }
    EXPECT_EQ(runtime.RefCount(), 0u);
    EXPECT_EQ(reader.RefCount(), 0u);
}

TEST_F(MetadataHelperTest, DroppedModuleReleasesItsReaderAndIsOpenedAnew) {
    MetadataHelper helper(&runtime);
    // A line still being written on another thread when the module unloads.
    const auto& name = helper.GetMethodName(AppModule, 0x06000001);
    helper.DropModule(AppModule);
    EXPECT_EQ(name, "[App.dll] Sample.Program::Main");
    EXPECT_EQ(reader.RefCount(), 0u);
    // The runtime may have freed the module: it is not asked until a module takes the id.
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000001), "(moduleId: 0x7f00aa10,methodId: 0x6000001)");
    EXPECT_EQ(runtime.MetaDataRequests(), 1);
    helper.ForgetDroppedModule(AppModule);
    reader.methods[0x06000001] = {0x02000002, u"Run"};
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000001), "[App.dll] Sample.Program::Run");
    EXPECT_EQ(runtime.MetaDataRequests(), 2);
}

struct OpenFailureCase {
    const char* name;
    bool hasReader;
    HRESULT result;
    bool refuseIMetaDataImport;
    const char* error;
};

void PrintTo(const OpenFailureCase& row, std::ostream* os) {
    *os << row.name;
}

class MetadataOpenFailure : public MetadataHelperTest, public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(MetadataOpenFailure, LogsOnceAndNamesEveryMethodByNumbers) {
    const OpenFailureCase& c = GetParam();
    reader.refuseIMetaDataImport = c.refuseIMetaDataImport;
    runtime.SetModuleMetaData(AppModule, c.hasReader ? &reader : nullptr, c.result);
    LogCapture capture("err");
    MetadataHelper helper(&runtime);
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000001), "(moduleId: 0x7f00aa10,methodId: 0x6000001)");
    EXPECT_EQ(helper.GetMethodName(AppModule, 0x06000002), "(moduleId: 0x7f00aa10,methodId: 0x6000002)");
    EXPECT_EQ(capture.Messages(), std::vector<std::string>{c.error});
    EXPECT_EQ(runtime.MetaDataRequests(), 1);
    EXPECT_EQ(reader.methodPropsCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, MetadataOpenFailure,
    testing::Values(
        OpenFailureCase{"Fails", true, E_FAIL, false,
                        "ModuleInfo::ModuleInfo GetModuleMetaData returned hr= -7fffbffb"},
        OpenFailureCase{"SFalse", true, S_FALSE, false,
                        "ModuleInfo::ModuleInfo GetModuleMetaData returned hr= 1"},
        OpenFailureCase{"NoReader", false, S_OK, false,
                        "ModuleInfo::ModuleInfo GetModuleMetaData returned hr= 0"},
        OpenFailureCase{
            "NoIMetaDataImport", true, S_OK, true,
            "ModuleInfo::ModuleInfo QueryInterface for IID_IMetaDataImport returned hr= -7fffbffe"}),
    [](const testing::TestParamInfo<OpenFailureCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace profilermultiplexer::tests
