#!/usr/bin/env python3
"""Generates the C++ side of the interface description.

    generate.py IDL OUT_DIR [NAME]

NAME (default "qvacom") names the outputs and their namespace (NAME_gen), so several
descriptions (the library's, the platform's) can be built side by side. It writes
- OUT_DIR/NAME_idl.h: the enumerations, IIDs, CLSIDs and LIBID, and one abstract class per
  interface whose virtual members stand in the order of the description (that order is the
  vtable), named by the MIDL conventions (get_X, put_X, [out, retval] last), plus a
  QVA_DECL_<interface> macro that declares every member as an override in an implementing class;
- OUT_DIR/NAME_dispatch.cc: the dispatch data of every interface (names, dispids, kinds,
  parameter types) and one thunk per member that turns coerced VARIANT arguments into the typed
  vtable call.
Files are rewritten only when their content changes, so a touch of the .idl rebuilds nothing
that did not change.
"""

from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from idl_parser import Description, Interface, Member, parse  # noqa: E402

NAME = "qvacom"
NS = "qvacom_gen"

BASE_TYPES = {
    "long": "LONG",
    "short": "SHORT",
    "int": "INT",
    "unsigned char": "BYTE",
    "unsigned short": "USHORT",
    "unsigned long": "ULONG",
    "unsigned int": "UINT",
    "__int64": "LONGLONG",
    "hyper": "LONGLONG",
    "float": "FLOAT",
    "double": "DOUBLE",
}
CXX_KEYWORDS = {"default", "delete", "new", "class", "operator", "template", "this", "union", "register",
                "namespace", "private", "public", "protected", "friend", "virtual", "typename", "explicit"}


def cxx_type(idl_type: str) -> str:
    base = idl_type.rstrip("*")
    stars = idl_type[len(base):]
    return BASE_TYPES.get(base, base) + stars


def cxx_name(name: str) -> str:
    return name + "_" if name in CXX_KEYWORDS else name


def guid_expr(g: str) -> str:
    return f'com::MakeGuid("{{{g}}}")'


def signature(m: Member) -> str:
    params = ", ".join(f"{cxx_type(p.type)} {cxx_name(p.name)}" for p in m.params)
    return f"HRESULT STDMETHODCALLTYPE {m.cxx_name}({params})"


def interface_decl(itf: Interface) -> str:
    lines = [f"struct {itf.name} : {itf.base} {{", f"  static constexpr const IID& iid = IID_{itf.name};"]
    lines += [f"  virtual {signature(m)} = 0;" for m in itf.members]
    lines.append("};")
    macro = [f"#define QVA_DECL_{itf.name} \\"]
    macro += [f"  {signature(m)} override; \\" for m in itf.members]
    macro.append(f"  static_assert(true, \"\")")
    return "\n".join(lines) + "\n\n" + "\n".join(macro) + "\n"


SCALAR_VT = {
    "BSTR": ("VT_BSTR", "bstrVal"),
    "LONG": ("VT_I4", "lVal"),
    "INT": ("VT_I4", "lVal"),
    "SHORT": ("VT_I2", "iVal"),
    "BYTE": ("VT_UI1", "bVal"),
    "USHORT": ("VT_UI2", "uiVal"),
    "ULONG": ("VT_UI4", "ulVal"),
    "UINT": ("VT_UI4", "ulVal"),
    "LONGLONG": ("VT_I8", "llVal"),
    "FLOAT": ("VT_R4", "fltVal"),
    "DOUBLE": ("VT_R8", "dblVal"),
    "DATE": ("VT_DATE", "date"),
    "VARIANT_BOOL": ("VT_BOOL", "boolVal"),
}


class TypeInfo:
    """How one automation type travels in a VARIANT."""

    def __init__(self, d: Description, cxx: str):
        self.cxx = cxx
        self.enum = any(e.name == cxx for e in d.enums)
        self.interface = cxx.endswith("*") and cxx[:-1] not in ("IUnknown", "IDispatch")
        if cxx in SCALAR_VT:
            self.vt, self.field = SCALAR_VT[cxx]
        elif self.enum:
            self.vt, self.field = "VT_I4", "lVal"
        elif cxx == "VARIANT":
            self.vt, self.field = "VT_VARIANT", None
        elif cxx == "IDispatch*":
            self.vt, self.field = "VT_DISPATCH", "pdispVal"
        elif cxx == "IUnknown*":
            self.vt, self.field = "VT_UNKNOWN", "punkVal"
        elif self.interface and d.interface(cxx[:-1]):
            self.vt, self.field = "VT_UNKNOWN", "punkVal"
        else:
            raise SystemExit(f"type {cxx} cannot travel in a VARIANT")

    def result_vt(self) -> str:
        return "VT_DISPATCH" if self.interface else self.vt

    def in_expr(self, arg: str) -> str:
        if self.vt == "VT_VARIANT":
            return arg
        if self.enum:
            return f"static_cast<{self.cxx}>({arg}.lVal)"
        if self.interface:
            return f"reinterpret_cast<{self.cxx}>({arg}.punkVal)"
        return f"{arg}.{self.field}"


def param_table(d: Description, itf: Interface, m: Member) -> tuple[str, str]:
    name = f"kParams_{itf.name}_{m.cxx_name}"
    rows = []
    for p in m.params:
        cxx = cxx_type(p.type)
        flags = []
        if p.is_in and not p.is_out:
            flags.append("com::kParamIn")
        if p.is_out:
            flags.append("com::kParamOut")
        if p.is_retval:
            flags.append("com::kParamRetval")
        if p.optional:
            flags.append("com::kParamOptional")
        if p.is_out:
            t = TypeInfo(d, cxx[:-1])
            vt = f"VT_BYREF | {t.result_vt()}"
            iid = "nullptr"
        else:
            t = TypeInfo(d, cxx)
            vt = t.vt
            iid = f"&IID_{cxx[:-1]}" if t.interface else "nullptr"
        default = ""
        if p.default is not None:
            default = ", " + '"' + p.default.replace("\\", "\\\\").replace('"', '\\"') + '"'
        rows.append(f'    {{"{p.name}", {vt}, {" | ".join(flags)}, {iid}{default}}},')
    if not rows:
        return name, ""
    return name, f"const com::ParamInfo {name}[] = {{\n" + "\n".join(rows) + "\n};\n"


def thunk(d: Description, itf: Interface, m: Member) -> tuple[str, str]:
    name = f"Thunk_{itf.name}_{m.cxx_name}"
    call_args, pre, post = [], [], []
    i = 0
    for p in m.params:
        cxx = cxx_type(p.type)
        if p.is_retval:
            t = TypeInfo(d, cxx[:-1])
            init = "{}" if t.vt != "VT_VARIANT" else ""
            pre.append(f"  {t.cxx} r{init};")
            if t.vt == "VT_VARIANT":
                pre.append("  VariantInit(&r);")
            call_args.append("&r")
            if t.vt == "VT_VARIANT":
                post.append("  if (SUCCEEDED(hr) && result) *result = r; else VariantClear(&r);")
            elif t.vt == "VT_BSTR":
                post.append("  if (SUCCEEDED(hr) && result) { result->vt = VT_BSTR; result->bstrVal = r; } "
                            "else SysFreeString(r);")
            elif t.interface or t.vt in ("VT_DISPATCH", "VT_UNKNOWN"):
                field = "pdispVal" if t.result_vt() == "VT_DISPATCH" else "punkVal"
                post.append(f"  if (SUCCEEDED(hr) && result) {{ result->vt = {t.result_vt()}; result->{field} = r; }} "
                            "else if (r) r->Release();")
            else:
                post.append(f"  if (SUCCEEDED(hr) && result) {{ result->vt = {t.vt}; result->{t.field} = r; }}")
            continue
        if p.is_out:
            call_args.append(f"reinterpret_cast<{cxx}>(a[{i}].byref)")
        else:
            call_args.append(TypeInfo(d, cxx).in_expr(f"a[{i}]"))
        i += 1
    unused_a = "" if i else "  (void)a;\n"
    body = (f"HRESULT {name}(IUnknown* self, VARIANT* a, VARIANT* result) {{\n{unused_a}"
            + "".join(line + "\n" for line in pre)
            + f"  const HRESULT hr = reinterpret_cast<{itf.name}*>(self)->{m.cxx_name}({', '.join(call_args)});\n"
            + "".join(line + "\n" for line in post)
            + ("  (void)result;\n" if not post else "")
            + "  return hr;\n}\n")
    return name, body


KIND = {"method": "com::MemberKind::kMethod", "propget": "com::MemberKind::kPropGet",
        "propput": "com::MemberKind::kPropPut"}


# The automation marshaller's class: interfaces described by a registered type library are
# marshalled by it.
PSOAINTERFACE = "{00020424-0000-0000-C000-000000000046}"


def typelib_script(d: Description) -> str:
    """The registration script of the type library: what registering a type library writes."""
    lib = d.library
    lines = ["HKCR", "{", "\tNoRemove TypeLib", "\t{", f"\t\tForceRemove {{{lib.libid}}}", "\t\t{",
             f"\t\t\t'{lib.version}' = s '{lib.name}'", "\t\t\t{", "\t\t\t\tFLAGS = s '0'",
             "\t\t\t\tHELPDIR = s '%MODULEDIR%'", "\t\t\t\t'0'", "\t\t\t\t{",
             "\t\t\t\t\twin64 = s '%MODULE%'", "\t\t\t\t}", "\t\t\t}", "\t\t}", "\t}",
             "\tNoRemove Interface", "\t{"]
    for itf in d.interfaces:
        lines += [f"\t\tForceRemove {{{itf.iid}}} = s '{itf.name}'", "\t\t{",
                  f"\t\t\tProxyStubClsid = s '{PSOAINTERFACE}'",
                  f"\t\t\tProxyStubClsid32 = s '{PSOAINTERFACE}'",
                  f"\t\t\tTypeLib = s '{{{lib.libid}}}'", "\t\t\t{",
                  f"\t\t\t\tval Version = s '{lib.version}'", "\t\t\t}", "\t\t}"]
    lines += ["\t}", "}"]
    return "\n".join(lines) + "\n"


def dispatch_source(d: Description) -> str:
    out = [f"// Generated from idl/{NAME}.idl by idl/generate.py. Do not edit.",
           f'#include "{NAME}_idl.h"', '#include "platform/com/oleauto.h"', "",
           f"namespace {NS} {{", "namespace {", ""]
    infos = []
    for itf in d.interfaces:
        rows = []
        for m in itf.members:
            pname, ptable = param_table(d, itf, m)
            tname, tbody = thunk(d, itf, m)
            out.append(ptable + tbody)
            params = f"{pname}" if ptable else "{}"
            rows.append(f'    {{"{m.name}", {m.dispid}, {KIND[m.kind]}, {params}, &{tname}}},')
        out.append(f"const com::MemberInfo kMembers_{itf.name}[] = {{\n" + "\n".join(rows) + "\n};\n")
        infos.append(f'const com::InterfaceInfo kInfo_{itf.name} = {{"{itf.name}", &IID_{itf.name}, kMembers_{itf.name}}};')
    out.append("}  // namespace")
    out += infos
    out.append("")
    out.append("const com::InterfaceInfo* const kAllInterfaces[] = {")
    out += [f"    &kInfo_{itf.name}," for itf in d.interfaces]
    out.append("};")
    out.append("const size_t kAllInterfacesCount = std::size(kAllInterfaces);")
    out.append("const CoclassInfo kAllCoclasses[] = {")
    for c in d.library.coclasses:
        creatable = "true" if c.creatable else "false"
        out.append(f'    {{"{c.name}", &CLSID_{c.name}, &IID_{c.default_interface}, {creatable}}},')
    out.append("};")
    out.append("const size_t kAllCoclassesCount = std::size(kAllCoclasses);")
    out.append('const char kTypeLibraryScript[] = R"qvargs(' + typelib_script(d) + ')qvargs";')
    out.append(f"}}  // namespace {NS}")
    return "\n".join(out) + "\n"


def header(d: Description) -> str:
    out = [
        f"// Generated from idl/{NAME}.idl by idl/generate.py. Do not edit.",
        "#pragma once",
        "",
        '#include "platform/com/dispatch.h"',
        '#include "platform/com/guid.h"',
        '#include "platform/com/types.h"',
        "",
    ]
    for e in d.enums:
        out.append(f"enum {e.name} : LONG {{")
        out += [f"  {n} = {v}," for n, v in e.values]
        out.append("};")
        out.append("")
    lib = d.library
    if lib.name:
        out.append(f"inline constexpr GUID LIBID_{lib.name} = {guid_expr(lib.libid)};")
    for itf in d.interfaces:
        out.append(f"inline constexpr IID IID_{itf.name} = {guid_expr(itf.iid)};")
    for c in lib.coclasses:
        out.append(f"inline constexpr CLSID CLSID_{c.name} = {guid_expr(c.clsid)};")
    out.append("")
    out += [f"struct {itf.name};" for itf in d.interfaces]
    out.append("")
    for itf in d.interfaces:
        out.append(interface_decl(itf))
    out.append(f"namespace {NS} {{")
    # Exported: the remote layer and other libraries marshal through the same tables.
    out += [f"extern COM_CXX_API const com::InterfaceInfo kInfo_{itf.name};" for itf in d.interfaces]
    out.append("// Every coclass of the library, in description order.")
    out.append("struct CoclassInfo {")
    out.append("  const char* name;")
    out.append("  const CLSID* clsid;")
    out.append("  const IID* default_interface;")
    out.append("  bool creatable;")
    out.append("};")
    out.append("extern COM_CXX_API const CoclassInfo kAllCoclasses[];")
    out.append("extern COM_CXX_API const size_t kAllCoclassesCount;")
    out.append("// Every described interface, in description order.")
    out.append("extern COM_CXX_API const com::InterfaceInfo* const kAllInterfaces[];")
    out.append("extern COM_CXX_API const size_t kAllInterfacesCount;")
    out.append("// Registration script of the type library; %MODULE% and %MODULEDIR% are replaced.")
    out.append("extern COM_CXX_API const char kTypeLibraryScript[];")
    out.append(f"}}  // namespace {NS}")
    out.append("")
    out.append("namespace com {")
    for itf in d.interfaces:
        out.append(f"template <> inline const InterfaceInfo& InterfaceInfoOf<{itf.name}>() {{ return {NS}::kInfo_{itf.name}; }}")
    out.append("}  // namespace com")
    return "\n".join(out) + "\n"


def write_if_changed(path: str, text: str) -> None:
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv: list[str]) -> int:
    global NAME, NS
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    idl, out_dir = argv[1], argv[2]
    if len(argv) == 4:
        NAME = argv[3]
        NS = f"{NAME}_gen"
    with open(idl, encoding="utf-8") as f:
        try:
            d = parse(f.read())
        except Exception as e:  # reported as a build error with the file name
            print(f"{idl}: {e}", file=sys.stderr)
            return 1
    os.makedirs(out_dir, exist_ok=True)
    write_if_changed(os.path.join(out_dir, f"{NAME}_idl.h"), header(d))
    write_if_changed(os.path.join(out_dir, f"{NAME}_dispatch.cc"), dispatch_source(d))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
