#!/usr/bin/env python3
"""Front end of the protocol code generator: reads the ASN.1 module files of
protocol/modules/ into a resolved model that a back end turns into C++.

Accepted notation
=================
A narrow X.680 subset, exactly what the board's modules need:

    Name DEFINITIONS AUTOMATIC TAGS ::= BEGIN
    IMPORTS A, B FROM Other  C FROM Third;     -- optional
    T ::= SEQUENCE { f Type [OPTIONAL], ..., [, ..., g Type OPTIONAL ...] }
    T ::= CHOICE { a Type, ... [, ..., b Type ...] }
    T ::= ENUMERATED { name(value), ... [, ...] }
    END

Member types: INTEGER, INTEGER (lo..hi), BOOLEAN, NULL, OCTET STRING,
IA5String, IA5String (SIZE (lo..hi)), OBJECT IDENTIFIER, SEQUENCE OF t,
SET OF t, and references to SEQUENCE/CHOICE/ENUMERATED types: `Type` (local
or imported) or `Module.Type` (the module must import Type).  Comments are
`-- ... --`/end of line and `/* ... */`.

Two relaxations of X.680, because the wire names came first: names may
contain "_", and two items of one ENUMERATED may share a value.

Refused with an error (file:line:col): anything else (tags, DEFAULT, version
brackets, constraints other than the two above, inline constructed types,
type assignments other than SEQUENCE/CHOICE/ENUMERATED), enumeration items
without an explicit value, mandatory extension additions, unresolved,
unimported, unused or ambiguous references, duplicate names (also after the
C++ mapping "-" -> "_"), and recursion through the type graph.

The model (all dataclasses; `--json` dumps the same content)
============================================================
Model
    modules: Dict[str, Module] in load order.  `type(module, name)`,
    `all_types()`, `reachable(*roots)`, `list_types()`, `integer_ranges()`,
    `dependency_order()` (every type after the types its members refer to).
Module
    name, file, line; imports: Dict[module name, List[type name]];
    types: Dict[name, TypeDef] in definition order.
TypeDef
    module, name, kind ("SEQUENCE" | "CHOICE" | "ENUMERATED"), loc;
    extensible: the type has the "..." marker;
    first_addition: index into members of the first extension addition,
        None when there is none (then every member is root);
    members: List[Field] (SEQUENCE) | List[Alternative] (CHOICE) |
        List[Item] (ENUMERATED), in wire/definition order.
    Derived: root_members, additions, optional_root_count, max_value (ENUM),
    qualified ("LGCP.Message").
Field
    name, type (TypeExpr), presence: "mandatory" | "optional" | "addition"
    (an addition is always optional), loc; presence_bit: the runtime's
    presence index (-1 mandatory; the rank among optional root fields; for
    the j-th addition optional_root_count + j), set by resolution.
Alternative
    name, type (TypeExpr), is_addition, loc.
Item
    name, value (signed), loc; explicit_in_names: whether the names table
    needs "name=value" (the value is not the previous value + 1, or the
    first value is not 0).
TypeExpr
    kind: "INTEGER" | "BOOLEAN" | "NULL" | "OCTET STRING" | "IA5String" |
        "OBJECT IDENTIFIER" | "SEQUENCE OF" | "SET OF" | "REF";
    lo, hi: the INTEGER range or the IA5String SIZE bounds (None: none);
    element: the element TypeExpr of a list;
    module, name: a REF's target (module filled in by resolution);
    target: the TypeDef a REF resolves to (not dumped, not compared);
    key(): canonical text, e.g. "INTEGER (0..15)", "SET OF LGCP.TonecMask".
"""

from __future__ import annotations

import argparse
import json
import re
import sys
from collections import Counter
from dataclasses import dataclass, field
from typing import Dict, Iterable, List, Optional, Tuple, Union

SEQUENCE, CHOICE, ENUMERATED = "SEQUENCE", "CHOICE", "ENUMERATED"
PRIMITIVE_KINDS = ("INTEGER", "BOOLEAN", "NULL", "OCTET STRING", "IA5String",
                   "OBJECT IDENTIFIER")
LIST_KINDS = ("SEQUENCE OF", "SET OF")

# The runtime holds INTEGER values in 32 bits: a range must fit either the
# signed or the unsigned reading.
INT_MIN, UINT_MAX = -(2 ** 31), 2 ** 32 - 1
ENUM_MIN, ENUM_MAX = -(2 ** 31), 2 ** 31 - 1


# --------------------------------------------------------------- model --

@dataclass(frozen=True)
class Loc:
    file: str
    line: int
    col: int = 0

    def __str__(self) -> str:
        return f"{self.file}:{self.line}:{self.col}" if self.col else \
            f"{self.file}:{self.line}"


@dataclass(eq=False)
class TypeExpr:
    kind: str
    loc: Loc = field(repr=False)
    lo: Optional[int] = None
    hi: Optional[int] = None
    element: Optional["TypeExpr"] = None
    module: Optional[str] = None
    name: Optional[str] = None
    target: Optional["TypeDef"] = field(default=None, repr=False)

    @property
    def is_list(self) -> bool:
        return self.kind in LIST_KINDS

    @property
    def is_ref(self) -> bool:
        return self.kind == "REF"

    @property
    def has_range(self) -> bool:
        return self.lo is not None

    def key(self) -> str:
        if self.kind == "REF":
            return f"{self.module}.{self.name}" if self.module else self.name
        if self.is_list:
            return f"{self.kind} {self.element.key()}"
        if self.kind == "INTEGER" and self.has_range:
            return f"INTEGER ({self.lo}..{self.hi})"
        if self.kind == "IA5String" and self.has_range:
            return f"IA5String (SIZE ({self.lo}..{self.hi}))"
        return self.kind

    def walk(self) -> Iterable["TypeExpr"]:
        """This expression and, for a list, its element expressions."""
        yield self
        if self.element is not None:
            yield from self.element.walk()

    def to_json(self) -> dict:
        d = {"kind": self.kind}
        if self.lo is not None:
            d["lo"], d["hi"] = self.lo, self.hi
        if self.element is not None:
            d["element"] = self.element.to_json()
        if self.kind == "REF":
            d["module"], d["name"] = self.module, self.name
        return d


@dataclass(eq=False)
class Field:
    name: str
    type: TypeExpr
    presence: str            # "mandatory" | "optional" | "addition"
    loc: Loc = field(repr=False)
    presence_bit: int = -1

    @property
    def is_addition(self) -> bool:
        return self.presence == "addition"

    def to_json(self) -> dict:
        return {"name": self.name, "type": self.type.to_json(),
                "presence": self.presence, "presence_bit": self.presence_bit,
                "line": self.loc.line}


@dataclass(eq=False)
class Alternative:
    name: str
    type: TypeExpr
    is_addition: bool
    loc: Loc = field(repr=False)

    def to_json(self) -> dict:
        return {"name": self.name, "type": self.type.to_json(),
                "is_addition": self.is_addition, "line": self.loc.line}


@dataclass(eq=False)
class Item:
    name: str
    value: int
    loc: Loc = field(repr=False)
    explicit_in_names: bool = False
    is_addition: bool = False

    def to_json(self) -> dict:
        return {"name": self.name, "value": self.value,
                "explicit_in_names": self.explicit_in_names,
                "is_addition": self.is_addition, "line": self.loc.line}


Member = Union[Field, Alternative, Item]


@dataclass(eq=False)
class TypeDef:
    module: str
    name: str
    kind: str
    loc: Loc = field(repr=False)
    extensible: bool = False
    first_addition: Optional[int] = None
    members: List[Member] = field(default_factory=list)

    @property
    def qualified(self) -> str:
        return f"{self.module}.{self.name}"

    @property
    def root_members(self) -> List[Member]:
        end = len(self.members) if self.first_addition is None \
            else self.first_addition
        return self.members[:end]

    @property
    def additions(self) -> List[Member]:
        return [] if self.first_addition is None \
            else self.members[self.first_addition:]

    @property
    def optional_root_count(self) -> int:
        return sum(1 for m in self.root_members
                   if isinstance(m, Field) and m.presence == "optional")

    @property
    def max_value(self) -> Optional[int]:
        if self.kind != ENUMERATED or not self.members:
            return None
        return max(m.value for m in self.members)

    def referenced(self) -> Iterable[TypeExpr]:
        """Every REF expression of the members, list elements included."""
        for m in self.members:
            if not isinstance(m, Item):
                for e in m.type.walk():
                    if e.is_ref:
                        yield e

    def to_json(self) -> dict:
        d = {"module": self.module, "name": self.name, "kind": self.kind,
             "extensible": self.extensible,
             "first_addition": self.first_addition, "line": self.loc.line,
             "members": [m.to_json() for m in self.members]}
        if self.kind == SEQUENCE:
            d["optional_root_count"] = self.optional_root_count
        if self.kind == ENUMERATED:
            d["max_value"] = self.max_value
        return d


@dataclass(eq=False)
class Module:
    name: str
    file: str
    line: int
    imports: Dict[str, List[str]] = field(default_factory=dict)
    import_locs: Dict[Tuple[str, str], Loc] = field(default_factory=dict,
                                                    repr=False)
    types: Dict[str, TypeDef] = field(default_factory=dict)

    def to_json(self) -> dict:
        return {"name": self.name, "file": self.file,
                "imports": self.imports,
                "types": [t.to_json() for t in self.types.values()]}


@dataclass(eq=False)
class Model:
    modules: Dict[str, Module] = field(default_factory=dict)

    def type(self, module: str, name: str) -> TypeDef:
        return self.modules[module].types[name]

    def lookup(self, qualified: str) -> TypeDef:
        module, _, name = qualified.partition(".")
        return self.type(module, name)

    def all_types(self) -> List[TypeDef]:
        return [t for m in self.modules.values() for t in m.types.values()]

    def reachable(self, *roots: TypeDef) -> List[TypeDef]:
        """The roots and every type they reach, in first-visit order."""
        seen: Dict[int, TypeDef] = {}
        stack = list(reversed(roots))
        while stack:
            t = stack.pop()
            if id(t) in seen:
                continue
            seen[id(t)] = t
            stack.extend(reversed([e.target for e in t.referenced()]))
        return list(seen.values())

    def list_types(self) -> Counter:
        """Distinct SEQUENCE OF / SET OF instantiations (key -> uses)."""
        c: Counter = Counter()
        for t in self.all_types():
            for m in t.members:
                if not isinstance(m, Item):
                    for e in m.type.walk():
                        if e.is_list:
                            c[e.key()] += 1
        return c

    def integer_ranges(self) -> Counter:
        """Distinct constrained INTEGER ranges ((lo, hi) -> uses)."""
        c: Counter = Counter()
        for t in self.all_types():
            for m in t.members:
                if not isinstance(m, Item):
                    for e in m.type.walk():
                        if e.kind == "INTEGER" and e.has_range:
                            c[(e.lo, e.hi)] += 1
        return c

    def dependency_order(self) -> List[TypeDef]:
        out: List[TypeDef] = []
        done = set()

        def visit(t: TypeDef) -> None:
            if id(t) in done:
                return
            done.add(id(t))
            for e in t.referenced():
                visit(e.target)
            out.append(t)

        for t in self.all_types():
            visit(t)
        return out

    def to_json(self) -> dict:
        return {"modules": [m.to_json() for m in self.modules.values()]}


class Asn1Error(Exception):
    """One or more diagnostics, each "file:line:col: message"."""

    def __init__(self, diagnostics: List[str]):
        super().__init__("\n".join(diagnostics))
        self.diagnostics = diagnostics


# --------------------------------------------------------------- lexer --

_WORD = r"[A-Za-z][A-Za-z0-9_]*(?:-[A-Za-z0-9_]+)*"
_TOKEN = re.compile(r"(?P<ws>[ \t\r\f\v]+)|(?P<nl>\n)"
                    r"|(?P<bc>/\*)|(?P<lc>--)"
                    rf"|(?P<word>{_WORD})|(?P<num>[0-9]+)"
                    r"|(?P<punct>::=|\.\.\.|\.\.|\[\[|\]\]|[{}(),;.\-\[\]|!])")

KEYWORDS = {"DEFINITIONS", "AUTOMATIC", "TAGS", "BEGIN", "END", "IMPORTS",
            "FROM", "SEQUENCE", "SET", "OF", "CHOICE", "ENUMERATED",
            "INTEGER", "BOOLEAN", "NULL", "OCTET", "STRING", "IA5String",
            "OBJECT", "IDENTIFIER", "OPTIONAL", "DEFAULT", "SIZE",
            "EXPORTS", "EXPLICIT", "IMPLICIT", "COMPONENTS", "WITH",
            "TRUE", "FALSE", "BIT", "REAL", "ANY", "DEFINED", "BY",
            "MIN", "MAX", "EXTENSIBILITY", "IMPLIED", "INSTRUCTIONS",
            "UNIVERSAL", "APPLICATION", "PRIVATE", "ALL", "EXCEPT"}


@dataclass
class Tok:
    kind: str      # "word" | "num" | "punct" | "eof"
    text: str
    loc: Loc


def tokenize(text: str, file: str) -> List[Tok]:
    toks: List[Tok] = []
    pos, line, bol = 0, 1, 0
    n = len(text)
    while pos < n:
        m = _TOKEN.match(text, pos)
        if not m:
            raise Asn1Error([f"{Loc(file, line, pos - bol + 1)}: "
                             f"unexpected character {text[pos]!r}"])
        kind = m.lastgroup
        loc = Loc(file, line, pos - bol + 1)
        if kind == "nl":
            line, bol = line + 1, m.end()
            pos = m.end()
        elif kind == "ws":
            pos = m.end()
        elif kind == "lc":
            # "--" comment: ends at the next "--" or at the end of the line
            end = pos + 2
            while end < n and text[end] != "\n" and \
                    not text.startswith("--", end):
                end += 1
            pos = end + 2 if text.startswith("--", end) else end
        elif kind == "bc":
            depth, end = 1, pos + 2
            while end < n and depth:
                if text.startswith("/*", end):
                    depth, end = depth + 1, end + 2
                elif text.startswith("*/", end):
                    depth, end = depth - 1, end + 2
                else:
                    if text[end] == "\n":
                        line, bol = line + 1, end + 1
                    end += 1
            if depth:
                raise Asn1Error([f"{loc}: unterminated /* comment"])
            pos = end
        else:
            toks.append(Tok(kind, m.group(), loc))
            pos = m.end()
    toks.append(Tok("eof", "", Loc(file, line, pos - bol + 1)))
    return toks


# -------------------------------------------------------------- parser --

class _Parser:
    def __init__(self, toks: List[Tok]):
        self.toks, self.i = toks, 0

    @property
    def cur(self) -> Tok:
        return self.toks[self.i]

    def fail(self, msg: str, tok: Optional[Tok] = None) -> None:
        tok = tok or self.cur
        raise Asn1Error([f"{tok.loc}: {msg}"])

    def describe(self, tok: Tok) -> str:
        return "end of file" if tok.kind == "eof" else repr(tok.text)

    def peek(self, *texts: str, ahead: int = 0) -> bool:
        t = self.toks[min(self.i + ahead, len(self.toks) - 1)]
        return t.kind != "eof" and t.text in texts

    def take(self) -> Tok:
        t = self.cur
        if t.kind != "eof":
            self.i += 1
        return t

    def accept(self, text: str) -> bool:
        if self.peek(text):
            self.i += 1
            return True
        return False

    def expect(self, text: str, what: Optional[str] = None) -> Tok:
        if not self.peek(text):
            self.fail(f"expected {what or repr(text)}, "
                      f"found {self.describe(self.cur)}")
        return self.take()

    def name(self, upper: bool, what: str) -> Tok:
        t = self.cur
        if t.kind != "word" or t.text in KEYWORDS or \
                t.text[0].isupper() != upper:
            first = "an upper-case" if upper else "a lower-case"
            self.fail(f"expected {what} (starting with {first} letter), "
                      f"found {self.describe(t)}")
        return self.take()

    def number(self) -> int:
        neg = self.accept("-")
        t = self.cur
        if t.kind != "num":
            self.fail(f"expected a number, found {self.describe(t)}")
        self.take()
        return -int(t.text) if neg else int(t.text)

    # ---- modules

    def modules(self) -> List[Module]:
        mods = []
        while self.cur.kind != "eof":
            mods.append(self.module())
        if not mods:
            self.fail("no module definition")
        return mods

    def module(self) -> Module:
        nt = self.name(True, "a module name")
        if self.peek("{"):
            self.fail("module object identifiers are not supported")
        self.expect("DEFINITIONS")
        if not self.peek("AUTOMATIC"):
            self.fail("only 'AUTOMATIC TAGS' modules are supported")
        self.take()
        self.expect("TAGS")
        self.expect("::=")
        self.expect("BEGIN")
        mod = Module(nt.text, nt.loc.file, nt.loc.line)
        if self.peek("EXPORTS"):
            self.fail("EXPORTS is not supported (everything is exported)")
        if self.accept("IMPORTS"):
            self.imports(mod)
        while not self.peek("END"):
            if self.cur.kind == "eof":
                self.fail(f"missing END of module {mod.name}")
            self.assignment(mod)
        self.take()
        return mod

    def imports(self, mod: Module) -> None:
        while not self.accept(";"):
            names: List[Tok] = [self.name(True, "an imported type name")]
            while self.accept(","):
                names.append(self.name(True, "an imported type name"))
            self.expect("FROM")
            src = self.name(True, "a module name")
            if src.text == mod.name:
                self.fail("a module cannot import from itself", src)
            lst = mod.imports.setdefault(src.text, [])
            for n in names:
                if n.text in lst:
                    self.fail(f"{n.text} imported twice from {src.text}", n)
                for other, ol in mod.imports.items():
                    if other != src.text and n.text in ol:
                        self.fail(f"{n.text} imported from both {other} and "
                                  f"{src.text}", n)
                lst.append(n.text)
                mod.import_locs[(src.text, n.text)] = n.loc

    def assignment(self, mod: Module) -> None:
        nt = self.name(True, "a type name")
        self.expect("::=")
        kt = self.cur
        if self.peek(SEQUENCE) and not self.peek("OF", ahead=1):
            self.take()
            td = TypeDef(mod.name, nt.text, SEQUENCE, nt.loc)
            self.seq_or_choice(td)
        elif self.peek(CHOICE):
            self.take()
            td = TypeDef(mod.name, nt.text, CHOICE, nt.loc)
            self.seq_or_choice(td)
        elif self.peek(ENUMERATED):
            self.take()
            td = TypeDef(mod.name, nt.text, ENUMERATED, nt.loc)
            self.enumerated(td)
        else:
            what = "'SEQUENCE OF'" if self.peek(SEQUENCE) else \
                self.describe(kt)
            self.fail("only SEQUENCE, CHOICE and ENUMERATED types may be "
                      f"assigned, found {what}")
        if td.name in mod.types:
            self.fail(f"type {td.name} defined twice in module {mod.name} "
                      f"(first at line {mod.types[td.name].loc.line})", nt)
        mod.types[td.name] = td

    def _extension_marker(self, td: TypeDef) -> None:
        t = self.take()             # "..."
        if td.extensible:
            self.fail("a second extension marker (root components after "
                      "the extensions) is not supported", t)
        td.extensible = True
        if self.peek("!"):
            self.fail("exception markers ('!') are not supported")

    def seq_or_choice(self, td: TypeDef) -> None:
        self.expect("{")
        if self.peek("}"):
            self.fail(f"empty {td.kind}")
        while True:
            if self.peek("..."):
                self._extension_marker(td)
            elif self.peek("[["):
                self.fail("version brackets [[ ]] are not supported: write "
                          "each extension addition on its own")
            elif self.peek("COMPONENTS"):
                self.fail("COMPONENTS OF is not supported")
            else:
                self.member(td)
            if self.accept("}"):
                break
            self.expect(",", "',' or '}'")
            if self.peek("}"):
                self.fail("expected a component after ','")
        if td.kind == CHOICE and not td.root_members:
            self.fail(f"CHOICE {td.name} has no root alternative",
                      self.toks[self.i - 1])

    def member(self, td: TypeDef) -> None:
        nt = self.name(False, "a component name")
        if self.peek("["):
            self.fail("explicit tags are not supported (modules use "
                      "automatic tagging)")
        ty = self.type_expr()
        addition = td.extensible
        if addition and td.first_addition is None:
            td.first_addition = len(td.members)
        if td.kind == SEQUENCE:
            if self.peek("DEFAULT"):
                self.fail("DEFAULT is not supported")
            optional = self.accept("OPTIONAL")
            if addition and not optional:
                self.fail(f"extension addition {nt.text} must be OPTIONAL: "
                          "every addition starts absent", nt)
            presence = "addition" if addition else \
                "optional" if optional else "mandatory"
            td.members.append(Field(nt.text, ty, presence, nt.loc))
        else:
            if self.peek("OPTIONAL", "DEFAULT"):
                self.fail(f"{self.cur.text} in a CHOICE")
            td.members.append(Alternative(nt.text, ty, addition, nt.loc))

    def type_expr(self) -> TypeExpr:
        t = self.cur
        loc = t.loc
        if t.kind != "word":
            self.fail(f"expected a type, found {self.describe(t)}")
        if t.text in (SEQUENCE, "SET") and self.peek("SIZE", "(", ahead=1):
            self.fail("size constraints on lists are not supported")
        if t.text in (SEQUENCE, "SET") and self.peek("OF", ahead=1):
            self.take(), self.take()
            if self.peek("SIZE") or self.peek("("):
                self.fail("size constraints on lists are not supported")
            return TypeExpr(f"{t.text} OF", loc, element=self.type_expr())
        if t.text in (SEQUENCE, "SET", CHOICE, ENUMERATED):
            self.fail(f"inline {t.text} types are not supported: give the "
                      "type a name (Outer_field) and refer to it")
        if t.text == "INTEGER":
            self.take()
            te = TypeExpr("INTEGER", loc)
            if self.peek("{"):
                self.fail("named numbers are not supported")
            if self.accept("("):
                te.lo = self.number()
                self.expect("..")
                te.hi = self.number()
                self.expect(")", "')' (only a fixed range lo..hi is "
                                 "supported)")
                if te.lo > te.hi:
                    self.fail(f"empty range {te.lo}..{te.hi}", t)
                if te.lo < INT_MIN or te.hi > UINT_MAX or \
                        (te.lo < 0 and te.hi > 2 ** 31 - 1):
                    self.fail(f"range {te.lo}..{te.hi} does not fit "
                              "32 bits", t)
            return te
        if t.text == "IA5String":
            self.take()
            te = TypeExpr("IA5String", loc)
            if self.accept("("):
                self.expect("SIZE", "SIZE (only size constraints are "
                                    "supported on strings)")
                self.expect("(")
                te.lo = self.number()
                self.expect("..")
                te.hi = self.number()
                self.expect(")")
                self.expect(")")
                if te.lo < 0 or te.lo > te.hi:
                    self.fail(f"bad size range {te.lo}..{te.hi}", t)
            return te
        if t.text in ("BOOLEAN", "NULL"):
            self.take()
            return TypeExpr(t.text, loc)
        if t.text in ("OCTET", "OBJECT"):
            second = "STRING" if t.text == "OCTET" else "IDENTIFIER"
            self.take()
            self.expect(second)
            if self.peek("("):
                self.fail(f"constraints on {t.text} {second} are not "
                          "supported")
            return TypeExpr(f"{t.text} {second}", loc)
        if t.text in KEYWORDS:
            self.fail(f"type {t.text} is not supported")
        if not t.text[0].isupper():
            self.fail(f"expected a type, found {self.describe(t)}")
        self.take()
        if self.accept("."):
            nt = self.name(True, "a type name after the module name")
            te = TypeExpr("REF", loc, module=t.text, name=nt.text)
        else:
            te = TypeExpr("REF", loc, name=t.text)
        if self.peek("("):
            self.fail("constraints on referenced types are not supported")
        return te

    def enumerated(self, td: TypeDef) -> None:
        self.expect("{")
        if self.peek("}"):
            self.fail("empty ENUMERATED")
        while True:
            if self.peek("..."):
                self._extension_marker(td)
            else:
                nt = self.name(False, "an enumeration name")
                if not self.accept("("):
                    self.fail(f"enumeration item {nt.text} needs an explicit "
                              "value: name(value)", nt)
                vt = self.cur
                value = self.number()
                if not ENUM_MIN <= value <= ENUM_MAX:
                    self.fail(f"value {value} does not fit 32 bits", vt)
                self.expect(")")
                if td.extensible and td.first_addition is None:
                    td.first_addition = len(td.members)
                td.members.append(Item(nt.text, value, nt.loc,
                                       is_addition=td.extensible))
            if self.accept("}"):
                break
            self.expect(",", "',' or '}'")
        if not td.root_members:
            self.fail(f"ENUMERATED {td.name} has no root item",
                      self.toks[self.i - 1])


def parse_text(text: str, file: str = "<text>") -> List[Module]:
    """Parse one file's text into unresolved modules (raises Asn1Error)."""
    return _Parser(tokenize(text, file)).modules()


# ---------------------------------------------------------- resolution --

def _resolve(model: Model, errors: List[str]) -> None:
    for mod in model.modules.values():
        used = set()        # also holds the imports already reported bad
        imported = {n: src for src, names in mod.imports.items()
                    for n in names}
        for src, names in mod.imports.items():
            if src not in model.modules:
                loc = mod.import_locs[(src, names[0])]
                errors.append(f"{loc}: unknown module {src}")
                used.update((src, n) for n in names)
                continue
            for n in names:
                if n not in model.modules[src].types:
                    errors.append(f"{mod.import_locs[(src, n)]}: module {src} "
                                  f"defines no type {n}")
                    used.add((src, n))
        for td in mod.types.values():
            _check_names(td, errors)
            for e in td.referenced():
                if e.module is None or e.module == mod.name:
                    if e.module is None and e.name in mod.types and \
                            e.name in imported:
                        errors.append(f"{e.loc}: {e.name} is both defined "
                                      f"here and imported from "
                                      f"{imported[e.name]}: write "
                                      f"{mod.name}.{e.name} or "
                                      f"{imported[e.name]}.{e.name}")
                        continue
                    if e.name in mod.types:
                        e.module = mod.name
                    elif e.module is None and e.name in imported:
                        e.module = imported[e.name]
                        used.add((e.module, e.name))
                    else:
                        errors.append(f"{e.loc}: undefined type {e.key()}")
                        continue
                else:
                    if e.name not in mod.imports.get(e.module, []):
                        errors.append(f"{e.loc}: {e.module}.{e.name} is not "
                                      f"imported: add it to IMPORTS")
                        continue
                    used.add((e.module, e.name))
                src = model.modules.get(e.module)
                if src is None or e.name not in src.types:
                    continue        # reported at the IMPORTS list
                e.target = src.types[e.name]
        for src, names in mod.imports.items():
            for n in names:
                if (src, n) not in used:
                    errors.append(f"{mod.import_locs[(src, n)]}: {n} is "
                                  f"imported from {src} but never used")
    if not errors:
        _check_cycles(model, errors)
        _derive(model)


def _check_names(td: TypeDef, errors: List[str]) -> None:
    seen: Dict[str, Member] = {}
    cxx: Dict[str, Member] = {}
    for m in td.members:
        if m.name in seen:
            errors.append(f"{m.loc}: {m.name} appears twice in {td.name} "
                          f"(first at line {seen[m.name].loc.line})")
            continue
        seen[m.name] = m
        c = m.name.replace("-", "_")
        if c in cxx:
            errors.append(f"{m.loc}: {m.name} and {cxx[c].name} in {td.name} "
                          f"both become {c} in C++")
        cxx[c] = m


def _check_cycles(model: Model, errors: List[str]) -> None:
    state: Dict[int, int] = {}

    def visit(t: TypeDef, path: List[TypeDef]) -> bool:
        s = state.get(id(t), 0)
        if s == 2:
            return True
        if s == 1:
            cyc = path[path.index(t):] + [t]
            errors.append(f"{t.loc}: recursive type: " +
                          " -> ".join(x.qualified for x in cyc))
            return False
        state[id(t)] = 1
        for e in t.referenced():
            if not visit(e.target, path + [t]):
                return False
        state[id(t)] = 2
        return True

    for t in model.all_types():
        if not visit(t, []):
            return


def _derive(model: Model) -> None:
    for t in model.all_types():
        if t.kind == SEQUENCE:
            k = 0
            for f in t.root_members:
                if f.presence == "optional":
                    f.presence_bit, k = k, k + 1
                else:
                    f.presence_bit = -1
            for j, f in enumerate(t.additions):
                f.presence_bit = k + j
        elif t.kind == ENUMERATED:
            prev = None
            for it in t.members:
                expected = 0 if prev is None else prev + 1
                it.explicit_in_names = it.value != expected
                prev = it.value


def load(paths: Iterable[str]) -> Model:
    """Parse and resolve the given files; raises Asn1Error listing every
    problem found.  A syntax error stops its own file only, so every file's
    first syntax error is listed; references are resolved (and their errors
    listed) once every file has parsed."""
    model = Model()
    errors: List[str] = []
    for p in paths:
        try:
            with open(p, encoding="utf-8") as fh:
                text = fh.read()
        except OSError as ex:
            errors.append(f"{p}: cannot read: {ex.strerror}")
            continue
        try:
            mods = parse_text(text, p)
        except Asn1Error as ex:
            errors.extend(ex.diagnostics)
            continue
        for m in mods:
            if m.name in model.modules:
                errors.append(f"{p}:{m.line}: module {m.name} defined twice "
                              f"(also in {model.modules[m.name].file})")
                continue
            model.modules[m.name] = m
    if not errors:
        _resolve(model, errors)
    if errors:
        raise Asn1Error(errors)
    return model


# ------------------------------------------------------------ command --

def summary(model: Model, roots: List[str]) -> List[str]:
    out = []
    tot: Counter = Counter()
    members = 0
    for m in model.modules.values():
        c = Counter(t.kind for t in m.types.values())
        tot.update(c)
        n = sum(len(t.members) for t in m.types.values())
        members += n
        out.append(f"module {m.name}: {len(m.types)} types "
                   f"({c[SEQUENCE]} SEQUENCE, {c[CHOICE]} CHOICE, "
                   f"{c[ENUMERATED]} ENUMERATED), {n} members")
    out.append(f"total: {sum(tot.values())} types ({tot[SEQUENCE]} SEQUENCE, "
               f"{tot[CHOICE]} CHOICE, {tot[ENUMERATED]} ENUMERATED), "
               f"{members} members")
    lists = model.list_types()
    out.append(f"lists: {len(lists)} distinct, {sum(lists.values())} uses")
    out.append(f"integer ranges: {len(model.integer_ranges())} distinct")
    for r in roots:
        n = len(model.reachable(model.lookup(r)))
        out.append(f"reachable from {r}: {n}")
    return out


def main(argv: Optional[List[str]] = None) -> int:
    ap = argparse.ArgumentParser(
        description="Read the protocol's ASN.1 modules and check or dump "
                    "the resolved model.")
    ap.add_argument("files", nargs="+", metavar="FILE.asn")
    g = ap.add_mutually_exclusive_group(required=True)
    g.add_argument("--check", action="store_true",
                   help="print per-module and total counts")
    g.add_argument("--json", action="store_true",
                   help="dump the model as JSON on standard output")
    ap.add_argument("--root", action="append", default=[],
                    metavar="MODULE.Type",
                    help="with --check: also count the types reachable "
                         "from this type (repeatable)")
    args = ap.parse_args(argv)
    try:
        model = load(args.files)
        for r in args.root:
            module, dot, name = r.partition(".")
            if not dot or module not in model.modules or \
                    name not in model.modules[module].types:
                raise Asn1Error([f"--root {r}: no such type"])
    except Asn1Error as ex:
        for d in ex.diagnostics:
            print(d, file=sys.stderr)
        print(f"{len(ex.diagnostics)} error(s)", file=sys.stderr)
        return 1
    if args.json:
        json.dump(model.to_json(), sys.stdout, indent=1)
        sys.stdout.write("\n")
    else:
        print("\n".join(summary(model, args.root)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
