#!/usr/bin/env python3
"""Generates the type tables of the protocol modules from their ASN.1 text.

    asn1gen.py --cpp OUTDIR MODULE.asn...      C++ headers and sources, one pair per module
    asn1gen.py --asn OUTDIR MODULE.asn...      the modules re-written for an independent codec
    asn1gen.py --list OUTDIR MODULE.asn...     the files --cpp would write, one per line
    asn1gen.py --check MODULE.asn...           parse and resolve only

Errors are reported as "file:line: error: text" on stderr with exit status 1.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asn1gen.errors import SchemaError  # noqa: E402
from asn1gen.parser import load  # noqa: E402


def _write_if_changed(path, text):
    # Unchanged outputs keep their time stamps, so a touch of one .asn file does not
    # rebuild every translation unit.
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument('--cpp', metavar='OUTDIR')
    mode.add_argument('--asn', metavar='OUTDIR')
    mode.add_argument('--check', action='store_true')
    mode.add_argument('--list', metavar='OUTDIR', help='print the paths --cpp OUTDIR would write')
    ap.add_argument('sources', nargs='+')
    args = ap.parse_args(argv)
    try:
        modules = load(args.sources)
        if args.list:
            from asn1gen.cpp_writer import source_names
            for m in modules:
                for name in [m.name + '.h'] + source_names(m):
                    print(os.path.join(args.list, name))
        elif args.cpp:
            from asn1gen.cpp_writer import generate
            os.makedirs(args.cpp, exist_ok=True)
            for name, text in generate(modules):
                _write_if_changed(os.path.join(args.cpp, name), text)
        elif args.asn:
            from asn1gen.asn_writer import module_text
            os.makedirs(args.asn, exist_ok=True)
            for m in modules:
                _write_if_changed(os.path.join(args.asn, m.name + '.asn'), module_text(m, portable=True))
    except SchemaError as e:
        print(e, file=sys.stderr)
        return 1
    except OSError as e:
        print('asn1gen: %s' % e, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
