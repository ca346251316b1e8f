#!/usr/bin/env python3
"""Tests of the schema generator: what it accepts, and where it says a schema is wrong."""

import glob
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
TOOL = os.path.join(ROOT, 'tools', 'asn1gen.py')
SCHEMAS = sorted(glob.glob(os.path.join(ROOT, 'asn1', 'schemas', '*.asn')))
sys.path.insert(0, os.path.join(ROOT, 'tools'))

from asn1gen.errors import SchemaError  # noqa: E402
from asn1gen.parser import load, parse, resolve  # noqa: E402
from asn1gen.asn_writer import module_text  # noqa: E402
from asn1gen import model  # noqa: E402


def module(name, body, imports=''):
    return 'M DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n%s%s\nEND\n'.replace('M', name, 1) % (imports, textwrap.dedent(body))


class Errors(unittest.TestCase):
    """Every error names the file and the line of the fault."""

    def fails(self, text, line, fragment, path='m.asn', others=()):
        with self.assertRaises(SchemaError) as cm:
            mods = [parse(path, text)] + [parse('o%d.asn' % i, t) for i, t in enumerate(others)]
            resolve(mods)
        e = cm.exception
        self.assertEqual((e.path, e.line), (path, line), str(e))
        self.assertIn(fragment, e.message)
        self.assertTrue(str(e).startswith('%s:%d: error: ' % (path, line)), str(e))

    def test_faults_in_one_module(self):
        cases = [
            ('A ::= SEQUENCE {\n x Missing }\n', 4, "undefined type 'Missing' in M::A"),
            ('A ::= NULL\nB ::= CHOICE {\n y NULL,\n z SEQUENCE OF Absent }\n', 6, "undefined type 'Absent' in M::B"),
            ('A ::= NULL\nB ::= NULL\nA ::= BOOLEAN\n', 5, "'A' defined twice (first at line 3)"),
            ('A ::= SEQUENCE {\n a NULL,\n b NULL,\n a BOOLEAN }\n', 6, "component 'a' appears twice"),
            ('A ::= CHOICE {\n a NULL,\n ...,\n a BOOLEAN }\n', 6, "component 'a' appears twice"),
            ('A ::= ENUMERATED {\n a(0),\n a(1) }\n', 5, "item 'a' appears twice"),
            ('A ::= B\nB ::= A\n', 3, 'defined only through itself'),
            ('A NULL\n', 3, "expected '::=' after type name 'A'"),
            ('A ::= SEQUENCE {\n a NULL\n b NULL }\n', 5, "expected ',' or '}' in SEQUENCE, found 'b'"),
            ('A ::= INTEGER (5..1)\n', 3, 'empty range 5..1'),
            ('A ::= INTEGER (0..4294967296)\n', 3, 'outside 32 bits'),
            ('A ::= IA5String (1..4)\n', 3, "expected 'SIZE'"),
            ('A ::= CHOICE { a NULL OPTIONAL }\n', 3, 'OPTIONAL in a CHOICE alternative'),
            ('A ::= SEQUENCE { a NULL, ..., ... }\n', 3, 'second extension marker'),
            ('A ::= SEQUENCE { a NULL, ..., b NULL OPTIONAL }\n', 3, 'OPTIONAL is not allowed'),
            ('A ::= CHOICE { ... }\n', 3, 'CHOICE without root alternatives'),
            ('A ::= ENUMERATED { a }\n', 3, "expected '(' and a value after item 'a'"),
            ('A ::= ENUMERATED { a(0), ..., b(1) }\n', 3, 'after the extension marker'),
            ('A ::= SEQUENCE { B NULL }\n', 3, "component name 'B' must start with a lower-case letter"),
            ('a ::= NULL\n', 3, "type name 'a' must start with an upper-case letter"),
            ('A ::= SEQUENCE { a REAL }\n', 3, "'REAL'"),
            ('A ::= SEQUENCE { a # }\n', 3, "unexpected character '#'"),
            ('A ::= SET { a NULL }\n', 3, 'SET is not supported'),
            ('A ::= SEQUENCE { a-- NULL }\n', 3, 'malformed name'),
        ]
        for body, line, fragment in cases:
            with self.subTest(body=body):
                self.fails(module('M', body), line, fragment)
        # recursion through a constructed type is a legal schema
        resolve([parse('m.asn', module('M', 'A ::= SEQUENCE { next A OPTIONAL }\n'))])

    def test_faults_between_modules_and_in_the_frame(self):
        other = [module('O', 'T ::= NULL\n')]
        self.fails(module('M', 'A ::= T\n', 'IMPORTS T FROM Nowhere;\n'), 3, 'unknown module Nowhere', others=other)
        self.fails(module('M', 'A ::= U\n', 'IMPORTS U FROM O;\n'), 3, "module O defines no type 'U'", others=other)
        self.fails(module('M', 'A ::= T\n', 'IMPORTS T,\n T FROM O;\n'), 4, "imported twice", others=other)
        self.fails(module('M', 'T ::= NULL\n', 'IMPORTS T FROM O;\n'), 4, 'both imported and defined', others=other)
        with self.assertRaises(SchemaError) as cm:
            resolve([parse('a.asn', module('M', 'A ::= NULL\n')), parse('b.asn', module('M', 'B ::= NULL\n'))])
        self.assertIn('module M defined twice', str(cm.exception))
        self.fails('M DEFINITIONS ::= BEGIN END\n', 1, 'AUTOMATIC TAGS')
        self.fails('M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nA ::= NULL\n', 3, 'expected END of module M, found end of file')
        self.fails('M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nEND\nX\n', 3, "unexpected 'X' after END")


class CppOutput(unittest.TestCase):
    def generate(self, body):
        from asn1gen.cpp_writer import generate
        mods = [parse('g.asn', module('G', body))]
        resolve(mods)
        return dict(generate(mods))

    def test_inner_types_without_names_and_clashing_names_are_refused(self):
        for body, line, fragment in [('A ::= SEQUENCE {\n x SEQUENCE { y NULL } }\n', 4, 'must be named'),
                                     ('A ::= CHOICE {\n x NULL,\n y ENUMERATED { a(0) } }\n', 5, 'must be named'),
                                     ('A ::= SEQUENCE {\n x SEQUENCE OF\n CHOICE { a NULL } }\n', 5, 'must be named'),
                                     ('A ::= SEQUENCE {\n x SEQUENCE OF IA5String (SIZE (1..2)) }\n', 4, 'must be named'),
                                     ('A ::= SEQUENCE {\n a-b NULL,\n a_b NULL }\n', 5, 'give the same C++ name'),
                                     ('E ::= ENUMERATED {\n x-y(0),\n x_y(1) }\n', 5, 'give the same C++ name')]:
            with self.subTest(body=body), self.assertRaises(SchemaError) as cm:
                self.generate(body)
            self.assertEqual((cm.exception.path, cm.exception.line), ('g.asn', line), str(cm.exception))
            self.assertIn(fragment, cm.exception.message)

    def test_enumeration_names_table_and_identifiers(self):
        files = self.generate('E ::= ENUMERATED { not-use(-1), active(0), delete(1), fake(255), min(0), ... }\n')
        self.assertIn('"not-use=-1", "active", "delete", "fake=255", "min=0"', files['G.cpp'])
        self.assertIn('{&ASN1::createAs<E>, 10}, true, 255,', files['G.cpp'])
        self.assertIn('delete_ = 1', files['G.h'])
        self.assertIn('not_use = -1', files['G.h'])


class CommandLine(unittest.TestCase):
    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL] + list(args), capture_output=True, text=True)

    def test_error_exit_status_and_message(self):
        with tempfile.TemporaryDirectory() as d:
            bad = os.path.join(d, 'Bad.asn')
            with open(bad, 'w') as f:
                f.write(module('Bad', 'A ::= SEQUENCE {\n x Nope }\n'))
            r = self.run_tool('--check', bad)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stderr.strip(), "%s:4: error: reference to undefined type 'Nope' in Bad::A" % bad)
            r = self.run_tool('--check', os.path.join(d, 'missing.asn'))
            self.assertEqual(r.returncode, 1)
            self.assertIn('missing.asn', r.stderr)

    def test_list_names_exactly_what_cpp_writes(self):
        with tempfile.TemporaryDirectory() as d:
            listed = self.run_tool('--list', d, *SCHEMAS).stdout.split()
            self.assertEqual(self.run_tool('--cpp', d, *SCHEMAS).returncode, 0)
            self.assertEqual(sorted(listed), sorted(glob.glob(os.path.join(d, '*'))))
            self.assertIn(os.path.join(d, 'LGCP.h'), listed)
            # a second run leaves unchanged files untouched
            stamp = os.stat(os.path.join(d, 'LGCP.h')).st_mtime_ns
            self.run_tool('--cpp', d, *SCHEMAS)
            self.assertEqual(os.stat(os.path.join(d, 'LGCP.h')).st_mtime_ns, stamp)


class ProtocolModules(unittest.TestCase):
    """Properties of the transcribed modules that change bits on the wire."""

    @classmethod
    def setUpClass(cls):
        cls.mods = {m.name: m for m in load(SCHEMAS)}

    def type(self, q):
        mod, name = q.split('::')
        return self.mods[mod].lookup(name).type

    def test_alternative_and_field_counts(self):
        for q, root, ext in [('LGCP::Command', 15, True), ('LGCP::Signal', 23, True), ('LGCP::IoctlParams', 38, True),
                             ('LGCP::CreateParams', 19, True), ('LGCP::DisplayParams', 7, True), ('LGCP::PDU', 3, False),
                             ('LGCP::Response', 2, False), ('MON::Command', 4, True), ('MON::Response', 4, True),
                             ('MON::Signal', 1, True), ('LEMZGW::ProtoLemzPacketPayload', 66, True)]:
            t = self.type(q)
            self.assertEqual((len(t.root), t.extendable, len(t.additions)), (root, ext, 0), q)
        tonec = self.type('LGCP::TonecCode')
        self.assertEqual([c.name for c in tonec.additions], ['dtmfDone'])
        rtp = self.type('TERM::RtpParams')
        self.assertEqual((len(rtp.root), sum(c.optional for c in rtp.root)), (14, 12))
        self.assertEqual((rtp.root[3].type.lower, rtp.root[3].type.upper), (1, 64))

    def test_enumerations(self):
        for q, maximum, ext, dense in [('LGCP::ErrorCause', 12, True, True), ('LGCP::POWERStatus', 3, False, True),
                                       ('TERM::IpQoSDSCP', 56, False, False), ('TERM::RadioStandby', 1, False, False),
                                       ('TERM::ED137CauseCode', 2099, True, False),
                                       ('LEMZGW::ProtoLemzMsgID', 13056, True, False),
                                       ('LEMZGW::ProtoLemzAnalogGainIDV1', 255, True, False)]:
            t = self.type(q)
            self.assertEqual((t.maximum, t.extendable, t.dense), (maximum, ext, dense), q)
        self.assertEqual(len(self.type('LEMZGW::ProtoLemzMsgID').items), 66)
        payload = self.type('LEMZGW::ProtoLemzPacketPayload')
        ids = sorted(self.type('LEMZGW::ProtoLemzMsgID').items, key=lambda i: i.value)
        self.assertEqual([c.name for c in payload.root], [i.name for i in ids])

    def test_portable_copy(self):
        term = module_text(self.mods['TERM'], portable=True)
        self.assertIn('IpQoSDSCP ::= INTEGER (0..56)\n', term)
        self.assertIn('ED137CauseCode ::= INTEGER (0..2099, ...)\n', term)
        self.assertIn('ModemParams ::= SEQUENCE', term)
        lgcp = module_text(self.mods['LGCP'], portable=True)
        self.assertIn('ErrorCause ::= ENUMERATED { invalidParams(0),', lgcp)
        self.assertIn('MixerResources-subtype ::= SEQUENCE', lgcp)
        self.assertNotIn('_', lgcp)
        # the plain copy is the schema itself and parses back to the same shape
        again = parse('again.asn', module_text(self.mods['LGCP']))
        self.assertEqual([a.name for a in again.assignments], [a.name for a in self.mods['LGCP'].assignments])

    def test_portable_name_clash_is_reported(self):
        m = parse('c.asn', module('C', 'A ::= SEQUENCE {\n a_b NULL,\n a-b NULL }\n'))
        with self.assertRaises(SchemaError) as cm:
            module_text(m, portable=True)
        self.assertIn("'a_b' and 'a-b' have the same portable name", str(cm.exception))


if __name__ == '__main__':
    unittest.main()
