// Base types of the COM runtime and OLE Automation, with their Win32 names and the binary
// layouts they have on Windows x64. Interfaces are abstract classes without a virtual
// destructor, so an object pointer is a pointer to a vtable pointer, exactly as COM expects;
// structures match the Windows x64 layout so a client that loads the library through a plain
// C interface (dlopen, ctypes) can drive objects late-bound.
#pragma once

#include <cstddef>
#include <cstdint>

#define COMAPI_EXPORT __attribute__((visibility("default")))
#ifdef __cplusplus
#define COMAPI extern "C" COMAPI_EXPORT
#else
#define COMAPI COMAPI_EXPORT
#endif
// There is one calling convention on x86-64 Linux; the Windows names stay for readability.
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define WINAPI

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using BOOL = int32_t;
using CHAR = char;
using SHORT = int16_t;
using USHORT = uint16_t;
using INT = int32_t;
using UINT = uint32_t;
// Automation `long`: always 32 bits. C++ `long` is 64 bits here and is never used for it.
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using HRESULT = int32_t;
using SCODE = int32_t;
using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A BSTR points at the first character; a 4-byte byte length stands just before it and a
// NUL character just after the last one. Embedded NULs are allowed.
using BSTR = OLECHAR*;
using PVOID = void*;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// ---- result codes --------------------------------------------------------------------------
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT(uint32_t sev, uint32_t fac, uint32_t code) {
  return static_cast<HRESULT>((sev << 31) | (fac << 16) | code);
}
constexpr uint32_t FACILITY_WIN32 = 7;
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t x) {
  return static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)
                                      : static_cast<HRESULT>((x & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000u);
}
constexpr uint32_t HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xFFFF; }
constexpr uint32_t HRESULT_FACILITY(HRESULT hr) { return (static_cast<uint32_t>(hr) >> 16) & 0x1FFF; }

#define QVA_HR(x) static_cast<HRESULT>(x##u)
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;
constexpr HRESULT E_NOTIMPL = QVA_HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = QVA_HR(0x80004002);
constexpr HRESULT E_POINTER = QVA_HR(0x80004003);
constexpr HRESULT E_ABORT = QVA_HR(0x80004004);
constexpr HRESULT E_FAIL = QVA_HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = QVA_HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = QVA_HR(0x80070005);
constexpr HRESULT E_HANDLE = QVA_HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = QVA_HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = QVA_HR(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = QVA_HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = QVA_HR(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = QVA_HR(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = QVA_HR(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = QVA_HR(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = QVA_HR(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = QVA_HR(0x80040154);
constexpr HRESULT REGDB_E_IIDNOTREG = QVA_HR(0x80040155);
constexpr HRESULT SELFREG_E_TYPELIB = QVA_HR(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = QVA_HR(0x80040201);
constexpr HRESULT CO_E_NOTINITIALIZED = QVA_HR(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = QVA_HR(0x800401F3);
constexpr HRESULT CO_E_APPNOTFOUND = QVA_HR(0x800401F5);
constexpr HRESULT CO_E_DLLNOTFOUND = QVA_HR(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = QVA_HR(0x800401F9);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = QVA_HR(0x80080005);
constexpr HRESULT RPC_E_CHANGED_MODE = QVA_HR(0x80010106);
constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = QVA_HR(0x800706BA);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = QVA_HR(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = QVA_HR(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = QVA_HR(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = QVA_HR(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = QVA_HR(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = QVA_HR(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = QVA_HR(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = QVA_HR(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = QVA_HR(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = QVA_HR(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = QVA_HR(0x8002000C);
constexpr HRESULT DISP_E_BADPARAMCOUNT = QVA_HR(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = QVA_HR(0x8002000F);
constexpr HRESULT DISP_E_DIVBYZERO = QVA_HR(0x80020012);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = QVA_HR(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = QVA_HR(0x8002801D);

constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_DATA = 13;
constexpr uint32_t ERROR_BADKEY = 1010;
constexpr uint32_t ERROR_CANTREAD = 1012;
constexpr uint32_t ERROR_CANTWRITE = 1013;
constexpr uint32_t ERROR_BADDB = 1009;

// ---- VARIANT -------------------------------------------------------------------------------
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};

struct IUnknown;
struct IDispatch;
struct IRecordInfo;
struct SAFEARRAY;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        } brecVal;
      };
    };
    DECIMAL decVal;
  };
};
using VARIANTARG = VARIANT;
static_assert(sizeof(VARIANT) == 24);
static_assert(offsetof(VARIANT, lVal) == 8);

#define V_VT(v) ((v)->vt)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_I8(v) ((v)->llVal)
#define V_UI4(v) ((v)->ulVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_DATE(v) ((v)->date)
#define V_BSTR(v) ((v)->bstrVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_BYREF(v) ((v)->byref)

// VariantChangeType flags.
constexpr WORD VARIANT_NOVALUEPROP = 0x01;
constexpr WORD VARIANT_ALPHABOOL = 0x02;
constexpr WORD VARIANT_NOUSEROVERRIDE = 0x04;
constexpr WORD VARIANT_LOCALBOOL = 0x10;

// VarBstrCmp results.
constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr HRESULT VARCMP_NULL = 3;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_INVARIANT = 0x007F;

// ---- dispatch --------------------------------------------------------------------------------
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};
static_assert(sizeof(DISPPARAMS) == 24);

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};
static_assert(sizeof(EXCEPINFO) == 64);

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// ---- well-known interface identifiers ----------------------------------------------------------
inline constexpr IID IID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID GUID_NULL = IID_NULL;
inline constexpr IID IID_IUnknown{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo{0x00020401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib{0x00020402, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumVARIANT{0x00020404, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IErrorInfo{0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo{0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ISupportErrorInfo{0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// ---- core interfaces ---------------------------------------------------------------------------
// Each interface names its own IID as `iid` (a static member does not change the layout), so
// templates can ask for an interface by type.
struct ITypeInfo;

struct IUnknown {
  static constexpr const IID& iid = IID_IUnknown;
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : IUnknown {
  static constexpr const IID& iid = IID_IDispatch;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                                  DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  static constexpr const IID& iid = IID_IClassFactory;
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct IEnumVARIANT : IUnknown {
  static constexpr const IID& iid = IID_IEnumVARIANT;
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) = 0;
};

struct IErrorInfo : IUnknown {
  static constexpr const IID& iid = IID_IErrorInfo;
  virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr const IID& iid = IID_ICreateErrorInfo;
  virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr const IID& iid = IID_ISupportErrorInfo;
  virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
