#!/usr/bin/env python3
"""A client that knows nothing of C++: it loads the library with ctypes, registers it, creates the
root object by ProgID and calls it through IDispatch by member name, walking the vtables by hand
as any foreign-language client does.

    late_bound_client.py LIBQVACOM REGISTRY_FILE
"""
import ctypes as C
import os
import sys

HRESULT = C.c_int32


class GUID(C.Structure):
    _fields_ = [("Data1", C.c_uint32), ("Data2", C.c_uint16), ("Data3", C.c_uint16), ("Data4", C.c_uint8 * 8)]


class VARIANT(C.Structure):
    _fields_ = [("vt", C.c_uint16), ("r1", C.c_uint16), ("r2", C.c_uint16), ("r3", C.c_uint16),
                ("val", C.c_uint64), ("rec", C.c_uint64)]


class DISPPARAMS(C.Structure):
    _fields_ = [("rgvarg", C.POINTER(VARIANT)), ("rgdispidNamedArgs", C.c_void_p), ("cArgs", C.c_uint32),
                ("cNamedArgs", C.c_uint32)]


class EXCEPINFO(C.Structure):
    _fields_ = [("wCode", C.c_uint16), ("wReserved", C.c_uint16), ("bstrSource", C.c_void_p),
                ("bstrDescription", C.c_void_p), ("bstrHelpFile", C.c_void_p), ("dwHelpContext", C.c_uint32),
                ("pvReserved", C.c_void_p), ("pfnDeferredFillIn", C.c_void_p), ("scode", C.c_int32)]


def guid(text):
    t = text.strip("{}").replace("-", "")
    b = bytes.fromhex(t)
    return GUID(int.from_bytes(b[0:4], "big"), int.from_bytes(b[4:6], "big"), int.from_bytes(b[6:8], "big"),
                (C.c_uint8 * 8)(*b[8:]))


def method(obj, slot, *argtypes):
    """The function at `slot` of the vtable of the COM object `obj`."""
    vtbl = C.cast(obj, C.POINTER(C.POINTER(C.c_void_p)))[0]
    return C.CFUNCTYPE(HRESULT, C.c_void_p, *argtypes)(vtbl[slot])


def check(what, got, want):
    got &= 0xFFFFFFFF
    if got != want:
        sys.exit(f"{what}: got 0x{got:08X}, want 0x{want:08X}")


def main():
    lib_path, registry = sys.argv[1], sys.argv[2]
    os.environ["QVA_REGISTRY"] = registry
    lib = C.CDLL(lib_path)  # the runtime functions come with it
    check("DllRegisterServer", lib.DllRegisterServer(), 0)
    check("CoInitializeEx", lib.CoInitializeEx(None, 2), 0)

    clsid = GUID()
    progid = C.create_string_buffer("QVA.Root\0".encode("utf-16-le"))  # OLECHAR is UTF-16
    check("CLSIDFromProgID", lib.CLSIDFromProgID(progid, C.byref(clsid)), 0)
    iid_idispatch = guid("{00020400-0000-0000-C000-000000000046}")
    disp = C.c_void_p()
    check("CoCreateInstance", lib.CoCreateInstance(C.byref(clsid), None, 1, C.byref(iid_idispatch), C.byref(disp)), 0)

    # IDispatch::GetIDsOfNames (slot 5), by a name in any letter case.
    name = C.create_string_buffer("getARRAY\0".encode("utf-16-le"))
    names = (C.c_void_p * 1)(C.addressof(name))
    dispid = C.c_int32()
    get_ids = method(disp, 5, C.POINTER(GUID), C.c_void_p, C.c_uint32, C.c_uint32, C.POINTER(C.c_int32))
    check("GetIDsOfNames", get_ids(disp, C.byref(GUID()), names, 1, 0x400, C.byref(dispid)), 0)
    if dispid.value != 2:
        sys.exit(f"GetArray has dispid {dispid.value}, want 2")

    # IDispatch::Invoke (slot 6): GetArray hands out a new array object, as an IDispatch (VT_DISPATCH,
    # 9) in the result, which the client owns and releases.
    invoke = method(disp, 6, C.c_int32, C.POINTER(GUID), C.c_uint32, C.c_uint16, C.POINTER(DISPPARAMS),
                    C.POINTER(VARIANT), C.POINTER(EXCEPINFO), C.POINTER(C.c_uint32))
    params, result, excep, arg_err = DISPPARAMS(), VARIANT(), EXCEPINFO(), C.c_uint32()
    check("Invoke GetArray", invoke(disp, 2, C.byref(GUID()), 0x400, 1, C.byref(params), C.byref(result),
                                    C.byref(excep), C.byref(arg_err)), 0)
    check("result type", result.vt, 9)
    array = result.val
    if not array:
        sys.exit("GetArray gave no array")
    method(C.c_void_p(array), 2)(C.c_void_p(array))

    # IUnknown::Release (slot 2).
    method(disp, 2)(disp)
    print("late-bound client: ok")


if __name__ == "__main__":
    main()
