"""The generator back end on small modules: the records it writes, the names
it refuses, and that a second run leaves unchanged files alone."""

import os
import tempfile
import textwrap
import unittest

import asn1model as am
import cppgen


def mod(name, body, imports=""):
    head = f"{name} DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n"
    if imports:
        head += f"IMPORTS {imports};\n"
    return head + textwrap.dedent(body) + "END\n"


class Scratch:
    def __init__(self, test):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)

    def path(self, *parts):
        return os.path.join(self.dir.name, *parts)

    def modules(self, **texts):
        paths = []
        for k, v in texts.items():
            p = self.path(f"{k}.asn")
            with open(p, "w", encoding="utf-8") as fh:
                fh.write(v)
            paths.append(p)
        return paths


DEMO = mod("Demo", """
    Mode ::= ENUMERATED { initial(0), learn(1), speak(4), again(4), after(5), ... }
    Item ::= SEQUENCE { id INTEGER (0..65535), label IA5String OPTIONAL }
    Params ::= SEQUENCE {
        slot   INTEGER (0..1023),
        name   IA5String (SIZE (1..64)) OPTIONAL,
        mode   Mode,
        items  SEQUENCE OF Item OPTIONAL,
        ...,
        gain-level INTEGER (-128..127) OPTIONAL,
        flag   BOOLEAN OPTIONAL
    }
    Command ::= CHOICE { create Params, id NULL, ..., query-state Mode }
    """)


class Records(unittest.TestCase):
    def setUp(self):
        s = Scratch(self)
        self.files = cppgen.outputs(am.load(s.modules(Demo=DEMO)))

    def text(self, name):
        return self.files[f"protocol/Demo/{name}"]

    def test_files_of_a_module(self):
        self.assertEqual(
            sorted(self.files),
            ["protocol/Demo/Demo.h", "protocol/Demo/DemoFwd.h",
             "protocol/Demo/Demo_0.cpp", "protocol/RegistryTable.cpp"])

    def test_sequence_record(self):
        src = self.text("Demo_0.cpp")
        self.assertIn("const int Params::fieldIds[6] = {-1, 0, -1, 1, 0, 0};", src)
        self.assertIn('const char* const Params::fieldNames[6] = {"slot", "name", "mode", '
                      '"items", "gain-level", "flag"};', src)
        self.assertIn("const Params::InfoType Params::theInfo = {&ASN1::create_value"
                      "<::Demo::Params>, 16, true, fieldInfos, fieldIds, 4, 2, 2, "
                      "nullptr, nullptr, fieldNames, &Params_block__};", src)
        # The root fields follow one another in the block, after the six
        # slots; the additions are made on their own; slot and mode, the
        # mandatory fields, are made in straight-line code.
        self.assertIn("constexpr unsigned Params_at__0 = ASN1::slot_bytes(6);\n"
                      "constexpr unsigned Params_at__1 = "
                      "ASN1::next_place<Params::slot_type>(Params_at__0);\n"
                      "constexpr unsigned Params_at__2 = "
                      "ASN1::next_place<Params::name_type>(Params_at__1);\n"
                      "constexpr unsigned Params_at__3 = "
                      "ASN1::next_place<Params::mode_type>(Params_at__2);\n"
                      "constexpr unsigned Params_at__4 = "
                      "ASN1::next_place<Params::items_type>(Params_at__3);\n"
                      "constexpr ASN1::FieldPlace Params_places__[6] = "
                      "{ASN1::place_at<Params::slot_type>(Params_at__0), "
                      "ASN1::place_at<Params::name_type>(Params_at__1), "
                      "ASN1::place_at<Params::mode_type>(Params_at__2), "
                      "ASN1::place_at<Params::items_type>(Params_at__3), "
                      "ASN1::place_of<Params::gain_level_type>(), "
                      "ASN1::place_of<Params::flag_type>()};\n"
                      "void Params_make__(ASN1::AbstractData** to, char* block) {\n"
                      "  to[0] = ASN1::make_field<Params::slot_type, Params_places__[0].inBlock>("
                      "block + Params_places__[0].offset, &Params::slot_type::theInfo);\n"
                      "  to[2] = ASN1::make_field<Params::mode_type, Params_places__[2].inBlock>("
                      "block + Params_places__[2].offset, &Params::mode_type::theInfo);\n"
                      "}\n"
                      "constexpr ASN1::FieldBlock Params_block__ = ASN1::block_of("
                      "Params_places__, Params_at__4, &Params_make__);\n", src)

    def test_additions_take_indexes_after_the_optional_root_fields(self):
        h = self.text("Demo.h")
        self.assertIn("void set_gain_level(unsigned v) { include_as<gain_level_type>(2, 4) = v; }", h)
        self.assertIn("bool flag_isPresent() const { return hasOptionalField(3); }", h)
        self.assertIn("typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, (-128), 127u> "
                      "gain_level_type;", h)
        self.assertIn("struct name {\n    typedef ASN1::SizeConstrainedString<ASN1::IA5String, "
                      "ASN1::FixedConstraint, 1, 64u> value_type;\n  };", h)

    def test_choice_record_and_tags(self):
        src = self.text("Demo_0.cpp")
        self.assertIn("const Command::InfoType Command::theInfo = {&ASN1::create_value"
                      "<::Demo::Command>, 0, true, selectionInfos, 2, 3, nullptr, "
                      "selectionNames};", src)
        h = self.text("Demo.h")
        self.assertIn("struct create { enum Id { id = 0 }; };", h)
        # A member may not carry its class's name.
        self.assertIn("struct id { enum Id { id_ = 1 }; };", h)
        self.assertIn("struct query_state { enum Id { id = 2 }; };", h)
        # Constructors that need the complete Params are out of line.
        self.assertIn("  Command(create::Id, create_type const& v);\n", h)
        self.assertIn("Command::Command(create::Id, Command::create_type const& v) : "
                      "ASN1::CHOICE(&theInfo, 0, v.clone()) {}", src)

    def test_enumeration_names_table(self):
        src = self.text("Demo_0.cpp")
        self.assertIn('const char* const Mode_enum_names__[5] = {"initial", "learn", '
                      '"speak=4", "again=4", "after"};', src)
        self.assertIn("Mode::theInfo = {&ASN1::create_value<::Demo::Mode>, 10, true, 5, "
                      "Mode_enum_names__, 5};", src)
        fwd = self.text("DemoFwd.h")
        self.assertIn("    speak = 4,\n    again = 4,\n", fwd)
        self.assertIn("class Params;\n", fwd)

    def test_registry_table(self):
        reg = self.files["protocol/RegistryTable.cpp"]
        self.assertIn('{"Demo::Command", &::Demo::Command::theInfo, '
                      '&ASN1::create_value<::Demo::Command>, TypeKind::Choice},', reg)
        self.assertLess(reg.index('"Demo::Command"'), reg.index('"Demo::Item"'))
        self.assertIn("const unsigned typeTableSize = 4;", reg)


class Refusals(unittest.TestCase):
    def refused(self, body, what):
        s = Scratch(self)
        model = am.load(s.modules(Bad=mod("Bad", body)))
        with self.assertRaises(cppgen.GenError) as cm:
            cppgen.outputs(model)
        self.assertIn(what, str(cm.exception))

    def test_a_name_that_hides_a_base_member(self):
        self.refused("C ::= CHOICE { currentSelection NULL, b NULL }",
                     "would hide the base member currentSelection")

    def test_two_members_of_one_name(self):
        self.refused("C ::= CHOICE { a INTEGER, a-type BOOLEAN }",
                     "both named a_type")

    def test_a_keyword(self):
        self.refused("E ::= ENUMERATED { default(0), other(1) }",
                     "C++ keyword")


class Run(unittest.TestCase):
    def test_list_names_what_a_run_writes_and_reruns_touch_nothing(self):
        s = Scratch(self)
        files = s.modules(Demo=DEMO)
        out = s.path("out")
        self.assertEqual(0, cppgen.main(["--out", out] + files))
        written = sorted(os.path.join(dp, f) for dp, _, fs in os.walk(out) for f in fs)
        self.assertEqual(4, len(written))
        for p in written:
            os.utime(p, ns=(1, 1))
        self.assertEqual(0, cppgen.main(["--out", out] + files))
        for p in written:
            self.assertEqual(1, os.stat(p).st_mtime_ns, p)

    def test_errors_of_the_front_end_fail_the_run(self):
        s = Scratch(self)
        files = s.modules(Bad=mod("Bad", "S ::= SEQUENCE { a Missing }"))
        self.assertEqual(1, cppgen.main(["--out", s.path("out")] + files))


if __name__ == "__main__":
    unittest.main()
