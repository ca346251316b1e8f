"""The parsed modules: types as plain records, resolved across module boundaries."""


class Type:
    """Base of every type node; line is where the type text starts."""
    kind = None

    def __init__(self, line):
        self.line = line


class Builtin(Type):
    """NULL, BOOLEAN, INTEGER, OCTET STRING or IA5String, with an optional range or size."""

    def __init__(self, line, kind, lower=None, upper=None):
        super().__init__(line)
        self.kind = kind
        self.lower = lower
        self.upper = upper

    @property
    def constrained(self):
        return self.lower is not None


class Reference(Type):
    kind = 'reference'

    def __init__(self, line, name):
        super().__init__(line)
        self.name = name
        self.target = None  # the Assignment it names, set by resolve()


class SequenceOf(Type):
    def __init__(self, line, kind, element):
        super().__init__(line)
        self.kind = kind  # 'SEQUENCE OF' or 'SET OF'
        self.element = element


class Component:
    """A field of a SEQUENCE or an alternative of a CHOICE."""

    def __init__(self, line, name, type_, optional=False):
        self.line = line
        self.name = name
        self.type = type_
        self.optional = optional


class Constructed(Type):
    """SEQUENCE or CHOICE: root components, extension marker, extension additions."""

    def __init__(self, line, kind, root, extendable, additions):
        super().__init__(line)
        self.kind = kind
        self.root = root
        self.extendable = extendable
        self.additions = additions

    @property
    def components(self):
        return self.root + self.additions


class Item:
    def __init__(self, line, name, value):
        self.line = line
        self.name = name
        self.value = value


class Enumerated(Type):
    kind = 'ENUMERATED'

    def __init__(self, line, items, extendable):
        super().__init__(line)
        self.items = items  # in text order, values as written
        self.extendable = extendable

    @property
    def maximum(self):
        return max(i.value for i in self.items)

    @property
    def dense(self):
        """True when the items are 0, 1, 2... in text order: value and index coincide."""
        return all(i.value == n for n, i in enumerate(self.items))


class Assignment:
    def __init__(self, module, line, name, type_):
        self.module = module
        self.line = line
        self.name = name
        self.type = type_

    @property
    def qualified(self):
        return '%s::%s' % (self.module.name, self.name)


class Module:
    def __init__(self, path, line, name):
        self.path = path
        self.line = line
        self.name = name
        self.imports = {}       # type name -> (module name, line)
        self.import_order = []  # module names in the order of the IMPORTS clause
        self.assignments = []   # in text order
        self.by_name = {}

    def lookup(self, name):
        return self.by_name.get(name)
