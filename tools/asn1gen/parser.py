"""Recursive-descent parser of the module text into the model."""

from .errors import SchemaError
from .lexer import tokenize
from . import model

_BUILTIN_WORDS = {'NULL', 'BOOLEAN', 'INTEGER', 'OCTET', 'IA5String', 'SEQUENCE', 'SET',
                  'CHOICE', 'ENUMERATED'}
_RESERVED = _BUILTIN_WORDS | {'DEFINITIONS', 'AUTOMATIC', 'TAGS', 'BEGIN', 'END', 'IMPORTS',
                              'FROM', 'OPTIONAL', 'OF', 'STRING', 'SIZE'}
_UINT_MAX = 0xFFFFFFFF
_INT_MIN = -0x80000000


class _Parser:
    def __init__(self, path, text):
        self.path = path
        self.tokens = tokenize(path, text)
        self.pos = 0

    # -- token helpers
    def peek(self, offset=0):
        return self.tokens[min(self.pos + offset, len(self.tokens) - 1)]

    def next(self):
        tok = self.tokens[self.pos]
        if tok.kind != 'end':
            self.pos += 1
        return tok

    def error(self, tok, message):
        return SchemaError(self.path, tok.line, message)

    def describe(self, tok):
        return 'end of file' if tok.kind == 'end' else repr(tok.text)

    def expect(self, text, what=None):
        tok = self.next()
        if tok.text != text or tok.kind == 'end':
            raise self.error(tok, 'expected %s, found %s' % (what or repr(text), self.describe(tok)))
        return tok

    def accept(self, text):
        if self.peek().text == text and self.peek().kind != 'end':
            return self.next()
        return None

    def name(self, what, upper=None):
        tok = self.next()
        if tok.kind != 'word' or tok.text in _RESERVED:
            raise self.error(tok, 'expected %s, found %s' % (what, self.describe(tok)))
        if upper is True and not tok.text[0].isupper():
            raise self.error(tok, '%s %r must start with an upper-case letter' % (what, tok.text))
        if upper is False and not tok.text[0].islower():
            raise self.error(tok, '%s %r must start with a lower-case letter' % (what, tok.text))
        return tok

    def number(self, what):
        tok = self.next()
        if tok.kind != 'number':
            raise self.error(tok, 'expected %s, found %s' % (what, self.describe(tok)))
        return int(tok.text)

    # -- grammar
    def module(self):
        head = self.name('module name', upper=True)
        mod = model.Module(self.path, head.line, head.text)
        self.expect('DEFINITIONS')
        if self.accept('AUTOMATIC'):
            self.expect('TAGS')
        else:
            raise self.error(self.peek(), 'modules must use AUTOMATIC TAGS')
        self.expect('::=')
        self.expect('BEGIN')
        if self.accept('IMPORTS'):
            self.imports(mod)
        while self.peek().text != 'END' or self.peek().kind == 'end':
            if self.peek().kind == 'end':
                raise self.error(self.peek(), 'expected END of module %s, found end of file' % mod.name)
            self.assignment(mod)
        self.expect('END')
        if self.peek().kind != 'end':
            raise self.error(self.peek(), 'unexpected %s after END' % self.describe(self.peek()))
        return mod

    def imports(self, mod):
        while True:
            names = [self.name('imported type name', upper=True)]
            while self.accept(','):
                names.append(self.name('imported type name', upper=True))
            self.expect('FROM')
            source = self.name('module name', upper=True)
            if source.text == mod.name:
                raise self.error(source, 'module %s imports from itself' % mod.name)
            if source.text not in mod.import_order:
                mod.import_order.append(source.text)
            for n in names:
                if n.text in mod.imports:
                    raise self.error(n, 'type %r imported twice' % n.text)
                mod.imports[n.text] = (source.text, n.line)
            if self.accept(';'):
                return

    def assignment(self, mod):
        tok = self.name('type name', upper=True)
        self.expect('::=', "'::=' after type name %r" % tok.text)
        type_ = self.type()
        if tok.text in mod.by_name:
            raise self.error(tok, 'type %r defined twice (first at line %d)'
                             % (tok.text, mod.by_name[tok.text].line))
        if tok.text in mod.imports:
            raise self.error(tok, 'type %r is both imported and defined' % tok.text)
        a = model.Assignment(mod, tok.line, tok.text, type_)
        mod.assignments.append(a)
        mod.by_name[tok.text] = a

    def type(self):
        tok = self.peek()
        word = tok.text if tok.kind == 'word' else None
        if word in ('NULL', 'BOOLEAN'):
            self.next()
            return model.Builtin(tok.line, word)
        if word == 'INTEGER':
            self.next()
            lo, hi = self.range_constraint(tok, size=False)
            return model.Builtin(tok.line, 'INTEGER', lo, hi)
        if word == 'OCTET':
            self.next()
            self.expect('STRING', "'STRING' after 'OCTET'")
            return model.Builtin(tok.line, 'OCTET STRING')
        if word == 'IA5String':
            self.next()
            lo, hi = self.range_constraint(tok, size=True)
            return model.Builtin(tok.line, 'IA5String', lo, hi)
        if word in ('SEQUENCE', 'SET'):
            self.next()
            if self.accept('OF'):
                return model.SequenceOf(tok.line, word + ' OF', self.type())
            if word == 'SET':
                raise self.error(tok, 'SET is not supported; use SEQUENCE')
            return self.constructed(tok, 'SEQUENCE')
        if word == 'CHOICE':
            self.next()
            return self.constructed(tok, 'CHOICE')
        if word == 'ENUMERATED':
            self.next()
            return self.enumerated(tok)
        if tok.kind == 'word' and tok.text not in _RESERVED and tok.text[0].isupper():
            self.next()
            return model.Reference(tok.line, tok.text)
        raise self.error(tok, 'expected a type, found %s' % self.describe(tok))

    def range_constraint(self, owner, size):
        if not self.accept('('):
            return None, None
        if size:
            self.expect('SIZE', "'SIZE' in the constraint of %s" % owner.text)
            self.expect('(')
        start = self.peek()
        lo = self.number('lower bound')
        self.expect('..', "'..' between the bounds")
        hi = self.number('upper bound')
        self.expect(')')
        if size:
            self.expect(')')
        if lo > hi:
            raise self.error(start, 'empty range %d..%d' % (lo, hi))
        if size and lo < 0:
            raise self.error(start, 'negative size bound %d' % lo)
        if lo < _INT_MIN or hi > _UINT_MAX:
            raise self.error(start, 'bound outside 32 bits in %d..%d' % (lo, hi))
        if lo > 0x7FFFFFFF:
            raise self.error(start, 'lower bound %d does not fit a signed 32-bit word' % lo)
        return lo, hi

    def constructed(self, head, kind):
        self.expect('{', "'{' after %s" % kind)
        root, additions = [], []
        names = {}
        if self.accept('}'):
            raise self.error(head, 'empty %s' % kind)

        def element(extendable):
            comp = self.component(kind)
            if comp.name in names:
                raise self.error_at(comp.line, '%s component %r appears twice' % (kind, comp.name))
            names[comp.name] = comp
            if extendable and comp.optional and kind == 'SEQUENCE':
                raise self.error_at(comp.line, 'extension addition %r is optional already; '
                                    'OPTIONAL is not allowed there' % comp.name)
            (additions if extendable else root).append(comp)

        extendable = self.extensible_list(kind, element)
        if kind == 'CHOICE' and not root:
            raise self.error(head, 'CHOICE without root alternatives')
        return model.Constructed(head.line, kind, root, extendable, additions)

    def extensible_list(self, what, element):
        """Reads elements separated by ',' up to the closing '}', with at most one extension
        marker among them; element(extendable) reads one element, extendable telling whether
        the marker came before it. Returns whether there was a marker."""
        extendable = False
        while True:
            if self.peek().text == '...':
                tok = self.next()
                if extendable:
                    raise self.error(tok, 'second extension marker')
                extendable = True
            else:
                element(extendable)
            if self.accept('}'):
                return extendable
            self.expect(',', "',' or '}' in %s" % what)

    def error_at(self, line, message):
        return SchemaError(self.path, line, message)

    def component(self, kind):
        tok = self.name('component name', upper=False)
        type_ = self.type()
        optional = False
        if self.peek().text == 'OPTIONAL':
            opt = self.next()
            if kind != 'SEQUENCE':
                raise self.error(opt, 'OPTIONAL in a %s alternative' % kind)
            optional = True
        return model.Component(tok.line, tok.text, type_, optional)

    def enumerated(self, head):
        self.expect('{', "'{' after ENUMERATED")
        items, names = [], set()

        def element(extendable):
            if extendable:
                raise self.error(self.peek(), 'enumeration items after the extension marker '
                                 'are not supported')
            tok = self.name('enumeration item', upper=False)
            self.expect('(', "'(' and a value after item %r" % tok.text)
            value = self.number('enumeration value')
            self.expect(')')
            if tok.text in names:
                raise self.error(tok, 'enumeration item %r appears twice' % tok.text)
            if not _INT_MIN <= value <= 0x7FFFFFFF:
                raise self.error(tok, 'value %d of %r does not fit 32 bits' % (value, tok.text))
            names.add(tok.text)
            items.append(model.Item(tok.line, tok.text, value))

        extendable = self.extensible_list('ENUMERATED', element)
        if not items:
            raise self.error(head, 'ENUMERATED without items')
        return model.Enumerated(head.line, items, extendable)


def parse(path, text):
    return _Parser(path, text).module()


def _walk(type_):
    """Every Reference inside a type, depth first."""
    if isinstance(type_, model.Reference):
        yield type_
    elif isinstance(type_, model.SequenceOf):
        yield from _walk(type_.element)
    elif isinstance(type_, model.Constructed):
        for c in type_.components:
            yield from _walk(c.type)


def resolve(modules):
    """Binds every reference to its assignment; raises SchemaError for a name that is not defined."""
    by_name = {}
    for m in modules:
        if m.name in by_name:
            raise SchemaError(m.path, m.line, 'module %s defined twice (also in %s)'
                              % (m.name, by_name[m.name].path))
        by_name[m.name] = m
    for m in modules:
        for name, (source, line) in m.imports.items():
            src = by_name.get(source)
            if src is None:
                raise SchemaError(m.path, line, 'type %r imported from unknown module %s' % (name, source))
            if src.lookup(name) is None:
                raise SchemaError(m.path, line, 'module %s defines no type %r' % (source, name))
        for a in m.assignments:
            for ref in _walk(a.type):
                target = m.lookup(ref.name)
                if target is None and ref.name in m.imports:
                    target = by_name[m.imports[ref.name][0]].lookup(ref.name)
                if target is None:
                    raise SchemaError(m.path, ref.line, 'reference to undefined type %r in %s'
                                      % (ref.name, a.qualified))
                ref.target = target
    # A type that is only a reference to itself (directly or through other plain references)
    # has no content to build.
    for m in modules:
        for a in m.assignments:
            seen = []
            t = a
            while isinstance(t.type, model.Reference):
                if t in seen:
                    raise SchemaError(m.path, a.line, 'type %s is defined only through itself' % a.qualified)
                seen.append(t)
                t = t.type.target
    return by_name


def load(paths):
    modules = []
    for p in paths:
        with open(p, encoding='utf-8') as f:
            modules.append(parse(p, f.read()))
    resolve(modules)
    return modules
