#!/usr/bin/env python3
"""Generates the remote proxies and stubs of the interface description.

    gen_remote.py IDL OUT_FILE [NAME]

For every interface of the description it writes, into one C++ source:
- a proxy class (the client side): implements the interface by sending each member as a call
  (interface IID, member index in vtable order, arguments as wire values) through
  qva::remote::ProxyCall and unpacking the [out] values of the answer;
- a stub function (the server side): unpacks the arguments of an incoming call as the declared
  types through qva::remote::StubArgs, calls the real object's vtable member and packs its [out]
  values through qva::remote::StubResult;
- the table qva::remote::k<Name>RemoteInterfaces (Name: NAME with a capital) that ties both to
  the IID and to the interface's dispatch description (NAME_gen::kInfo_<interface>, from
  generate.py), from which the proxies answer IDispatch. The runtime lists every table it serves.
A parameter type the wire cannot carry stops the build with the member's line.
"""

from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from idl_parser import Description, Interface, Member, Param, parse  # noqa: E402
from generate import cxx_name, cxx_type, write_if_changed  # noqa: E402

# Wire kind of each scalar type: the ProxyCall/StubArgs/StubResult member that carries it.
SCALARS = {
    "LONG": "Long",
    "INT": "Long",
    "SHORT": "Short",
    "VARIANT_BOOL": "Bool",
    "DOUBLE": "Double",
    "DATE": "Date",
    "LONGLONG": "Int64",
}


class Kind:
    """How one declared type crosses the wire."""

    def __init__(self, d: Description, itf: Interface, m: Member, cxx: str):
        self.cxx = cxx
        self.enum = any(e.name == cxx for e in d.enums)
        self.iid = None
        if cxx in SCALARS:
            self.kind = SCALARS[cxx]
        elif self.enum:
            self.kind = "Long"
        elif cxx == "BSTR":
            self.kind = "String"
        elif cxx == "VARIANT":
            self.kind = "Variant"
        elif cxx.endswith("*") and not cxx.endswith("**"):
            base = cxx[:-1]
            if base not in ("IUnknown", "IDispatch") and not d.interface(base):
                raise SystemExit(f"line {m.line}: {itf.name}.{m.name}: {cxx} is not a described interface")
            self.kind = "Interface"
            self.iid = f"IID_{base}"
        else:
            raise SystemExit(f"line {m.line}: {itf.name}.{m.name}: the wire cannot carry {cxx}")


def proxy_member(d: Description, itf: Interface, index: int, m: Member) -> str:
    params = ", ".join(f"{cxx_type(p.type)} {cxx_name(p.name)}" for p in m.params)
    body = []
    ins = [p for p in m.params if not p.is_out]
    outs = [p for p in m.params if p.is_out]
    for p in m.params:
        if p.is_out and p.is_in and "in" in p.attrs:
            raise SystemExit(f"line {m.line}: {itf.name}.{m.name}: [in, out] parameters do not cross")
    for p in outs:
        name = cxx_name(p.name)
        k = Kind(d, itf, m, cxx_type(p.type)[:-1])
        body.append(f"    if (!{name}) return E_POINTER;")
        if k.kind == "Variant":
            body.append(f"    VariantInit({name});")
        elif k.kind in ("Interface", "String"):
            body.append(f"    *{name} = nullptr;")
        else:
            body.append(f"    *{name} = {{}};")
    body.append(f"    ProxyCall call(owner_, IID_{itf.name}, {index}, {len(ins)});")
    for p in ins:
        name = cxx_name(p.name)
        k = Kind(d, itf, m, cxx_type(p.type))
        if k.kind == "Interface":
            body.append(f"    call.Interface({name}, {k.iid});")
        elif k.enum:
            body.append(f"    call.Long(static_cast<LONG>({name}));")
        else:
            body.append(f"    call.{k.kind}({name});")
    if outs:
        body.append("    const HRESULT hr = call.Send();")
        body.append("    if (FAILED(hr)) return hr;")
        for p in outs:
            name = cxx_name(p.name)
            k = Kind(d, itf, m, cxx_type(p.type)[:-1])
            if k.kind == "Interface":
                body.append(f"    RETURN_IF_FAILED(call.OutInterface({k.iid}, reinterpret_cast<void**>({name})));")
            elif k.enum:
                body.append("    {")
                body.append("      LONG value = 0;")
                body.append("      RETURN_IF_FAILED(call.OutLong(&value));")
                body.append(f"      *{name} = static_cast<{k.cxx}>(value);")
                body.append("    }")
            else:
                body.append(f"    RETURN_IF_FAILED(call.Out{k.kind}({name}));")
        body.append("    return hr;")
    else:
        body.append("    return call.Send();")
    return (f"  HRESULT STDMETHODCALLTYPE {m.cxx_name}({params}) override {{\n" + "\n".join(body) + "\n  }\n")


def stub_case(d: Description, itf: Interface, index: int, m: Member) -> str:
    lines = [f"    case {index}: {{  // {m.cxx_name}"]
    ins = [p for p in m.params if not p.is_out]
    lines.append(f"      RETURN_IF_FAILED(in.Expect({len(ins)}));")
    call_args = []
    arg = out = 0
    post = []
    for p in m.params:
        if p.is_out:
            k = Kind(d, itf, m, cxx_type(p.type)[:-1])
            var = f"o{out}"
            if k.kind == "Variant":
                lines.append(f"      VARIANT {var};")
                lines.append(f"      VariantInit(&{var});")
                post.append(f"      out.Variant(hr, {out}, &{var});")
            elif k.kind == "Interface":
                lines.append(f"      {k.cxx} {var} = nullptr;")
                post.append(f"      out.Interface(hr, {out}, {var}, {k.iid});")
            elif k.kind == "String":
                lines.append(f"      BSTR {var} = nullptr;")
                post.append(f"      out.String(hr, {out}, {var});")
            elif k.enum:
                lines.append(f"      {k.cxx} {var}{{}};")
                post.append(f"      out.Long(hr, {out}, static_cast<LONG>({var}));")
            else:
                lines.append(f"      {k.cxx} {var}{{}};")
                post.append(f"      out.{k.kind}(hr, {out}, {var});")
            call_args.append(f"&{var}")
            out += 1
            continue
        k = Kind(d, itf, m, cxx_type(p.type))
        var = f"a{arg}"
        if k.kind == "Interface":
            lines.append(f"      com::ComPtr<IUnknown> {var};")
            lines.append(f"      RETURN_IF_FAILED(in.Interface({arg}, {k.iid}, &{var}));")
            call_args.append(f"reinterpret_cast<{k.cxx}>({var}.get())")
        elif k.kind == "String":
            lines.append(f"      com::Bstr {var};")
            lines.append(f"      RETURN_IF_FAILED(in.String({arg}, &{var}));")
            call_args.append(f"{var}.get()")
        elif k.kind == "Variant":
            lines.append(f"      com::Variant {var};")
            lines.append(f"      RETURN_IF_FAILED(in.Variant({arg}, &{var}));")
            call_args.append(var)
        elif k.enum:
            lines.append(f"      LONG {var} = 0;")
            lines.append(f"      RETURN_IF_FAILED(in.Long({arg}, &{var}));")
            call_args.append(f"static_cast<{k.cxx}>({var})")
        else:
            lines.append(f"      {k.cxx} {var}{{}};")
            lines.append(f"      RETURN_IF_FAILED(in.{k.kind}({arg}, &{var}));")
            call_args.append(var)
        arg += 1
    lines.append(f"      const HRESULT hr = self->{m.cxx_name}({', '.join(call_args)});")
    lines += post
    lines.append("      return hr;")
    lines.append("    }")
    return "\n".join(lines) + "\n"


def interface_source(d: Description, itf: Interface, ns: str) -> str:
    out = [f"class Proxy_{itf.name} final : public FacetOf<{itf.name}> {{", " public:", "  using FacetOf::FacetOf;"]
    out += [proxy_member(d, itf, i, m) for i, m in enumerate(itf.members)]
    out.append("};")
    out.append("")
    out.append(f"Facet* MakeProxy_{itf.name}(RemoteObject* owner) {{ return new (std::nothrow) Proxy_{itf.name}(owner); }}")
    out.append("")
    unused = "" if itf.members else "  (void)in;\n  (void)out;\n"
    out.append(f"HRESULT Stub_{itf.name}(IUnknown* object, uint16_t method, StubArgs& in, StubResult& out) {{\n{unused}"
               f"  auto* self = reinterpret_cast<{itf.name}*>(object);")
    out.append("  switch (method) {")
    out += [stub_case(d, itf, i, m) for i, m in enumerate(itf.members)]
    out.append("    default:")
    out.append("      (void)self;")
    out.append("      return DISP_E_MEMBERNOTFOUND;")
    out.append("  }")
    out.append("}")
    return "\n".join(out) + "\n"


def source(d: Description, name: str) -> str:
    ns = f"{name}_gen"
    out = [f"// Generated from idl/{name}.idl by idl/gen_remote.py. Do not edit.",
           "#include <iterator>", "#include <new>", "",
           f'#include "{name}_idl.h"', '#include "platform/com/oleauto.h"', '#include "platform/remote/runtime.h"', "",
           "namespace qva::remote {", "namespace {", ""]
    out += [interface_source(d, itf, ns) for itf in d.interfaces]
    out.append("}  // namespace")
    out.append("")
    table = f"k{name[0].upper()}{name[1:]}RemoteInterfaces"
    out.append(f"extern const RemoteInterface {table}[];")
    out.append(f"extern const size_t {table}Count;")
    out.append(f"const RemoteInterface {table}[] = {{")
    out += [f"    {{&IID_{i.name}, &{ns}::kInfo_{i.name}, &MakeProxy_{i.name}, &Stub_{i.name}}}," for i in d.interfaces]
    out.append("};")
    out.append(f"const size_t {table}Count = std::size({table});")
    out.append("")
    out.append("}  // namespace qva::remote")
    return "\n".join(out) + "\n"


def main(argv: list[str]) -> int:
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    idl, out_file = argv[1], argv[2]
    name = argv[3] if len(argv) == 4 else "qvacom"
    with open(idl, encoding="utf-8") as f:
        try:
            d = parse(f.read())
        except Exception as e:  # reported as a build error with the file name
            print(f"{idl}: {e}", file=sys.stderr)
            return 1
    try:
        text = source(d, name)
    except SystemExit as e:
        print(f"{idl}: {e}", file=sys.stderr)
        return 1
    os.makedirs(os.path.dirname(os.path.abspath(out_file)), exist_ok=True)
    write_if_changed(out_file, text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
