#!/usr/bin/env python3
"""Regenerates tests/asn1_schemas/fixtures/per_vectors.txt with Erlang/OTP's asn1 (aligned PER).

The modules are handed to Erlang as asn1gen writes them for other codecs; the reference
values of schemas_vectors.py are checked against the schema, turned into Erlang terms,
encoded by the code asn1ct generates, and written one per line as "name Module::Type hex".
Needs erlc and erl (Debian: erlang-asn1); the unit tests that read the fixture do not.
"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools'))
sys.path.insert(0, HERE)

from asn1gen import model  # noqa: E402
from asn1gen.asn_writer import module_text, portable_name  # noqa: E402
from asn1gen.parser import load  # noqa: E402
import schemas_vectors  # noqa: E402

FIXTURE = os.path.join(ROOT, 'tests', 'asn1_schemas', 'fixtures', 'per_vectors.txt')


class ValueError_(Exception):
    pass


def _atom(name):
    return "'%s'" % portable_name(name).replace('\\', '\\\\').replace("'", "\\'")


def _resolve(t):
    while isinstance(t, model.Reference):
        t = t.target.type
    return t


def term(t, v, where):
    """The Erlang term (maps form) of value v of type t; where names the place for errors."""
    t = _resolve(t)

    def bad(why):
        raise ValueError_('%s: %s' % (where, why))
    if isinstance(t, model.Builtin):
        if t.kind == 'NULL':
            if v is not None:
                bad('NULL takes None')
            return "'NULL'"
        if t.kind == 'BOOLEAN':
            if not isinstance(v, bool):
                bad('BOOLEAN takes a bool')
            return 'true' if v else 'false'
        if t.kind == 'INTEGER':
            if not isinstance(v, int) or isinstance(v, bool):
                bad('INTEGER takes an int')
            if t.constrained and not t.lower <= v <= t.upper:
                bad('%d outside %d..%d' % (v, t.lower, t.upper))
            if not t.constrained and not -2**31 <= v < 2**31:
                bad('%d does not fit 32 bits' % v)
            return str(v)
        if t.kind == 'OCTET STRING':
            if not isinstance(v, bytes):
                bad('OCTET STRING takes bytes')
            return '<<%s>>' % ','.join(str(b) for b in v)
        if t.kind == 'IA5String':
            if not isinstance(v, str) or any(ord(c) > 127 for c in v):
                bad('IA5String takes ASCII text')
            if t.constrained and not t.lower <= len(v) <= t.upper:
                bad('size %d outside %d..%d' % (len(v), t.lower, t.upper))
            return '[%s]' % ','.join(str(ord(c)) for c in v)
    if isinstance(t, model.Enumerated):
        items = {i.name: i.value for i in t.items}
        if v not in items:
            bad('%r is no item of the enumeration' % (v,))
        return _atom(v) if t.dense else str(items[v])
    if isinstance(t, model.SequenceOf):
        if not isinstance(v, list):
            bad('SEQUENCE OF takes a list')
        return '[%s]' % ','.join(term(t.element, e, '%s[%d]' % (where, n)) for n, e in enumerate(v))
    if isinstance(t, model.Constructed) and t.kind == 'CHOICE':
        if not (isinstance(v, tuple) and len(v) == 2):
            bad('CHOICE takes (alternative, value)')
        alt = {c.name: c for c in t.components}.get(v[0])
        if alt is None:
            bad('no alternative %r' % (v[0],))
        return '{%s,%s}' % (_atom(alt.name), term(alt.type, v[1], '%s.%s' % (where, alt.name)))
    if isinstance(t, model.Constructed):
        if not isinstance(v, dict):
            bad('SEQUENCE takes a dict')
        names = {c.name for c in t.components}
        for k in v:
            if k not in names:
                bad('no field %r' % k)
        parts = []
        for c in t.components:
            optional = c.optional or c in t.additions
            if c.name not in v:
                if not optional:
                    bad('mandatory field %r missing' % c.name)
                continue
            parts.append('%s=>%s' % (_atom(c.name), term(c.type, v[c.name], '%s.%s' % (where, c.name))))
        return '#{%s}' % ','.join(parts)
    bad('unsupported type %r' % t)


def _build_order(modules):
    done, order = set(), []

    def visit(m):
        if m.name in done:
            return
        done.add(m.name)
        for dep in m.import_order:
            visit(by_name[dep])
        order.append(m)
    by_name = {m.name: m for m in modules}
    for m in modules:
        visit(m)
    return order


def main():
    schemas = sorted(os.path.join(ROOT, 'asn1', 'schemas', f)
                     for f in os.listdir(os.path.join(ROOT, 'asn1', 'schemas')) if f.endswith('.asn'))
    modules = load(schemas)
    by_name = {m.name: m for m in modules}
    lines = []
    for name, top, value in schemas_vectors.VECTORS:
        mod, typ = top.split('::')
        t = by_name[mod].lookup(typ).type
        lines.append('    {"%s", "%s", %s, %s, %s}' % (name, top, _atom(mod), _atom(typ), term(t, value, name)))
    with tempfile.TemporaryDirectory() as d:
        for m in _build_order(modules):
            src = os.path.join(d, m.name + '.asn')
            with open(src, 'w') as f:
                f.write(module_text(m, portable=True))
            subprocess.run(['erlc', '-bper', '+maps', '-I', d, '-o', d, src], check=True, cwd=d)
        with open(os.path.join(d, 'vectors.erl'), 'w') as f:
            f.write('-module(vectors).\n-export([run/0]).\n'
                    'run() ->\n  lists:foreach(fun({N, T, M, Ty, V}) ->\n'
                    '    {ok, B} = M:encode(Ty, V),\n'
                    '    {ok, V} = M:decode(Ty, B),\n'
                    '    io:format("~s ~s ~s~n", [N, T, [io_lib:format("~2.16.0B", [X]) || <<X>> <= B]])\n'
                    '  end, [\n%s\n  ]).\n' % ',\n'.join(lines))
        subprocess.run(['erlc', '-o', d, os.path.join(d, 'vectors.erl')], check=True, cwd=d)
        out = subprocess.run(['erl', '-noshell', '-pa', d, '-eval', 'vectors:run(), halt().'],
                             check=True, cwd=d, capture_output=True, text=True).stdout
    rows = [ln for ln in out.splitlines() if ln.strip()]
    if len(rows) != len(schemas_vectors.VECTORS):
        sys.exit('erl produced %d vectors of %d:\n%s' % (len(rows), len(schemas_vectors.VECTORS), out))
    os.makedirs(os.path.dirname(FIXTURE), exist_ok=True)
    with open(FIXTURE, 'w') as f:
        f.write('# Aligned PER encodings made by Erlang/OTP asn1 from the protocol modules.\n'
                '# Regenerate with tools/erlang/schemas_fixture.py; one vector per line:\n'
                '# name Module::Type hex\n')
        for row in rows:
            name, top, hexed = row.split(' ')
            f.write('%s %s %s\n' % (name, top, hexed.lower()))
    print('%d vectors written to %s' % (len(rows), os.path.relpath(FIXTURE, ROOT)))


if __name__ == '__main__':
    try:
        main()
    except ValueError_ as e:
        sys.exit('schemas_fixture: bad reference value: %s' % e)
