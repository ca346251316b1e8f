"""Writes the modules back as ASN.1 text, in the form another codec can compile.

The coder of this system puts an ENUMERATED's value on the wire as a whole number in
0..maximum, where X.691 puts the item's index. For an enumeration whose values are its
indexes (0, 1, 2... in order) both agree; every other enumeration is written here as the
INTEGER range that carries the same bits, so that an independent codec produces the bytes
this system must produce.
"""

from . import model
from .errors import SchemaError


def portable_name(name):
    """Underscores are not ASN.1 name characters; other codecs get hyphens instead."""
    return name.replace('_', '-')


def _check_unique(path, line, names, what):
    seen = {}
    for n in names:
        p = portable_name(n)
        if p in seen and seen[p] != n:
            raise SchemaError(path, line, '%s %r and %r have the same portable name' % (what, seen[p], n))
        seen[p] = n


def _type_text(t, indent, nm):
    if isinstance(t, model.Builtin):
        if t.kind == 'INTEGER' and t.constrained:
            return 'INTEGER (%d..%d)' % (t.lower, t.upper)
        if t.kind == 'IA5String' and t.constrained:
            return 'IA5String (SIZE (%d..%d))' % (t.lower, t.upper)
        return t.kind
    if isinstance(t, model.Reference):
        return nm(t.name)
    if isinstance(t, model.SequenceOf):
        return '%s %s' % (t.kind, _type_text(t.element, indent, nm))
    if isinstance(t, model.Enumerated):
        if t.dense or nm is not portable_name:
            items = ['%s(%d)' % (nm(i.name), i.value) for i in t.items]
            if t.extendable:
                items.append('...')
            return 'ENUMERATED { %s }' % ', '.join(items)
        return 'INTEGER (0..%d%s)' % (t.maximum, ', ...' if t.extendable else '')
    if isinstance(t, model.Constructed):
        pad = '    ' * (indent + 1)
        lines = ['%s%s %s%s' % (pad, nm(c.name), _type_text(c.type, indent + 1, nm), ' OPTIONAL' if c.optional else '')
                 for c in t.root]
        if t.extendable:
            lines.append(pad + '...')
            lines += ['%s%s %s' % (pad, nm(c.name), _type_text(c.type, indent + 1, nm)) for c in t.additions]
        if not lines:
            return '%s { }' % t.kind
        return '%s {\n%s\n%s}' % (t.kind, ',\n'.join(lines), '    ' * indent)
    raise TypeError(t)


def _check_module(m):
    _check_unique(m.path, m.line, [a.name for a in m.assignments] + list(m.imports), 'types')
    for a in m.assignments:
        stack = [a.type]
        while stack:
            t = stack.pop()
            if isinstance(t, model.Constructed):
                _check_unique(m.path, t.line, [c.name for c in t.components], 'components')
                stack += [c.type for c in t.components]
            elif isinstance(t, model.Enumerated):
                _check_unique(m.path, t.line, [i.name for i in t.items], 'items')
            elif isinstance(t, model.SequenceOf):
                stack.append(t.element)


def module_text(m, portable=False):
    """The module as ASN.1 text; portable: names without underscores, sparse enumerations as INTEGER."""
    if portable:
        _check_module(m)
        nm = portable_name
    else:
        nm = str
    out = ['%s DEFINITIONS AUTOMATIC TAGS ::=' % m.name, 'BEGIN', '']
    if m.imports:
        out.append('IMPORTS')
        for i, source in enumerate(m.import_order):
            names = sorted(n for n, (s, _) in m.imports.items() if s == source)
            out.append('    %s FROM %s%s' % (', '.join(nm(n) for n in names), source, ';' if i == len(m.import_order) - 1 else ''))
        out.append('')
    for a in m.assignments:
        out.append('%s ::= %s' % (nm(a.name), _type_text(a.type, 0, nm)))
        out.append('')
    out.append('END')
    return '\n'.join(out) + '\n'
