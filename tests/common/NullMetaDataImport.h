// A metadata reader that answers every method with E_NOTIMPL (IsValidToken: FALSE). Fakes derive
// from it and override only what a test needs; references are counted without owning the object.
#pragma once

#include <atomic>

#include "ComBase.h"
#include "Ignore.h"
#include "MetaDataImport.h"

class NullMetaDataImport : public IMetaDataImport2 {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IMetaDataImport || riid == IID_IMetaDataImport2) {
            *ppv = static_cast<IMetaDataImport2*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++_refCount; }
    ULONG Release() override { return --_refCount; }
    ULONG RefCount() const { return _refCount; }

    void CloseEnum(HCORENUM hEnum) override {
        IgnoreArgs(hEnum);
        return;
    }
    HRESULT CountEnum(HCORENUM hEnum, ULONG* pulCount) override {
        IgnoreArgs(hEnum, pulCount);
        return E_NOTIMPL;
    }
    HRESULT ResetEnum(HCORENUM hEnum, ULONG ulPos) override {
        IgnoreArgs(hEnum, ulPos);
        return E_NOTIMPL;
    }
    HRESULT EnumTypeDefs(HCORENUM* phEnum, mdTypeDef* rTypeDefs, ULONG cMax, ULONG* pcTypeDefs) override {
        IgnoreArgs(phEnum, rTypeDefs, cMax, pcTypeDefs);
        return E_NOTIMPL;
    }
    HRESULT EnumInterfaceImpls(HCORENUM* phEnum, mdTypeDef td, mdInterfaceImpl* rImpls, ULONG cMax,
                               ULONG* pcImpls) override {
        IgnoreArgs(phEnum, td, rImpls, cMax, pcImpls);
        return E_NOTIMPL;
    }
    HRESULT EnumTypeRefs(HCORENUM* phEnum, mdTypeRef* rTypeRefs, ULONG cMax, ULONG* pcTypeRefs) override {
        IgnoreArgs(phEnum, rTypeRefs, cMax, pcTypeRefs);
        return E_NOTIMPL;
    }
    HRESULT FindTypeDefByName(LPCWSTR szTypeDef, mdToken tkEnclosingClass, mdTypeDef* ptd) override {
        IgnoreArgs(szTypeDef, tkEnclosingClass, ptd);
        return E_NOTIMPL;
    }
    HRESULT GetScopeProps(LPWSTR szName, ULONG cchName, ULONG* pchName, GUID* pmvid) override {
        IgnoreArgs(szName, cchName, pchName, pmvid);
        return E_NOTIMPL;
    }
    HRESULT GetModuleFromScope(mdModule* pmd) override {
        IgnoreArgs(pmd);
        return E_NOTIMPL;
    }
    HRESULT GetTypeDefProps(mdTypeDef td, LPWSTR szTypeDef, ULONG cchTypeDef, ULONG* pchTypeDef,
                            DWORD* pdwTypeDefFlags, mdToken* ptkExtends) override {
        IgnoreArgs(td, szTypeDef, cchTypeDef, pchTypeDef, pdwTypeDefFlags, ptkExtends);
        return E_NOTIMPL;
    }
    HRESULT GetInterfaceImplProps(mdInterfaceImpl iiImpl, mdTypeDef* pClass, mdToken* ptkIface) override {
        IgnoreArgs(iiImpl, pClass, ptkIface);
        return E_NOTIMPL;
    }
    HRESULT GetTypeRefProps(mdTypeRef tr, mdToken* ptkResolutionScope, LPWSTR szName, ULONG cchName,
                            ULONG* pchName) override {
        IgnoreArgs(tr, ptkResolutionScope, szName, cchName, pchName);
        return E_NOTIMPL;
    }
    HRESULT ResolveTypeRef(mdTypeRef tr, REFIID riid, IUnknown** ppIScope, mdTypeDef* ptd) override {
        IgnoreArgs(tr, riid, ppIScope, ptd);
        return E_NOTIMPL;
    }
    HRESULT EnumMembers(HCORENUM* phEnum, mdTypeDef cl, mdToken* rMembers, ULONG cMax,
                        ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, rMembers, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumMembersWithName(HCORENUM* phEnum, mdTypeDef cl, LPCWSTR szName, mdToken* rMembers, ULONG cMax,
                                ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, szName, rMembers, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumMethods(HCORENUM* phEnum, mdTypeDef cl, mdMethodDef* rMethods, ULONG cMax,
                        ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, rMethods, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumMethodsWithName(HCORENUM* phEnum, mdTypeDef cl, LPCWSTR szName, mdMethodDef* rMethods,
                                ULONG cMax, ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, szName, rMethods, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumFields(HCORENUM* phEnum, mdTypeDef cl, mdFieldDef* rFields, ULONG cMax,
                       ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, rFields, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumFieldsWithName(HCORENUM* phEnum, mdTypeDef cl, LPCWSTR szName, mdFieldDef* rFields,
                               ULONG cMax, ULONG* pcTokens) override {
        IgnoreArgs(phEnum, cl, szName, rFields, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumParams(HCORENUM* phEnum, mdMethodDef mb, mdParamDef* rParams, ULONG cMax,
                       ULONG* pcTokens) override {
        IgnoreArgs(phEnum, mb, rParams, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumMemberRefs(HCORENUM* phEnum, mdToken tkParent, mdMemberRef* rMemberRefs, ULONG cMax,
                           ULONG* pcTokens) override {
        IgnoreArgs(phEnum, tkParent, rMemberRefs, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumMethodImpls(HCORENUM* phEnum, mdTypeDef td, mdToken* rMethodBody, mdToken* rMethodDecl,
                            ULONG cMax, ULONG* pcTokens) override {
        IgnoreArgs(phEnum, td, rMethodBody, rMethodDecl, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT EnumPermissionSets(HCORENUM* phEnum, mdToken tk, DWORD dwActions, mdPermission* rPermission,
                               ULONG cMax, ULONG* pcTokens) override {
        IgnoreArgs(phEnum, tk, dwActions, rPermission, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT FindMember(mdTypeDef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                       mdToken* pmb) override {
        IgnoreArgs(td, szName, pvSigBlob, cbSigBlob, pmb);
        return E_NOTIMPL;
    }
    HRESULT FindMethod(mdTypeDef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                       mdMethodDef* pmb) override {
        IgnoreArgs(td, szName, pvSigBlob, cbSigBlob, pmb);
        return E_NOTIMPL;
    }
    HRESULT FindField(mdTypeDef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                      mdFieldDef* pmb) override {
        IgnoreArgs(td, szName, pvSigBlob, cbSigBlob, pmb);
        return E_NOTIMPL;
    }
    HRESULT FindMemberRef(mdTypeRef td, LPCWSTR szName, PCCOR_SIGNATURE pvSigBlob, ULONG cbSigBlob,
                          mdMemberRef* pmr) override {
        IgnoreArgs(td, szName, pvSigBlob, cbSigBlob, pmr);
        return E_NOTIMPL;
    }
    HRESULT GetMethodProps(mdMethodDef mb, mdTypeDef* pClass, LPWSTR szMethod, ULONG cchMethod,
                           ULONG* pchMethod, DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob,
                           ULONG* pulCodeRVA, DWORD* pdwImplFlags) override {
        IgnoreArgs(mb, pClass, szMethod, cchMethod, pchMethod, pdwAttr, ppvSigBlob, pcbSigBlob, pulCodeRVA,
                   pdwImplFlags);
        return E_NOTIMPL;
    }
    HRESULT GetMemberRefProps(mdMemberRef mr, mdToken* ptk, LPWSTR szMember, ULONG cchMember,
                              ULONG* pchMember, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pbSig) override {
        IgnoreArgs(mr, ptk, szMember, cchMember, pchMember, ppvSigBlob, pbSig);
        return E_NOTIMPL;
    }
    HRESULT EnumProperties(HCORENUM* phEnum, mdTypeDef td, mdProperty* rProperties, ULONG cMax,
                           ULONG* pcProperties) override {
        IgnoreArgs(phEnum, td, rProperties, cMax, pcProperties);
        return E_NOTIMPL;
    }
    HRESULT EnumEvents(HCORENUM* phEnum, mdTypeDef td, mdEvent* rEvents, ULONG cMax,
                       ULONG* pcEvents) override {
        IgnoreArgs(phEnum, td, rEvents, cMax, pcEvents);
        return E_NOTIMPL;
    }
    HRESULT GetEventProps(mdEvent ev, mdTypeDef* pClass, LPCWSTR szEvent, ULONG cchEvent, ULONG* pchEvent,
                          DWORD* pdwEventFlags, mdToken* ptkEventType, mdMethodDef* pmdAddOn,
                          mdMethodDef* pmdRemoveOn, mdMethodDef* pmdFire, mdMethodDef* rmdOtherMethod,
                          ULONG cMax, ULONG* pcOtherMethod) override {
        IgnoreArgs(ev, pClass, szEvent, cchEvent, pchEvent, pdwEventFlags, ptkEventType, pmdAddOn,
                   pmdRemoveOn, pmdFire, rmdOtherMethod, cMax, pcOtherMethod);
        return E_NOTIMPL;
    }
    HRESULT EnumMethodSemantics(HCORENUM* phEnum, mdMethodDef mb, mdToken* rEventProp, ULONG cMax,
                                ULONG* pcEventProp) override {
        IgnoreArgs(phEnum, mb, rEventProp, cMax, pcEventProp);
        return E_NOTIMPL;
    }
    HRESULT GetMethodSemantics(mdMethodDef mb, mdToken tkEventProp, DWORD* pdwSemanticsFlags) override {
        IgnoreArgs(mb, tkEventProp, pdwSemanticsFlags);
        return E_NOTIMPL;
    }
    HRESULT GetClassLayout(mdTypeDef td, DWORD* pdwPackSize, COR_FIELD_OFFSET* rFieldOffset, ULONG cMax,
                           ULONG* pcFieldOffset, ULONG* pulClassSize) override {
        IgnoreArgs(td, pdwPackSize, rFieldOffset, cMax, pcFieldOffset, pulClassSize);
        return E_NOTIMPL;
    }
    HRESULT GetFieldMarshal(mdToken tk, PCCOR_SIGNATURE* ppvNativeType, ULONG* pcbNativeType) override {
        IgnoreArgs(tk, ppvNativeType, pcbNativeType);
        return E_NOTIMPL;
    }
    HRESULT GetRVA(mdToken tk, ULONG* pulCodeRVA, DWORD* pdwImplFlags) override {
        IgnoreArgs(tk, pulCodeRVA, pdwImplFlags);
        return E_NOTIMPL;
    }
    HRESULT GetPermissionSetProps(mdPermission pm, DWORD* pdwAction, const void** ppvPermission,
                                  ULONG* pcbPermission) override {
        IgnoreArgs(pm, pdwAction, ppvPermission, pcbPermission);
        return E_NOTIMPL;
    }
    HRESULT GetSigFromToken(mdSignature mdSig, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) override {
        IgnoreArgs(mdSig, ppvSig, pcbSig);
        return E_NOTIMPL;
    }
    HRESULT GetModuleRefProps(mdModuleRef mur, LPWSTR szName, ULONG cchName, ULONG* pchName) override {
        IgnoreArgs(mur, szName, cchName, pchName);
        return E_NOTIMPL;
    }
    HRESULT EnumModuleRefs(HCORENUM* phEnum, mdModuleRef* rModuleRefs, ULONG cmax,
                           ULONG* pcModuleRefs) override {
        IgnoreArgs(phEnum, rModuleRefs, cmax, pcModuleRefs);
        return E_NOTIMPL;
    }
    HRESULT GetTypeSpecFromToken(mdTypeSpec typespec, PCCOR_SIGNATURE* ppvSig, ULONG* pcbSig) override {
        IgnoreArgs(typespec, ppvSig, pcbSig);
        return E_NOTIMPL;
    }
    HRESULT GetNameFromToken(mdToken tk, MDUTF8CSTR* pszUtf8NamePtr) override {
        IgnoreArgs(tk, pszUtf8NamePtr);
        return E_NOTIMPL;
    }
    HRESULT EnumUnresolvedMethods(HCORENUM* phEnum, mdToken* rMethods, ULONG cMax, ULONG* pcTokens) override {
        IgnoreArgs(phEnum, rMethods, cMax, pcTokens);
        return E_NOTIMPL;
    }
    HRESULT GetUserString(mdString stk, LPWSTR szString, ULONG cchString, ULONG* pchString) override {
        IgnoreArgs(stk, szString, cchString, pchString);
        return E_NOTIMPL;
    }
    HRESULT GetPinvokeMap(mdToken tk, DWORD* pdwMappingFlags, LPWSTR szImportName, ULONG cchImportName,
                          ULONG* pchImportName, mdModuleRef* pmrImportDLL) override {
        IgnoreArgs(tk, pdwMappingFlags, szImportName, cchImportName, pchImportName, pmrImportDLL);
        return E_NOTIMPL;
    }
    HRESULT EnumSignatures(HCORENUM* phEnum, mdSignature* rSignatures, ULONG cmax,
                           ULONG* pcSignatures) override {
        IgnoreArgs(phEnum, rSignatures, cmax, pcSignatures);
        return E_NOTIMPL;
    }
    HRESULT EnumTypeSpecs(HCORENUM* phEnum, mdTypeSpec* rTypeSpecs, ULONG cmax, ULONG* pcTypeSpecs) override {
        IgnoreArgs(phEnum, rTypeSpecs, cmax, pcTypeSpecs);
        return E_NOTIMPL;
    }
    HRESULT EnumUserStrings(HCORENUM* phEnum, mdString* rStrings, ULONG cmax, ULONG* pcStrings) override {
        IgnoreArgs(phEnum, rStrings, cmax, pcStrings);
        return E_NOTIMPL;
    }
    HRESULT GetParamForMethodIndex(mdMethodDef md, ULONG ulParamSeq, mdParamDef* ppd) override {
        IgnoreArgs(md, ulParamSeq, ppd);
        return E_NOTIMPL;
    }
    HRESULT EnumCustomAttributes(HCORENUM* phEnum, mdToken tk, mdToken tkType,
                                 mdCustomAttribute* rCustomAttributes, ULONG cMax,
                                 ULONG* pcCustomAttributes) override {
        IgnoreArgs(phEnum, tk, tkType, rCustomAttributes, cMax, pcCustomAttributes);
        return E_NOTIMPL;
    }
    HRESULT GetCustomAttributeProps(mdCustomAttribute cv, mdToken* ptkObj, mdToken* ptkType,
                                    const void** ppBlob, ULONG* pcbSize) override {
        IgnoreArgs(cv, ptkObj, ptkType, ppBlob, pcbSize);
        return E_NOTIMPL;
    }
    HRESULT FindTypeRef(mdToken tkResolutionScope, LPCWSTR szName, mdTypeRef* ptr) override {
        IgnoreArgs(tkResolutionScope, szName, ptr);
        return E_NOTIMPL;
    }
    HRESULT GetMemberProps(mdToken mb, mdTypeDef* pClass, LPWSTR szMember, ULONG cchMember, ULONG* pchMember,
                           DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob, ULONG* pulCodeRVA,
                           DWORD* pdwImplFlags, DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppValue,
                           ULONG* pcchValue) override {
        IgnoreArgs(mb, pClass, szMember, cchMember, pchMember, pdwAttr, ppvSigBlob, pcbSigBlob, pulCodeRVA,
                   pdwImplFlags, pdwCPlusTypeFlag, ppValue, pcchValue);
        return E_NOTIMPL;
    }
    HRESULT GetFieldProps(mdFieldDef mb, mdTypeDef* pClass, LPWSTR szField, ULONG cchField, ULONG* pchField,
                          DWORD* pdwAttr, PCCOR_SIGNATURE* ppvSigBlob, ULONG* pcbSigBlob,
                          DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppValue, ULONG* pcchValue) override {
        IgnoreArgs(mb, pClass, szField, cchField, pchField, pdwAttr, ppvSigBlob, pcbSigBlob, pdwCPlusTypeFlag,
                   ppValue, pcchValue);
        return E_NOTIMPL;
    }
    HRESULT GetPropertyProps(mdProperty prop, mdTypeDef* pClass, LPCWSTR szProperty, ULONG cchProperty,
                             ULONG* pchProperty, DWORD* pdwPropFlags, PCCOR_SIGNATURE* ppvSig, ULONG* pbSig,
                             DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppDefaultValue, ULONG* pcchDefaultValue,
                             mdMethodDef* pmdSetter, mdMethodDef* pmdGetter, mdMethodDef* rmdOtherMethod,
                             ULONG cMax, ULONG* pcOtherMethod) override {
        IgnoreArgs(prop, pClass, szProperty, cchProperty, pchProperty, pdwPropFlags, ppvSig, pbSig,
                   pdwCPlusTypeFlag, ppDefaultValue, pcchDefaultValue, pmdSetter, pmdGetter, rmdOtherMethod,
                   cMax, pcOtherMethod);
        return E_NOTIMPL;
    }
    HRESULT GetParamProps(mdParamDef tk, mdMethodDef* pmd, ULONG* pulSequence, LPWSTR szName, ULONG cchName,
                          ULONG* pchName, DWORD* pdwAttr, DWORD* pdwCPlusTypeFlag, UVCP_CONSTANT* ppValue,
                          ULONG* pcchValue) override {
        IgnoreArgs(tk, pmd, pulSequence, szName, cchName, pchName, pdwAttr, pdwCPlusTypeFlag, ppValue,
                   pcchValue);
        return E_NOTIMPL;
    }
    HRESULT GetCustomAttributeByName(mdToken tkObj, LPCWSTR szName, const void** ppData,
                                     ULONG* pcbData) override {
        IgnoreArgs(tkObj, szName, ppData, pcbData);
        return E_NOTIMPL;
    }
    BOOL IsValidToken(mdToken tk) override {
        IgnoreArgs(tk);
        return FALSE;
    }
    HRESULT GetNestedClassProps(mdTypeDef tdNestedClass, mdTypeDef* ptdEnclosingClass) override {
        IgnoreArgs(tdNestedClass, ptdEnclosingClass);
        return E_NOTIMPL;
    }
    HRESULT GetNativeCallConvFromSig(const void* pvSig, ULONG cbSig, ULONG* pCallConv) override {
        IgnoreArgs(pvSig, cbSig, pCallConv);
        return E_NOTIMPL;
    }
    HRESULT IsGlobal(mdToken pd, int* pbGlobal) override {
        IgnoreArgs(pd, pbGlobal);
        return E_NOTIMPL;
    }
    HRESULT EnumGenericParams(HCORENUM* phEnum, mdToken tk, mdGenericParam* rGenericParams, ULONG cMax,
                              ULONG* pcGenericParams) override {
        IgnoreArgs(phEnum, tk, rGenericParams, cMax, pcGenericParams);
        return E_NOTIMPL;
    }
    HRESULT GetGenericParamProps(mdGenericParam gp, ULONG* pulParamSeq, DWORD* pdwParamFlags,
                                 mdToken* ptOwner, DWORD* reserved, LPWSTR wzname, ULONG cchName,
                                 ULONG* pchName) override {
        IgnoreArgs(gp, pulParamSeq, pdwParamFlags, ptOwner, reserved, wzname, cchName, pchName);
        return E_NOTIMPL;
    }
    HRESULT GetMethodSpecProps(mdMethodSpec mi, mdToken* tkParent, PCCOR_SIGNATURE* ppvSigBlob,
                               ULONG* pcbSigBlob) override {
        IgnoreArgs(mi, tkParent, ppvSigBlob, pcbSigBlob);
        return E_NOTIMPL;
    }
    HRESULT EnumGenericParamConstraints(HCORENUM* phEnum, mdGenericParam tk,
                                        mdGenericParamConstraint* rGenericParamConstraints, ULONG cMax,
                                        ULONG* pcGenericParamConstraints) override {
        IgnoreArgs(phEnum, tk, rGenericParamConstraints, cMax, pcGenericParamConstraints);
        return E_NOTIMPL;
    }
    HRESULT GetGenericParamConstraintProps(mdGenericParamConstraint gpc, mdGenericParam* ptGenericParam,
                                           mdToken* ptkConstraintType) override {
        IgnoreArgs(gpc, ptGenericParam, ptkConstraintType);
        return E_NOTIMPL;
    }
    HRESULT GetPEKind(DWORD* pdwPEKind, DWORD* pdwMAchine) override {
        IgnoreArgs(pdwPEKind, pdwMAchine);
        return E_NOTIMPL;
    }
    HRESULT GetVersionString(LPWSTR pwzBuf, DWORD ccBufSize, DWORD* pccBufSize) override {
        IgnoreArgs(pwzBuf, ccBufSize, pccBufSize);
        return E_NOTIMPL;
    }
    HRESULT EnumMethodSpecs(HCORENUM* phEnum, mdToken tk, mdMethodSpec* rMethodSpecs, ULONG cMax,
                            ULONG* pcMethodSpecs) override {
        IgnoreArgs(phEnum, tk, rMethodSpecs, cMax, pcMethodSpecs);
        return E_NOTIMPL;
    }

    virtual ~NullMetaDataImport() = default;

protected:
    std::atomic<ULONG> _refCount{0};
};
