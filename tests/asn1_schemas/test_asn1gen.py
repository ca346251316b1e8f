#!/usr/bin/env python3
"""The schema generator: where it says a module is wrong, and the file list the build relies on."""

import glob
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
TOOL = os.path.join(ROOT, 'tools', 'asn1gen.py')
SCHEMAS = sorted(glob.glob(os.path.join(ROOT, 'asn1', 'schemas', '*.asn')))
sys.path.insert(0, os.path.join(ROOT, 'tools'))

from asn1gen.errors import SchemaError  # noqa: E402
from asn1gen.parser import parse, resolve  # noqa: E402
from asn1gen.cpp_writer import generate  # noqa: E402


def module(name, body, imports=''):
    return '%s DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n%s%s\nEND\n' % (name, imports, body)


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL] + list(args), capture_output=True, text=True)


class Generator(unittest.TestCase):
    def test_faulty_modules_are_refused_at_the_line_of_the_fault(self):
        other = parse('o.asn', module('O', 'T ::= NULL\n'))
        cases = [  # (text of m.asn, line, fragment of the message)
            (module('M', 'A ::= SEQUENCE {\n x Missing }\n'), 4, "undefined type 'Missing' in M::A"),
            (module('M', 'A ::= NULL\nB ::= NULL\nA ::= BOOLEAN\n'), 5, "'A' defined twice (first at line 3)"),
            (module('M', 'A ::= CHOICE {\n a NULL,\n ...,\n a BOOLEAN }\n'), 6, "component 'a' appears twice"),
            (module('M', 'A ::= ENUMERATED {\n a(0),\n a(1) }\n'), 5, "item 'a' appears twice"),
            (module('M', 'A ::= B\nB ::= A\n'), 3, 'defined only through itself'),
            (module('M', 'A ::= SEQUENCE {\n a NULL\n b NULL }\n'), 5, "expected ',' or '}' in SEQUENCE, found 'b'"),
            (module('M', 'A ::= INTEGER (5..1)\n'), 3, 'empty range 5..1'),
            (module('M', 'A ::= INTEGER (0..4294967296)\n'), 3, 'outside 32 bits'),
            (module('M', 'A ::= CHOICE { a NULL OPTIONAL }\n'), 3, 'OPTIONAL in a CHOICE alternative'),
            (module('M', 'A ::= SEQUENCE { a NULL, ..., ... }\n'), 3, 'second extension marker'),
            (module('M', 'A ::= SEQUENCE { a NULL, ..., b NULL OPTIONAL }\n'), 3, 'OPTIONAL is not allowed'),
            (module('M', 'A ::= ENUMERATED { a(0), ..., b(1) }\n'), 3, 'after the extension marker'),
            (module('M', 'A ::= SEQUENCE { a REAL }\n'), 3, "'REAL'"),
            (module('M', 'A ::= SEQUENCE { a # }\n'), 3, "unexpected character '#'"),
            (module('M', 'A ::= T\n', 'IMPORTS T FROM Nowhere;\n'), 3, 'unknown module Nowhere'),
            (module('M', 'A ::= U\n', 'IMPORTS U FROM O;\n'), 3, "module O defines no type 'U'"),
            (module('M', 'T ::= NULL\n', 'IMPORTS T FROM O;\n'), 4, 'both imported and defined'),
            ('M DEFINITIONS ::= BEGIN END\n', 1, 'AUTOMATIC TAGS'),
            ('M DEFINITIONS AUTOMATIC TAGS ::= BEGIN\nA ::= NULL\n', 3, 'expected END of module M'),
            # refused only when C++ is written
            (module('M', 'A ::= SEQUENCE {\n x SEQUENCE { y NULL } }\n'), 4, 'must be named'),
            (module('M', 'A ::= SEQUENCE {\n a-b NULL,\n a_b NULL }\n'), 5, 'give the same C++ name'),
        ]
        for text, line, fragment in cases:
            with self.subTest(text=text), self.assertRaises(SchemaError) as cm:
                mods = [parse('m.asn', text), other]
                resolve(mods)
                generate(mods)
            self.assertTrue(str(cm.exception).startswith('m.asn:%d: error: ' % line), str(cm.exception))
            self.assertIn(fragment, cm.exception.message)
        # recursion through a constructed type is a legal schema
        resolve([parse('m.asn', module('M', 'A ::= SEQUENCE { next A OPTIONAL }\n'))])

    def test_command_line_exit_status(self):
        with tempfile.TemporaryDirectory() as d:
            bad = os.path.join(d, 'Bad.asn')
            with open(bad, 'w') as f:
                f.write(module('Bad', 'A ::= SEQUENCE {\n x Nope }\n'))
            r = run_tool('--check', bad)
            self.assertEqual((r.returncode, r.stderr.strip()),
                             (1, "%s:4: error: reference to undefined type 'Nope' in Bad::A" % bad))
            r = run_tool('--check', os.path.join(d, 'missing.asn'))
            self.assertEqual(r.returncode, 1)
            self.assertIn('missing.asn', r.stderr)

    def test_list_names_exactly_what_cpp_writes_and_reruns_touch_nothing(self):
        with tempfile.TemporaryDirectory() as d:
            listed = run_tool('--list', d, *SCHEMAS).stdout.split()
            self.assertEqual(run_tool('--cpp', d, *SCHEMAS).returncode, 0)
            self.assertEqual(sorted(listed), sorted(glob.glob(os.path.join(d, '*'))))
            stamp = os.stat(os.path.join(d, 'LGCP.h')).st_mtime_ns
            run_tool('--cpp', d, *SCHEMAS)
            self.assertEqual(os.stat(os.path.join(d, 'LGCP.h')).st_mtime_ns, stamp)


if __name__ == '__main__':
    unittest.main()
