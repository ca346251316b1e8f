"""Tokens of the ASN.1 subset the protocol modules are written in."""

import re

from .errors import SchemaError

# Identifiers keep underscores: some names of the link carry them and appear in traces.
_TOKEN = re.compile(r'''
    (?P<space>[ \t\r]+)
  | (?P<newline>\n)
  | (?P<comment>--)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<number>-?[0-9]+)
  | (?P<word>[A-Za-z][A-Za-z0-9_-]*)
  | (?P<punct>[{}(),;|])
''', re.VERBOSE)


class Token:
    __slots__ = ('kind', 'text', 'line')

    def __init__(self, kind, text, line):
        self.kind = kind
        self.text = text
        self.line = line

    def __repr__(self):
        return 'Token(%s, %r, %d)' % (self.kind, self.text, self.line)


def tokenize(path, text):
    tokens = []
    line = 1
    pos = 0
    end = len(text)
    while pos < end:
        m = _TOKEN.match(text, pos)
        if not m:
            raise SchemaError(path, line, 'unexpected character %r' % text[pos])
        kind = m.lastgroup
        pos = m.end()
        if kind == 'space':
            continue
        if kind == 'newline':
            line += 1
            continue
        if kind == 'comment':
            # A comment runs to the next "--" or to the end of the line.
            stop = text.find('\n', pos)
            stop = end if stop < 0 else stop
            close = text.find('--', pos, stop)
            pos = stop if close < 0 else close + 2
            continue
        word = m.group(kind)
        if kind == 'word' and (word.endswith('-') or '--' in word):
            raise SchemaError(path, line, 'malformed name %r' % word)
        tokens.append(Token(kind, word, line))
    tokens.append(Token('end', '', line))
    return tokens
