"""Aligned PER of the radio values of the control link (TERM module), as the daemon's coder lays
them out, driven by a small description of each type: enough to build radio creates and
ioctls and to read the "rtpExt" signals back.

Types: ("seq", extensible, [(name, type, optional)]), ("choice", extensible, [(name, type)]),
("enum", extensible, largest value), ("int",) unconstrained, ("range", lo, hi), ("bool",),
("ia5",), ("null",). Values: dicts for SEQUENCE (absent optionals left out), (name, value)
pairs for CHOICE, ints, bools, strs, None."""


def seq(ext, *fields):
    return ("seq", ext, [(f[0], f[1], len(f) > 2 and f[2]) for f in fields])


def choice(ext, *alts):
    return ("choice", ext, list(alts))


INT, BOOL, IA5, NULL = ("int",), ("bool",), ("ia5",), ("null",)


def rng(lo, hi):
    return ("range", lo, hi)


def enum(ext, largest):
    return ("enum", ext, largest)


from test_rtp import ranged as put_range
from vxharness import integer as put_integer

OPT = True
RadioFlags = seq(True, ("prio", INT), ("ptt", BOOL), ("bss", BOOL), ("vad-rx", BOOL), ("vad-tx", BOOL),
                 ("sql", BOOL), ("sh", BOOL), ("pwr", BOOL), ("rv", BOOL), ("resv", BOOL),
                 ("selcall", rng(0, 3)), ("li", rng(0, 511)))
RadioFrequency = seq(False, ("channel", INT), ("frequency", IA5))
RadioRemote = seq(False, ("no", rng(0, 255)), ("ch", rng(0, 255)))
RadioSquelshe = enum(False, 2)
RadioRTE = enum(False, 7)
RadioStandby = enum(False, 1)   # not-use (-1) has no place in 0..1
LemzRadioStatus = seq(True, ("flags", RadioFlags), ("freq", RadioFrequency), ("remote", RadioRemote),
                      ("squelshe", RadioSquelshe), ("rte", RadioRTE), ("standby-state-channel", RadioStandby),
                      ("standby-group", rng(0, 255)), ("standby-state-receiver", RadioStandby))
ED137RadioHeader = seq(True, ("ptt", enum(True, 4)), ("squ", enum(True, 1)), ("ptt-id", rng(0, 63)),
                       ("ptt-mute", BOOL), ("ptt-summation", BOOL), ("sct", BOOL))
ED137RadioBSSMethod = enum(True, 3)
ED137RadioResponse = seq(True, ("ls-pl", enum(True, 1), OPT), ("ls-execute", enum(True, 1), OPT),
                         ("type", enum(True, 4)), ("txrxmode", enum(True, 2)), ("bss", ED137RadioBSSMethod, OPT),
                         ("sigtime", rng(1, 50), OPT), ("ptt-rep", rng(0, 3), OPT),
                         ("r2s-keepalive-period", rng(20, 1000), OPT), ("r2s-keepalive-multiplier", rng(2, 50), OPT),
                         ("fid", rng(112000, 399975), OPT), ("ptt-id", rng(0, 63)), ("rtphe", rng(0, 1), OPT),
                         ("no-freq-disconn", NULL, OPT), ("rx-multicast-addr", IA5, OPT), ("code", None, OPT),
                         ("qos-dscp", None, OPT), ("transmission-depend-on-squ", BOOL, OPT))
ED137RadioExtensionSQI = seq(True, ("bss-method", ED137RadioBSSMethod), ("bss-quality", rng(0, 31)))
ED137RadioStatus = seq(True, ("header", ED137RadioHeader), ("radio-response", ED137RadioResponse, OPT),
                       ("sqi", ED137RadioExtensionSQI, OPT))
RadioStatus = choice(True, ("lemz", LemzRadioStatus), ("ed-137", ED137RadioStatus))
RadioModifierAddr = seq(False, ("session-addr", IA5), ("session-ssrc", rng(0, 0xFFFFFFFF)))
Flags = seq(False, ("flags", RadioFlags))
Session = seq(False, ("flags", RadioFlags), ("ip", IA5), ("ssrc", rng(0, 0xFFFFFFFF)), ("cid", IA5))
LemzRadioModifierParams = choice(
    True, ("gw-set-flags", Flags), ("gw-set-freq", seq(False, ("freq", RadioFrequency))), ("gw-set-ptt", Flags),
    ("gw-set-bss", Flags), ("gw-set-sh", Flags), ("gw-set-pwr", Flags), ("gw-set-rv", Flags),
    ("gw-set-resv", Flags), ("gw-set-selcall", Session), ("gw-set-remote", seq(False, ("remote", RadioRemote))),
    ("gw-set-squelshe", seq(False, ("squelshe", RadioSquelshe))), ("gw-set-rte", seq(False, ("rte", RadioRTE))),
    ("gw-set-standby", seq(False, ("state", RadioStandby))), ("wm-flags", Flags),
    ("wm-trans", seq(False, ("flags", RadioFlags), ("ip", IA5), ("ssrc", rng(0, 0xFFFFFFFF)))),
    ("wm-quality", seq(False, ("bss-val", IA5))),
    ("wm-chan", seq(True, ("freq", RadioFrequency), ("squelshe", RadioSquelshe), ("rte", RadioRTE))),
    ("wm-selcall", Session), ("wm-remote", seq(False, ("remote", RadioRemote))),
    ("wm-standby", seq(True, ("state-channel", RadioStandby), ("group", rng(0, 255)),
                       ("state-receiver", RadioStandby))))
ED137RadioModifierParams = choice(True, ("rx", seq(True, ("header", ED137RadioHeader),
                                                   ("sqi", ED137RadioExtensionSQI, OPT))),
                                  ("tx", seq(True, ("header", ED137RadioHeader))))
RadioModifier = choice(True, ("lemz", seq(False, ("addr", RadioModifierAddr), ("params", LemzRadioModifierParams))),
                       ("ed-137", seq(True, ("addr", RadioModifierAddr), ("params", ED137RadioModifierParams))))
RtpRadioRequest = seq(True, ("status", RadioStatus), ("request", RadioModifier, OPT), ("rx-delay", INT, OPT),
                      ("tx-delay", INT, OPT), ("bss-enable", BOOL, OPT), ("ng-enable", BOOL, OPT),
                      ("selcal-delay", INT, OPT))
RtpExtMode = choice(True, ("both-rtp-and-rtp-ext", NULL), ("only-rtp", seq(True, ("fd", INT), ("pid", INT))))
RtpE2M = seq(True, ("slot", INT), ("channel", INT), ("mode", RtpExtMode, OPT))
HostAddress = seq(False, ("iaddr", IA5), ("port", rng(0, 65535)))
RtpParams = seq(True, ("payload", enum(False, 14)), ("dhost", HostAddress), ("shost", HostAddress, OPT),
                ("dname", None, OPT), ("jitter", None, OPT), ("pfactor", INT, OPT), ("crate", INT, OPT),
                ("vad", BOOL, OPT), ("echo", seq(True, ("suppressor", BOOL), ("canceller", BOOL)), OPT),
                ("radio", RtpRadioRequest, OPT), ("rtp-e2m", RtpE2M, OPT), ("ssrc", rng(0, 0xFFFFFFFF), OPT),
                ("ttl", rng(1, 255), OPT), ("qos-dscp", None, OPT))


def _bits_for(count):
    return (count - 1).bit_length() if count > 1 else 0


def take_range(r, lo, hi):
    span = hi - lo + 1
    if span == 1:
        return lo
    if span < 256:
        return lo + r.take((span - 1).bit_length())
    if span <= 65536:
        r.align()
        return lo + r.take(8 if span == 256 else 16)
    n = r.take(_bits_for((((span - 1).bit_length() + 7) // 8))) + 1
    r.align()
    return lo + r.take(8 * n)


def encode(b, t, v):
    kind = t[0]
    if kind == "seq":
        _, ext, fields = t
        if ext:
            b.put(0, 1)
        for name, _, opt in fields:
            if opt:
                b.put(name in v, 1)
        for name, ft, opt in fields:
            if name in v:
                encode(b, ft, v[name])
            elif not opt:
                raise KeyError(name)
    elif kind == "choice":
        _, ext, alts = t
        name, value = v
        index = [a[0] for a in alts].index(name)
        if ext:
            b.put(0, 1)
        b.put(index, _bits_for(len(alts)))
        encode(b, alts[index][1], value)
    elif kind == "enum":
        if t[1]:
            b.put(0, 1)
        put_range(b, v, 0, t[2])
    elif kind == "range":
        put_range(b, v, t[1], t[2])
    elif kind == "int":
        put_integer(b, v)
    elif kind == "bool":
        b.put(1 if v else 0, 1)
    elif kind == "ia5":
        b.octets(bytes([len(v)]) + v.encode("ascii"))
    elif kind == "null":
        pass
    else:
        raise TypeError(kind)


def decode(r, t):
    kind = t[0]
    if kind == "seq":
        _, ext, fields = t
        if ext:
            assert r.take(1) == 0, "extension additions are not read here"
        present = {name: (r.take(1) == 1) for name, _, opt in fields if opt}
        out = {}
        for name, ft, opt in fields:
            if not opt or present[name]:
                out[name] = decode(r, ft)
        return out
    if kind == "choice":
        _, ext, alts = t
        if ext:
            assert r.take(1) == 0
        name, at = alts[r.take(_bits_for(len(alts)))]
        return (name, decode(r, at))
    if kind == "enum":
        if t[1]:
            assert r.take(1) == 0, "a value beyond the root"
        return take_range(r, 0, t[2])
    if kind == "range":
        return take_range(r, t[1], t[2])
    if kind == "int":
        return r.integer()
    if kind == "bool":
        return r.take(1) == 1
    if kind == "ia5":
        r.align()
        n = r.take(8)
        return bytes(r.take(8) for _ in range(n)).decode("ascii")
    if kind == "null":
        return None
    raise TypeError(kind)


def flags(prio=15, **set_flags):
    f = {"prio": prio, "selcall": 0, "li": 0}
    for name in ("ptt", "bss", "vad-rx", "vad-tx", "sql", "sh", "pwr", "rv", "resv"):
        f[name] = set_flags.get(name.replace("-", "_"), False)
    return f


def lemz_status(ptt=False, channel=3, frequency="145.5", squelshe=2, rte=2):
    return ("lemz", {"flags": flags(ptt=ptt), "freq": {"channel": channel, "frequency": frequency},
                     "remote": {"no": 1, "ch": 2}, "squelshe": squelshe, "rte": rte,
                     "standby-state-channel": 0, "standby-group": 4, "standby-state-receiver": 1})


def ed137_header(ptt=0, squ=0, ptt_id=0):
    return {"ptt": ptt, "squ": squ, "ptt-id": ptt_id, "ptt-mute": False, "ptt-summation": False, "sct": False}
