"""Writes the C++ classes and constant info records of the modules.

Each module M gives M.h (classes in namespace M) and M.cpp (records, name tables and the
accessors). A class derives from the runtime class of its kind and is bound to its record:
the record's factory builds an object of the schema class, so typed access to a value made
by a decoder is a sound downcast.
"""

from . import model
from .errors import SchemaError

_KEYWORDS = set('''alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t
char16_t char32_t class compl concept const consteval constexpr constinit const_cast continue co_await
co_return co_yield decltype default delete do double dynamic_cast else enum explicit export extern false
float for friend goto if inline int long mutable namespace new noexcept not not_eq nullptr operator or
or_eq private protected public register reinterpret_cast requires return short signed sizeof static
static_assert static_cast struct switch template this thread_local throw true try typedef typeid typename
union unsigned using virtual void volatile wchar_t while xor xor_eq NULL EOF'''.split())
# Members of the runtime classes that an enumerator or nested name must not hide.
_MEMBERS = {'info', 'infoRecord', 'compare', 'clone', 'accept', 'isValid', 'isStrictlyValid', 'asInt',
            'getValue', 'setValue', 'setFromInt', 'getMaximum', 'extendable', 'getName', 'setFromName',
            'nameOf', 'theInfo', 'NamedNumber', 'Choice', 'field', 'fieldAt', 'getField', 'setField',
            'selection', 'swap', 'asNamedNumber', 'getID', 'setID', 'getSelection', 'setSelection',
            'createSelection', 'currentSelection', 'numSlots', 'optionalMap', 'extensionMap',
            'hasOptionalField', 'includeOptionalField', 'removeOptionalField'}

_TAGS = {'SEQUENCE': 16, 'CHOICE': 0, 'ENUMERATED': 10}


def ident(name):
    """A schema name as a C++ identifier: hyphens become underscores, keywords get a trailing one."""
    s = name.replace('-', '_')
    if s in _KEYWORDS or s in _MEMBERS:
        s += '_'
    return s


def _target(t):
    """Follows references to the type that carries content."""
    while isinstance(t, model.Reference):
        t = t.target.type
    return t


class _Field:
    """How one component is held: its class, its record and how a setter stores into it."""

    def __init__(self, cls, record, arg=None, store=None, nested=None):
        self.cls = cls          # C++ class of the value object
        self.record = record    # expression of its info record
        self.arg = arg          # setter argument type; None: set_x() only selects or includes
        self.store = store      # how to store the argument into a reference named r
        self.nested = nested    # (name, lower, upper) of an inline string subtype class


class _Writer:
    def __init__(self, modules):
        self.modules = modules
        for m in modules:
            for a in m.assignments:
                self.check_identifiers(m, a)

    def check_identifiers(self, mod, a):
        """Two schema names that become one C++ name would make accessors or enumerators clash."""
        t = a.type
        if isinstance(t, model.Enumerated):
            names = [(i.name, i.line) for i in t.items]
        elif isinstance(t, model.Constructed):
            names = [(c.name, c.line) for c in t.components]
        else:
            return
        seen = {}
        for name, line in names:
            key = ident(name)
            if key in seen:
                raise SchemaError(mod.path, line, '%r and %r of %s::%s give the same C++ name %s'
                                  % (seen[key], name, mod.name, a.name, key))
            seen[key] = name

    def error(self, mod, line, message):
        return SchemaError(mod.path, line, message)

    def qualified(self, a):
        return '%s::%s' % (a.module.name, a.name)

    def field_of(self, mod, owner, comp_name, t, line):
        if isinstance(t, model.Builtin):
            if t.kind == 'NULL':
                return _Field('ASN1::Null', '&ASN1::Null::theInfo')
            if t.kind == 'BOOLEAN':
                return _Field('ASN1::BOOLEAN', '&ASN1::BOOLEAN::theInfo', 'bool', 'r.setValue(v);')
            if t.kind == 'INTEGER':
                if not t.constrained:
                    return _Field('ASN1::INTEGER', '&ASN1::INTEGER::theInfo', 'int', 'r.setValue(v);')
                cls = 'ASN1::Constrained_INTEGER<ASN1::FixedConstraint, %d, %du>' % (t.lower, t.upper)
                if t.lower >= 0:
                    return _Field(cls, '&%s::theInfo' % cls, 'unsigned int', 'r = v;')
                return _Field(cls, '&%s::theInfo' % cls, 'int', 'r.setValue(v);')
            if t.kind == 'OCTET STRING':
                return _Field('ASN1::OCTET_STRING', '&ASN1::OCTET_STRING::theInfo', 'const std::string&', 'r = v;')
            if t.kind == 'IA5String':
                if not t.constrained:
                    return _Field('ASN1::IA5String', '&ASN1::IA5String::theInfo', 'const std::string&', 'r = v;')
                if owner is None:
                    raise self.error(mod, line, 'a size-constrained string must be the type of a field')
                nested = '%s::%s::value_type' % (owner, ident(comp_name))
                return _Field(nested, '&%s::theInfo' % nested, 'const std::string&', 'r = v;',
                              nested=(ident(comp_name), t.lower, t.upper))
        if isinstance(t, model.SequenceOf):
            el = _target(t.element)
            if isinstance(t.element, model.Builtin) and t.element.kind == 'IA5String' and t.element.constrained:
                raise self.error(mod, t.element.line, 'a size-constrained element type must be named')
            if isinstance(el, (model.Constructed, model.Enumerated)) and not isinstance(t.element, model.Reference):
                raise self.error(mod, t.element.line, 'a %s element type must be named by a type assignment' % el.kind)
            inner = self.field_of(mod, None, None, t.element, line)
            tmpl = 'ASN1::SEQUENCE_OF' if t.kind == 'SEQUENCE OF' else 'ASN1::SET_OF'
            cls = '%s<%s>' % (tmpl, inner.cls)
            return _Field(cls, '&%s::theInfo' % cls, 'const %s&' % cls, 'r = v;')
        if isinstance(t, model.Reference):
            target = t.target
            while isinstance(target.type, model.Reference):
                target = target.type.target
            tt = target.type
            cls = self.qualified(target)
            if isinstance(tt, model.Enumerated):
                return _Field(cls, '&%s::theInfo' % cls, '%s::NamedNumber' % cls, 'r.setValue(v);')
            if isinstance(tt, model.Constructed):
                return _Field(cls, '&%s::theInfo' % cls, 'const %s&' % cls, 'r = v;')
            # a named builtin or SEQUENCE OF: held as the class of its definition
            return self.field_of(target.module, None, None, tt, target.line)
        raise self.error(mod, getattr(t, 'line', line), '%s types inside a component must be named by a type '
                         'assignment' % getattr(t, 'kind', '?'))

    # -- headers
    def header(self, mod):
        out = ['// Generated by tools/asn1gen.py from %s.asn: the types of module %s. Do not edit.' % (mod.name, mod.name),
               '#pragma once', '']
        for inc in ('AbstractString', 'BOOLEAN', 'CHOICE', 'ENUMERATED', 'INTEGER', 'Null', 'OCTET_STRING',
                    'SEQUENCE', 'SEQUENCE_OF'):
            out.append('#include "asn1/%s.h"' % inc)
        for dep in mod.import_order:
            out.append('#include "asn1/schemas/%s.h"' % dep)
        out += ['', '#include <string>', '', 'namespace %s {' % mod.name, '']
        for a in mod.assignments:
            if isinstance(a.type, (model.Constructed, model.Enumerated)):
                out.append('class %s;' % a.name)
        out.append('')
        # Enumerations first: setters of the other classes name their NamedNumber.
        for a in mod.assignments:
            if isinstance(a.type, model.Enumerated):
                out += self.enum_class(a)
        for a in mod.assignments:
            if isinstance(a.type, model.Constructed):
                out += self.constructed_class(mod, a)
            elif not isinstance(a.type, model.Enumerated):
                f = self.field_of(mod, None, None, a.type, a.line)
                out += ['using %s = %s;' % (a.name, f.cls), '']
        out += ['}  // namespace %s' % mod.name, '']
        return '\n'.join(out)

    def enum_class(self, a):
        t = a.type
        items = ',\n'.join('        %s = %d' % (ident(i.name), i.value) for i in t.items)
        n = a.name
        return ['// %s ::= ENUMERATED%s (%s.asn line %d)' % (n, ', extensible' if t.extendable else '',
                                                         a.module.name, a.line),
                'class %s : public ASN1::ENUMERATED {' % n, 'public:',
                '    enum NamedNumber {', items, '    };',
                '    static const ASN1::EnumeratedInfo theInfo;', '',
                '    explicit %s(const void* info = &theInfo) : ASN1::ENUMERATED(info) {}' % n,
                '    %s(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { setValue(v); }' % n,
                '    %s& operator=(NamedNumber v) { setValue(v); return *this; }' % n,
                '    NamedNumber asNamedNumber() const { return static_cast<NamedNumber>(getValue()); }', '',
                'protected:', '    ASN1::AbstractData* do_clone() const override;', '};', '']

    def constructed_class(self, mod, a):
        t = a.type
        n = a.name
        base = 'ASN1::SEQUENCE' if t.kind == 'SEQUENCE' else 'ASN1::CHOICE'
        info = 'ASN1::SequenceInfo' if t.kind == 'SEQUENCE' else 'ASN1::ChoiceInfo'
        out = ['// %s ::= %s%s (%s.asn line %d)' % (n, t.kind, ', extensible' if t.extendable else '',
                                                mod.name, a.line),
               'class %s : public %s {' % (n, base), 'public:']
        fields = [(c, self.field_of(mod, '%s::%s' % (mod.name, n), c.name, c.type, c.line)) for c in t.components]
        nested = [f.nested for _, f in fields if f.nested]
        for name, lo, hi in nested:
            out += ['    struct %s {' % name, '        class value_type;', '    };']
        if t.kind == 'CHOICE':
            out.append('    enum Choice {')
            out.append(',\n'.join('        e_%s = %d' % (c.name.replace('-', '_'), k) for k, (c, _) in enumerate(fields)))
            out.append('    };')
        out += ['    static const %s theInfo;' % info, '',
                '    explicit %s(const void* info = &theInfo) : %s(info) {}' % (n, base), '']
        for c, f in fields:
            m = c.name.replace('-', '_')
            if t.kind == 'SEQUENCE':
                out.append('    %s& get_%s();' % (f.cls, m))
                out.append('    const %s& get_%s() const;' % (f.cls, m))
                optional = c.optional or c in t.additions
                if f.arg:
                    out.append('    void set_%s(%s v);' % (m, f.arg))
                elif optional:
                    out.append('    void set_%s();' % m)
                if optional:
                    out.append('    %s& include_%s();' % (f.cls, m))
                    out.append('    bool has_%s() const;' % m)
                    out.append('    void omit_%s();' % m)
            else:
                out.append('    bool is_%s() const { return getID() == e_%s; }' % (m, m))
                out.append('    %s& select_%s();' % (f.cls, m))
                out.append('    const %s& get_%s() const;' % (f.cls, m))
                if f.arg:
                    out.append('    void set_%s(%s v);' % (m, f.arg))
                else:
                    out.append('    void set_%s() { select_%s(); }' % (m, m))
        out += ['', 'protected:', '    ASN1::AbstractData* do_clone() const override;', '};', '']
        for name, lo, hi in nested:
            cls = '%s::%s::value_type' % (n, name)
            out += ['// IA5String (SIZE (%d..%d))' % (lo, hi),
                    'class %s : public ASN1::IA5String {' % cls, 'public:',
                    '    static const ASN1::StringInfo theInfo;',
                    '    explicit value_type(const void* info = &theInfo) : ASN1::IA5String(info) {}',
                    '    using ASN1::IA5String::operator=;', '',
                    'protected:', '    ASN1::AbstractData* do_clone() const override;', '};', '']
        return out

    # -- sources
    def source(self, mod, assignments):
        out = ['// Generated by tools/asn1gen.py from %s.asn: info records and accessors of module %s. Do not edit.'
               % (mod.name, mod.name),
               '#include "asn1/schemas/%s.h"' % mod.name, '', '#include "asn1/Info.h"', '']
        tables, defs = [], []
        for a in assignments:
            if isinstance(a.type, model.Enumerated):
                t1, d1 = self.enum_source(mod, a)
            elif isinstance(a.type, model.Constructed):
                t1, d1 = self.constructed_source(mod, a)
            else:
                continue
            tables += t1
            defs += d1
        out += ['namespace {', ''] + tables + ['}  // namespace', '', 'namespace %s {' % mod.name, ''] + defs
        out += ['}  // namespace %s' % mod.name, '']
        return '\n'.join(out)

    @staticmethod
    def names_array(var, names):
        if not names:
            return [], 'nullptr'
        return (['const char* const %s[] = {%s};' % (var, ', '.join('"%s"' % s for s in names))], var)

    def enum_source(self, mod, a):
        t = a.type
        texts, prev = [], None
        for k, i in enumerate(t.items):
            follows = (i.value == 0) if k == 0 else (i.value == prev + 1)
            texts.append(i.name if follows else '%s=%d' % (i.name, i.value))
            prev = i.value
        if t.maximum < 0:
            raise self.error(mod, t.line, 'ENUMERATED %s has no value of 0 or above' % a.name)
        tables, var = self.names_array('%s_enum_names__' % a.name, texts)
        defs = ['constinit const ASN1::EnumeratedInfo %s::theInfo = {' % a.name,
                '    {&ASN1::createAs<%s>, %d}, %s, %d, %s, %d};' % (
                    a.name, _TAGS['ENUMERATED'], 'true' if t.extendable else 'false', t.maximum, var, len(texts)),
                'ASN1::AbstractData* %s::do_clone() const { return new %s(*this); }' % (a.name, a.name), '']
        return tables + [''], defs

    def constructed_source(self, mod, a):
        t = a.type
        n = a.name
        owner = '%s::%s' % (mod.name, n)
        fields = [(c, self.field_of(mod, owner, c.name, c.type, c.line)) for c in t.components]
        tables, defs = [], []
        infos_var = 'nullptr'
        if fields:
            infos_var = '%s_infos' % n
            tables.append('const void* const %s[] = {' % infos_var)
            tables += ['    %s,' % f.record for _, f in fields]
            tables.append('};')
        names, names_var = self.names_array('%s_names' % n, [c.name for c, _ in fields])
        tables += names
        if t.kind == 'SEQUENCE':
            ids, opt = [], 0
            for c in t.root:
                if c.optional:
                    ids.append(opt)
                    opt += 1
                else:
                    ids.append(-1)
            ids_var = 'nullptr'
            if ids:
                ids_var = '%s_ids' % n
                tables.append('const int %s[] = {%s};' % (ids_var, ', '.join(map(str, ids))))
            defs += ['constinit const ASN1::SequenceInfo %s::theInfo = {' % n,
                     '    {&ASN1::createAs<%s>, %d}, %s, %s, %s, %d, %d, %d, nullptr, nullptr, %s};' % (
                         n, _TAGS['SEQUENCE'], 'true' if t.extendable else 'false', infos_var, ids_var,
                         len(t.root), len(t.additions), opt, names_var)]
            for slot, (c, f) in enumerate(fields):
                m = c.name.replace('-', '_')
                if slot < len(t.root):
                    opt_index = ids[slot]
                else:
                    opt_index = opt + slot - len(t.root)
                defs.append('%s& %s::get_%s() { return field<%s>(%d); }' % (f.cls, n, m, f.cls, slot))
                defs.append('const %s& %s::get_%s() const { return field<%s>(%d); }' % (f.cls, n, m, f.cls, slot))
                include = 'includeOptionalField(%d, %d); ' % (opt_index, slot) if opt_index >= 0 else ''
                if f.arg:
                    defs.append('void %s::set_%s(%s v) { %s%s& r = field<%s>(%d); %s }' % (
                        n, m, f.arg, include, f.cls, f.cls, slot, f.store))
                elif opt_index >= 0:
                    defs.append('void %s::set_%s() { %s}' % (n, m, include))
                if opt_index >= 0:
                    defs.append('%s& %s::include_%s() { %sreturn field<%s>(%d); }' % (
                        f.cls, n, m, include, f.cls, slot))
                    defs.append('bool %s::has_%s() const { return hasOptionalField(%d); }' % (n, m, opt_index))
                    defs.append('void %s::omit_%s() { removeOptionalField(%d); }' % (n, m, opt_index))
        else:
            defs += ['constinit const ASN1::ChoiceInfo %s::theInfo = {' % n,
                     '    {&ASN1::createAs<%s>, %d}, %s, %s, %d, %d, nullptr, %s};' % (
                         n, _TAGS['CHOICE'], 'true' if t.extendable else 'false', infos_var,
                         len(t.root), len(t.components), names_var)]
            for k, (c, f) in enumerate(fields):
                m = c.name.replace('-', '_')
                defs += ['%s& %s::select_%s()' % (f.cls, n, m), '{',
                         '    if (getID() != e_%s || !getSelection())' % m,
                         '        setSelection(e_%s, ASN1::createFrom(info()->selectionInfos[e_%s]));' % (m, m),
                         '    return selection<%s>();' % f.cls, '}',
                         'const %s& %s::get_%s() const' % (f.cls, n, m), '{',
                         '    if (getID() == e_%s && getSelection())' % m,
                         '        return selection<%s>();' % f.cls,
                         '    static const %s none;  // what an unselected alternative reads as' % f.cls,
                         '    return none;', '}']
                if f.arg:
                    defs.append('void %s::set_%s(%s v) { %s& r = select_%s(); %s }' % (
                        n, m, f.arg, f.cls, m, f.store))
        defs.append('ASN1::AbstractData* %s::do_clone() const { return new %s(*this); }' % (n, n))
        for c, f in fields:
            if f.nested:
                name, lo, hi = f.nested
                cls = '%s::%s::value_type' % (n, name)
                defs += ['constinit const ASN1::StringInfo %s::theInfo = {' % cls,
                         '    {{&ASN1::createAs<%s>, 22}, ASN1::FixedConstraint, %d, %du}, ASN1::IA5StringSet, 128, 7, 7, 8};'
                         % (cls, lo, hi),
                         'ASN1::AbstractData* %s::do_clone() const { return new value_type(*this); }' % cls]
        defs.append('')
        return tables + [''], defs


# Weight of the code one translation unit should hold, so that the large modules compile
# as several units in parallel.
_PART_WEIGHT = 600


def _weight(a):
    t = a.type
    if isinstance(t, model.Constructed):
        return 4 + 3 * len(t.components)
    if isinstance(t, model.Enumerated):
        return 4
    return 1


def _parts(m):
    parts, cur, w = [], [], 0
    for a in m.assignments:
        if cur and w + _weight(a) > _PART_WEIGHT:
            parts.append(cur)
            cur, w = [], 0
        cur.append(a)
        w += _weight(a)
    parts.append(cur)
    return parts


def source_names(m):
    """The source files of module m: M.cpp, then M_2.cpp, M_3.cpp... for large modules."""
    return [m.name + ('.cpp' if k == 0 else '_%d.cpp' % (k + 1)) for k in range(len(_parts(m)))]


def generate(modules):
    """(file name, text) of every output file."""
    w = _Writer(modules)
    files = []
    for m in modules:
        files.append((m.name + '.h', w.header(m)))
        for name, part in zip(source_names(m), _parts(m)):
            files.append((name, w.source(m, part)))
    return files
