"""The generator front end on small modules: what it accepts, what it builds,
and that every refusal names the file and line at fault."""

import io
import json
import os
import tempfile
import textwrap
import unittest
from contextlib import redirect_stderr, redirect_stdout

import asn1model as am


def mod(name, body, imports=""):
    head = f"{name} DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n"
    if imports:
        head += f"IMPORTS {imports};\n"
    return head + textwrap.dedent(body) + "END\n"


class Files:
    """Writes module texts into a scratch directory and loads them."""

    def __init__(self, test):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)

    def write(self, fname, text):
        path = os.path.join(self.dir.name, fname)
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(text)
        return path

    def load(self, **texts):
        return am.load([self.write(f"{k}.asn", v) for k, v in texts.items()])


class AcceptedNotation(unittest.TestCase):
    def setUp(self):
        self.files = Files(self)

    def test_names_with_underscores_and_hyphens_survive(self):
        m = self.files.load(A=mod("A", """
            CAS_NumberType ::= SEQUENCE {
                det_lvl_dB                  INTEGER,
                dtmf-detector_mark-max-time INTEGER (0..65535),
                type                        CAS_NumberType_type
            }
            CAS_NumberType_type ::= ENUMERATED { unexpected_command(0), x-y_z(1) }
            """))
        t = m.type("A", "CAS_NumberType")
        self.assertEqual([f.name for f in t.members],
                         ["det_lvl_dB", "dtmf-detector_mark-max-time", "type"])
        self.assertIs(t.members[2].type.target,
                      m.type("A", "CAS_NumberType_type"))
        self.assertEqual(
            [i.name for i in m.type("A", "CAS_NumberType_type").members],
            ["unexpected_command", "x-y_z"])

    def test_repeated_and_negative_enumeration_values(self):
        m = self.files.load(A=mod("A", """
            Gain ::= ENUMERATED { min(0), rtx1(0), rtx2(1), count(11), rsh(10), rtx10(10), ... }
            Standby ::= ENUMERATED { not-use(-1), off(0), on(1) }
            """))
        g = m.type("A", "Gain")
        self.assertEqual([(i.name, i.value) for i in g.members],
                         [("min", 0), ("rtx1", 0), ("rtx2", 1), ("count", 11),
                          ("rsh", 10), ("rtx10", 10)])
        self.assertEqual(g.max_value, 11)
        self.assertTrue(g.extensible)
        self.assertIsNone(g.first_addition)
        # "name=value" is needed wherever the value is not previous + 1.
        self.assertEqual([i.explicit_in_names for i in g.members],
                         [False, True, False, True, True, True])
        s = m.type("A", "Standby")
        self.assertEqual([i.value for i in s.members], [-1, 0, 1])
        self.assertEqual([i.explicit_in_names for i in s.members],
                         [True, False, False])
        self.assertEqual(s.max_value, 1)

    def test_integer_ranges_and_string_size(self):
        m = self.files.load(A=mod("A", """
            R ::= SEQUENCE {
                q   INTEGER (-128..127),
                fid INTEGER (112000..399975),
                u   INTEGER (0..4294967295),
                n   INTEGER,
                d   IA5String (SIZE (1..64)) OPTIONAL,
                s   IA5String,
                o   OBJECT IDENTIFIER,
                b   OCTET STRING,
                z   NULL,
                f   BOOLEAN
            }
            """))
        keys = [f.type.key() for f in m.type("A", "R").members]
        self.assertEqual(keys, [
            "INTEGER (-128..127)", "INTEGER (112000..399975)",
            "INTEGER (0..4294967295)", "INTEGER",
            "IA5String (SIZE (1..64))", "IA5String", "OBJECT IDENTIFIER",
            "OCTET STRING", "NULL", "BOOLEAN"])
        self.assertEqual(sorted(m.integer_ranges()),
                         [(-128, 127), (0, 4294967295), (112000, 399975)])

    def test_extension_additions_and_presence_indexes(self):
        m = self.files.load(A=mod("A", """
            P ::= SEQUENCE {
                a INTEGER OPTIONAL,
                b INTEGER,
                c BOOLEAN OPTIONAL,
                ...,
                d INTEGER OPTIONAL,
                e NULL OPTIONAL
            }
            C ::= CHOICE { x NULL, y BOOLEAN, ..., z INTEGER }
            E ::= SEQUENCE { a INTEGER, ... }
            """))
        p = m.type("A", "P")
        self.assertTrue(p.extensible)
        self.assertEqual(p.first_addition, 3)
        self.assertEqual([f.presence for f in p.members],
                         ["optional", "mandatory", "optional", "addition",
                          "addition"])
        self.assertEqual([f.presence_bit for f in p.members], [0, -1, 1, 2, 3])
        self.assertEqual(p.optional_root_count, 2)
        c = m.type("A", "C")
        self.assertEqual(c.first_addition, 2)
        self.assertEqual([a.is_addition for a in c.members],
                         [False, False, True])
        self.assertEqual([a.name for a in c.root_members], ["x", "y"])
        e = m.type("A", "E")
        self.assertTrue(e.extensible)
        self.assertIsNone(e.first_addition)

    def test_references_across_modules_lists_and_reachability(self):
        m = self.files.load(
            B=mod("B", """
                Stream ::= CHOICE { active INTEGER, inactive NULL }
                Unused ::= ENUMERATED { a(0) }
                """),
            A=mod("A", """
                Stream ::= SEQUENCE { s B.Stream, t SET OF Stream2 }
                Stream2 ::= SEQUENCE { u SEQUENCE OF B.Stream,
                                       v SEQUENCE OF INTEGER,
                                       w SEQUENCE OF SEQUENCE OF INTEGER }
                Top ::= SEQUENCE { x A.Stream }
                """, imports="Stream FROM B"))
        s = m.type("A", "Stream")
        self.assertIs(s.members[0].type.target, m.type("B", "Stream"))
        self.assertEqual(s.members[1].type.key(), "SET OF A.Stream2")
        self.assertEqual(dict(m.list_types()), {
            "SET OF A.Stream2": 1, "SEQUENCE OF B.Stream": 1,
            "SEQUENCE OF INTEGER": 2,
            "SEQUENCE OF SEQUENCE OF INTEGER": 1})
        self.assertEqual(
            [t.qualified for t in m.reachable(m.type("A", "Top"))],
            ["A.Top", "A.Stream", "B.Stream", "A.Stream2"])
        order = [t.qualified for t in m.dependency_order()]
        self.assertLess(order.index("B.Stream"), order.index("A.Stream"))
        self.assertLess(order.index("A.Stream2"), order.index("A.Stream"))

    def test_unqualified_imported_reference(self):
        m = self.files.load(
            B=mod("B", "Host ::= SEQUENCE { ip IA5String }\n"),
            A=mod("A", "Use ::= SEQUENCE { h Host }\n",
                  imports="Host FROM B"))
        h = m.type("A", "Use").members[0].type
        self.assertEqual((h.module, h.name), ("B", "Host"))

    def test_comments(self):
        m = self.files.load(A=mod("A", """
            /* a block /* nested */ comment */
            T ::= SEQUENCE { -- trailing
                a INTEGER, -- inline -- b BOOLEAN
            }
            """))
        self.assertEqual([f.name for f in m.type("A", "T").members],
                         ["a", "b"])

    def test_json_dump(self):
        path = self.files.write("A.asn", mod("A", """
            T ::= SEQUENCE { a INTEGER (0..7) OPTIONAL, l SEQUENCE OF E, ... }
            E ::= ENUMERATED { x(0), y(5), ... }
            """))
        out = io.StringIO()
        with redirect_stdout(out):
            self.assertEqual(am.main(["--json", path]), 0)
        d = json.loads(out.getvalue())
        t = d["modules"][0]["types"][0]
        self.assertEqual(t["name"], "T")
        self.assertEqual(t["members"][0]["type"],
                         {"kind": "INTEGER", "lo": 0, "hi": 7})
        self.assertEqual(t["members"][1]["type"]["element"],
                         {"kind": "REF", "module": "A", "name": "E"})
        e = d["modules"][0]["types"][1]
        self.assertEqual(e["max_value"], 5)
        self.assertEqual(e["members"][1]["line"], 4)


class Refusals(unittest.TestCase):
    """Each bad module gives one diagnostic that names file and line."""

    def setUp(self):
        self.files = Files(self)

    def errors(self, **texts):
        with self.assertRaises(am.Asn1Error) as cm:
            self.files.load(**texts)
        return cm.exception.diagnostics

    def assertError(self, text, line, pattern, fname="A"):
        diags = self.errors(**{fname: text})
        self.assertEqual(len(diags), 1, diags)
        self.assertRegex(diags[0],
                         rf"{fname}\.asn:{line}(:\d+)?: .*{pattern}")

    def test_syntax_error_line(self):
        self.assertError(mod("A", """
            T ::= SEQUENCE {
                a INTEGER
                b BOOLEAN
            }
            """), 5, "expected ',' or '}'.*'b'")

    def test_enumeration_item_without_value(self):
        self.assertError(mod("A", """
            E ::= ENUMERATED {
                a(0),
                b
            }
            """), 5, "b needs an explicit value")

    def test_undefined_reference(self):
        self.assertError(mod("A", """
            T ::= SEQUENCE {
                a Missing
            }
            """), 4, "undefined type Missing")

    def test_qualified_reference_not_imported(self):
        diags = self.errors(
            B=mod("B", "X ::= SEQUENCE { a INTEGER }\n"),
            A=mod("A", "T ::= SEQUENCE {\n a B.X }\n"))
        self.assertEqual(len(diags), 1, diags)
        self.assertRegex(diags[0], r"A\.asn:3:\d+: B\.X is not imported")

    def test_unused_and_unknown_imports(self):
        diags = self.errors(
            B=mod("B", "X ::= SEQUENCE { a INTEGER }\n"),
            A=mod("A", "T ::= SEQUENCE { a INTEGER }\n",
                  imports="X, Y FROM B Z FROM C"))
        self.assertEqual(len(diags), 3, diags)
        text = "\n".join(diags)
        self.assertRegex(text, r"A\.asn:2:\d+: module B defines no type Y")
        self.assertRegex(text, r"A\.asn:2:\d+: unknown module C")
        self.assertRegex(text, r"A\.asn:2:\d+: X is imported from B but "
                               r"never used")

    def test_local_and_imported_name_is_ambiguous(self):
        diags = self.errors(
            B=mod("B", "S ::= SEQUENCE { a INTEGER }\n"),
            A=mod("A", "S ::= SEQUENCE { a INTEGER }\n"
                       "T ::= SEQUENCE { s S, t B.S }\n",
                  imports="S FROM B"))
        self.assertEqual(len(diags), 1, diags)
        self.assertRegex(diags[0], r"A\.asn:4:\d+: S is both defined here "
                                   r"and imported from B")

    def test_duplicate_names(self):
        self.assertError(mod("A", """
            T ::= CHOICE { a NULL,
                           a BOOLEAN }
            """), 4, "a appears twice in T")
        self.assertError(mod("A", """
            E ::= ENUMERATED { vad-rx(0),
                               vad_rx(1) }
            """), 4, "vad_rx and vad-rx in E both become vad_rx")
        self.assertError(mod("A", """
            T ::= SEQUENCE { a NULL }
            T ::= SEQUENCE { b NULL }
            """), 4, "type T defined twice in module A")

    def test_unsupported_constructs(self):
        cases = [
            ("T ::= SEQUENCE { a INTEGER DEFAULT 5 }", "DEFAULT"),
            ("T ::= SEQUENCE { a INTEGER, ..., [[ b INTEGER ]] }",
             "version brackets"),
            ("T ::= SEQUENCE { a SEQUENCE { b INTEGER } }",
             "inline SEQUENCE"),
            ("T ::= SEQUENCE { a [0] INTEGER }", "explicit tags"),
            ("T ::= SEQUENCE { a BIT STRING }", "type BIT is not supported"),
            ("T ::= SEQUENCE OF INTEGER", "found 'SEQUENCE OF'"),
            ("T ::= INTEGER", "only SEQUENCE, CHOICE and ENUMERATED"),
            ("T ::= SEQUENCE { a INTEGER (5..1) }", "empty range 5..1"),
            ("T ::= SEQUENCE { a INTEGER (0..4294967296) }",
             "does not fit 32 bits"),
            ("T ::= SEQUENCE { a SEQUENCE SIZE (1..4) OF INTEGER }",
             "size constraints on lists"),
            ("T ::= SEQUENCE { a INTEGER, ..., b INTEGER }",
             "b must be OPTIONAL"),
            ("T ::= SEQUENCE { a INTEGER, ..., b NULL OPTIONAL, ..., c NULL }",
             "second extension marker"),
            ("T ::= CHOICE { a INTEGER OPTIONAL }", "OPTIONAL in a CHOICE"),
            ("T ::= CHOICE { ..., a NULL }", "no root alternative"),
            ("T ::= SEQUENCE { a OCTET STRING (SIZE (4)) }",
             "constraints on OCTET STRING"),
            ("T ::= SEQUENCE { a IA5String (FROM (a)) }", "expected SIZE"),
        ]
        for body, pattern in cases:
            with self.subTest(body=body):
                self.assertError(mod("A", "\n" + body + "\n"), 3, pattern)

    def test_module_header(self):
        self.assertError("A DEFINITIONS EXPLICIT TAGS ::= BEGIN\nEND\n", 1,
                         "AUTOMATIC TAGS")
        self.assertError(mod("A", "T ::= SEQUENCE { a NULL }\n")
                         .replace("END\n", ""), 3, "missing END of module A")

    def test_recursion(self):
        diags = self.errors(A=mod("A", """
            T ::= SEQUENCE { u U OPTIONAL }
            U ::= CHOICE { l SEQUENCE OF T, n NULL }
            """))
        self.assertEqual(len(diags), 1, diags)
        self.assertRegex(diags[0], r"A\.asn:3:\d+: recursive type: "
                                   r"A\.T -> A\.U -> A\.T")

    def test_unterminated_comment_and_bad_character(self):
        self.assertError(mod("A", "/* open\n"), 2, "unterminated")
        self.assertError(mod("A", "T ::= SEQUENCE { a INTEGER }\n@\n"), 3,
                         "unexpected character '@'")

    def test_every_file_reports(self):
        # A parse error stops its own file only; the other file's fault is
        # still listed, so one run shows all there is to mend.
        diags = self.errors(
            A=mod("A", "T ::= SEQUENCE { a INTEGER b }\n"),
            B=mod("B", "U ::= SEQUENCE {\n a }\n"))
        self.assertEqual(len(diags), 2, diags)
        self.assertRegex(diags[0], r"A\.asn:2:\d+: ")
        self.assertRegex(diags[1], r"B\.asn:3:\d+: expected a type")
        diags = self.errors(
            A=mod("A", "M ::= SEQUENCE { a INTEGER }\n"),
            B=mod("A", "N ::= SEQUENCE { a INTEGER }\n"))
        self.assertRegex(diags[0], r"B\.asn:1: module A defined twice")

    def test_command_line_exit_status(self):
        bad = self.files.write("A.asn", mod("A", "T ::= SEQUENCE { a X }\n"))
        err = io.StringIO()
        with redirect_stderr(err), redirect_stdout(io.StringIO()):
            self.assertEqual(am.main(["--check", bad]), 1)
        self.assertRegex(err.getvalue(), r"A\.asn:2:\d+: undefined type X")
        good = self.files.write("B.asn", mod("B", "T ::= SEQUENCE { a INTEGER }\n"))
        out = io.StringIO()
        with redirect_stdout(out), redirect_stderr(io.StringIO()):
            self.assertEqual(am.main(["--check", good, "--root", "B.T"]), 0)
            self.assertEqual(am.main(["--check", good, "--root", "B.X"]), 1)
        self.assertIn("total: 1 types (1 SEQUENCE, 0 CHOICE, 0 ENUMERATED), "
                      "1 members", out.getvalue())
        self.assertIn("reachable from B.T: 1", out.getvalue())


if __name__ == "__main__":
    unittest.main()
