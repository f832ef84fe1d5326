// OLE Automation functions: strings, variants, dates and error information, with the Win32
// names, signatures and results. Exported with C linkage from the runtime library.
#pragma once

#include "platform/com/types.h"

// ---- BSTR ----------------------------------------------------------------------------------
// Allocation failure returns null. SysFreeString(null) does nothing.
COMAPI BSTR SysAllocString(const OLECHAR* psz);
COMAPI BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);  // strIn may be null: ui zeroed chars
COMAPI BSTR SysAllocStringByteLen(const char* psz, UINT len);   // len bytes, odd lengths allowed
COMAPI INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
COMAPI INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
COMAPI void SysFreeString(BSTR bstrString);
COMAPI UINT SysStringLen(BSTR pbstr);      // characters; 0 for null
COMAPI UINT SysStringByteLen(BSTR bstr);   // bytes; 0 for null

// ---- VARIANT -------------------------------------------------------------------------------
COMAPI void VariantInit(VARIANTARG* pvarg);
COMAPI HRESULT VariantClear(VARIANTARG* pvarg);
COMAPI HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Copies the value a VT_BYREF variant points at.
COMAPI HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// pvargDest may equal pvarSrc (in-place conversion). Text conversions use the "C" number
// conventions whatever the process locale is.
COMAPI HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, WORD wFlags, VARTYPE vt);
COMAPI HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, WORD wFlags,
                                   VARTYPE vt);
// Locale-aware comparison of two strings (null equals empty); VARCMP_LT, VARCMP_EQ, VARCMP_GT.
COMAPI HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags);
COMAPI HRESULT VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
COMAPI HRESULT VarBstrFromDate(DATE dateIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
COMAPI HRESULT VarR8FromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut);
COMAPI HRESULT VarDateFromStr(const OLECHAR* strIn, LCID lcid, ULONG dwFlags, DATE* pdateOut);

// ---- DATE ----------------------------------------------------------------------------------
// Return TRUE (1) on success, FALSE (0) for a value out of range (years 100 to 9999).
COMAPI INT SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, DOUBLE* pvtime);
COMAPI INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* lpSystemTime);

// ---- error information (per thread) --------------------------------------------------------
COMAPI HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Replaces the calling thread's error object; null clears it. dwReserved must be 0.
COMAPI HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the thread's error object to the caller (who owns it) and clears it; S_FALSE if none.
COMAPI HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
