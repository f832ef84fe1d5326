"""Reader of the interface description: the MIDL subset the library's .idl is written in.

The subset: `import`, `typedef [v1_enum] enum`, forward `interface X;`, attributed interfaces
deriving from IDispatch with `[id(n)]`, `[propget, id(n)]` and `[propput, id(n)]` members, and a
`library` block of attributed coclasses. Anything else is an error with its line number, so a
typo in the description stops the build instead of producing a wrong vtable.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field

GUID_RE = r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"
TOKEN_RE = re.compile(
    r"(?P<ws>\s+)|(?P<comment>//[^\n]*|/\*.*?\*/)|(?P<guid>" + GUID_RE + r")"
    r"|(?P<string>\"[^\"\n]*\")|(?P<number>-?(?:0[xX][0-9A-Fa-f]+|\d+(?:\.\d+)?))"
    r"|(?P<ident>[A-Za-z_][A-Za-z0-9_]*)|(?P<punct>[\[\](){},;*=:<>])",
    re.S,
)


class IdlError(Exception):
    pass


@dataclass
class Param:
    name: str
    type: str  # base type plus stars, e.g. "BSTR", "IQVAUser**", "unsigned long*"
    attrs: list[str]
    default: str | None = None

    @property
    def is_retval(self) -> bool:
        return "retval" in self.attrs

    @property
    def is_out(self) -> bool:
        return "out" in self.attrs

    @property
    def is_in(self) -> bool:
        return "in" in self.attrs or not self.is_out

    @property
    def optional(self) -> bool:
        return "optional" in self.attrs or self.default is not None


@dataclass
class Member:
    name: str
    kind: str  # "method", "propget", "propput"
    dispid: int
    params: list[Param]
    attrs: list[str]
    line: int

    @property
    def cxx_name(self) -> str:
        return {"method": "", "propget": "get_", "propput": "put_"}[self.kind] + self.name


@dataclass
class Interface:
    name: str
    iid: str
    base: str
    members: list[Member]
    line: int


@dataclass
class Enum:
    name: str
    values: list[tuple[str, int]]


@dataclass
class Coclass:
    name: str
    clsid: str
    default_interface: str
    interfaces: list[str]
    creatable: bool


@dataclass
class Library:
    name: str = ""
    libid: str = ""
    version: str = ""
    coclasses: list[Coclass] = field(default_factory=list)


@dataclass
class Description:
    enums: list[Enum] = field(default_factory=list)
    interfaces: list[Interface] = field(default_factory=list)
    library: Library = field(default_factory=Library)

    def interface(self, name: str) -> Interface | None:
        return next((i for i in self.interfaces if i.name == name), None)


class _Tokens:
    def __init__(self, text: str):
        self.items: list[tuple[str, str, int]] = []
        pos, line = 0, 1
        while pos < len(text):
            m = TOKEN_RE.match(text, pos)
            if not m:
                raise IdlError(f"line {line}: unexpected character {text[pos]!r}")
            kind = m.lastgroup
            if kind not in ("ws", "comment"):
                self.items.append((kind, m.group(), line))
            line += m.group().count("\n")
            pos = m.end()
        self.i = 0

    def peek(self, ahead: int = 0) -> str:
        j = self.i + ahead
        return self.items[j][1] if j < len(self.items) else ""

    def line(self) -> int:
        return self.items[min(self.i, len(self.items) - 1)][2] if self.items else 0

    def next(self) -> str:
        if self.i >= len(self.items):
            raise IdlError("unexpected end of file")
        tok = self.items[self.i][1]
        self.i += 1
        return tok

    def expect(self, want: str) -> str:
        tok = self.next()
        if tok != want:
            raise IdlError(f"line {self.items[self.i - 1][2]}: expected {want!r}, found {tok!r}")
        return tok

    def accept(self, want: str) -> bool:
        if self.peek() == want:
            self.i += 1
            return True
        return False

    def done(self) -> bool:
        return self.i >= len(self.items)


def _attributes(t: _Tokens) -> list[tuple[str, list[str]]]:
    """`[a, b(x), c(y, z)]` as [(a, []), (b, [x]), (c, [y, z])]; nothing when no bracket follows."""
    attrs: list[tuple[str, list[str]]] = []
    if not t.accept("["):
        return attrs
    while True:
        name = t.next()
        args: list[str] = []
        if t.accept("("):
            while not t.accept(")"):
                args.append(t.next())
                t.accept(",")
        attrs.append((name, args))
        if t.accept("]"):
            return attrs
        t.expect(",")


def _attr(attrs, name):
    return next((args for n, args in attrs if n == name), None)


def _type(t: _Tokens) -> str:
    words = [t.next()]
    if words[0] == "unsigned":
        words.append(t.next())
    elif words[0] == "enum":
        words = [t.next()]
    stars = ""
    while t.accept("*"):
        stars += "*"
    return " ".join(words) + stars


def _param(t: _Tokens) -> Param:
    attrs = _attributes(t)
    ptype = _type(t)
    name = t.next()
    names = [n for n, _ in attrs]
    default = _attr(attrs, "defaultvalue")
    return Param(name, ptype, names, " ".join(default) if default else None)


def _interface(t: _Tokens, attrs, line: int) -> Interface:
    name = t.next()
    t.expect(":")
    base = t.next()
    iid = _attr(attrs, "uuid")
    if not iid:
        raise IdlError(f"line {line}: interface {name} has no uuid")
    members: list[Member] = []
    t.expect("{")
    while not t.accept("}"):
        mline = t.line()
        mattrs = _attributes(t)
        ret = t.next()
        if ret != "HRESULT":
            raise IdlError(f"line {mline}: member of {name} must return HRESULT")
        mname = t.next()
        t.expect("(")
        params: list[Param] = []
        if not t.accept(")"):
            while True:
                if t.peek() == "void" and t.peek(1) == ")":
                    t.next()
                else:
                    params.append(_param(t))
                if t.accept(")"):
                    break
                t.expect(",")
        t.expect(";")
        names = [n for n, _ in mattrs]
        kind = "propget" if "propget" in names else "propput" if "propput" in names else "method"
        dispid = _attr(mattrs, "id")
        if dispid is None:
            raise IdlError(f"line {mline}: {name}.{mname} has no id")
        members.append(Member(mname, kind, int(dispid[0], 0), params, names, mline))
    t.expect(";")
    return Interface(name, iid[0].upper(), base, members, line)


def _enum(t: _Tokens) -> Enum:
    t.expect("enum")
    name = t.next()
    values: list[tuple[str, int]] = []
    t.expect("{")
    nxt = 0
    while not t.accept("}"):
        vname = t.next()
        if t.accept("="):
            nxt = int(t.next(), 0)
        values.append((vname, nxt))
        nxt += 1
        t.accept(",")
    alias = t.next()
    if alias != name:
        raise IdlError(f"enum {name} must be typedef'd to its own name, not {alias}")
    t.expect(";")
    return Enum(name, values)


def _library(t: _Tokens, attrs, lib: Library) -> None:
    lib.name = t.next()
    lib.libid = _attr(attrs, "uuid")[0].upper()
    lib.version = _attr(attrs, "version")[0]
    t.expect("{")
    while not t.accept("}"):
        if t.accept("importlib"):
            t.expect("(")
            t.next()
            t.expect(")")
            t.expect(";")
            continue
        cattrs = _attributes(t)
        t.expect("coclass")
        cname = t.next()
        interfaces, default = [], None
        t.expect("{")
        while not t.accept("}"):
            iattrs = _attributes(t)
            t.expect("interface")
            iname = t.next()
            t.expect(";")
            interfaces.append(iname)
            if default is None or _attr(iattrs, "default") is not None:
                default = iname
        t.expect(";")
        names = [n for n, _ in cattrs]
        lib.coclasses.append(Coclass(cname, _attr(cattrs, "uuid")[0].upper(), default, interfaces,
                                     "noncreatable" not in names))
    t.accept(";")


def parse(text: str) -> Description:
    t = _Tokens(text)
    d = Description()
    while not t.done():
        line = t.line()
        if t.accept("import"):
            t.next()
            t.expect(";")
        elif t.accept("typedef"):
            _attributes(t)
            d.enums.append(_enum(t))
        elif t.peek() == "interface" and t.peek(2) == ";":
            t.next(), t.next(), t.next()
        else:
            attrs = _attributes(t)
            what = t.next()
            if what == "interface":
                d.interfaces.append(_interface(t, attrs, line))
            elif what == "library":
                _library(t, attrs, d.library)
            else:
                raise IdlError(f"line {line}: unexpected {what!r}")
    _check(d)
    return d


def _check(d: Description) -> None:
    seen_iids: dict[str, str] = {}
    for itf in d.interfaces:
        if itf.iid in seen_iids:
            raise IdlError(f"{itf.name} and {seen_iids[itf.iid]} share the IID {itf.iid}")
        seen_iids[itf.iid] = itf.name
        if itf.base != "IDispatch":
            raise IdlError(f"{itf.name}: every interface derives from IDispatch")
        kinds: dict[tuple[str, str], int] = {}
        for m in itf.members:
            key = (m.name.lower(), m.kind)
            if key in kinds:
                raise IdlError(f"line {m.line}: {itf.name}.{m.name} ({m.kind}) is declared twice")
            kinds[key] = m.dispid
            retvals = [i for i, p in enumerate(m.params) if p.is_retval]
            if retvals and retvals != [len(m.params) - 1]:
                raise IdlError(f"line {m.line}: {itf.name}.{m.name}: [out, retval] must be the last parameter")
            if m.kind == "propget" and not retvals:
                raise IdlError(f"line {m.line}: {itf.name}.{m.name}: a propget needs an [out, retval] parameter")
        # The get and put of one property share a dispid; two different names never do.
        by_dispid: dict[int, str] = {}
        for m in itf.members:
            other = by_dispid.setdefault(m.dispid, m.name)
            if other.lower() != m.name.lower():
                raise IdlError(f"line {m.line}: {itf.name}: dispid {m.dispid} used by {other} and {m.name}")
    names = {i.name for i in d.interfaces}
    for c in d.library.coclasses:
        for i in c.interfaces:
            if i not in names:
                raise IdlError(f"coclass {c.name} names the undescribed interface {i}")
