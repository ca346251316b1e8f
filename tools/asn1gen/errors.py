"""The one error the generator reports: a message tied to a file and line."""


class SchemaError(Exception):
    def __init__(self, path, line, message):
        super().__init__('%s:%d: error: %s' % (path, line, message))
        self.path = path
        self.line = line
        self.message = message
