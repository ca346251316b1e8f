#!/usr/bin/env python3
"""The peers of bench_asn1_peers: two independent PER codecs timed on the control messages.

- Erlang/OTP asn1 (aligned PER, the wire form of the control link) compiled from the protocol
  modules as tools/erlang/schemas_fixture.py hands them to Erlang; every named message of
  tools/erlang/schemas_vectors.py can be timed.
- asn1c (unaligned PER only) from a schema of our own whose unaligned encoding has the same
  octets as the aligned one of the real messages, for the messages of a fixed shape (ping,
  success, create trunk). Its program checks each encoding against the fixture first.

Both are built once under the output directory and reused. Each timed message is one encode
of the value and one decode of the octets into a fresh value, as the server does it.

Usage: per_peers.py OUTDIR SECONDS NAME...   prints "peer name ns" lines; a peer that cannot
be built or run prints "peer - unavailable: why" and the others still run.
"""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'erlang'))

FIXTURE = os.path.join(ROOT, 'tests', 'asn1_schemas', 'fixtures', 'per_vectors.txt')

# The unaligned schema for asn1c: padding fields stand where the aligned form aligns, so that
# the octets are the same as the real messages' for the shapes below.
ASN1C_SCHEMA = r'''PeerWire DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
Msg ::= SEQUENCE {
    pad BIT STRING (SIZE (6)),
    seq INTEGER OPTIONAL,
    slot INTEGER (0..65535) OPTIONAL,
    pdu PDU
}
PDU ::= CHOICE { command Command, response Response, signal NULL }
Command ::= CHOICE {
    query NULL, testBpc NULL, connect INTEGER (0..1023), disconnect NULL, create CreateParams,
    destroy NULL, activate NULL, deactivate NULL, userData OCTET STRING, ioctl NULL,
    trunkCfg NULL, clockCfg NULL, ping NULL, display NULL, protoLemz NULL, ...
}
Response ::= CHOICE { success NULL, error INTEGER (0..127) }
CreateParams ::= CHOICE {
    mixerOut NULL, mixerIn NULL, rtpOnMixer NULL, voice NULL, rtp NULL, modem NULL, pstn NULL,
    trunk TrunkParams, trunk-bri TrunkParams, map NULL, ext NULL, mcc NULL, echo NULL,
    t38soft NULL, isdn NULL, hdlcParams NULL, spi-tdm NULL, ats-qsig NULL, ats-qsig-b NULL, ...
}
TrunkParams ::= SEQUENCE { pad BIT STRING (SIZE (3)), trunk INTEGER (0..255), timeslot INTEGER (0..31) }
END
'''

# name -> C statements that fill `Msg_t *m` (seq and slot point at `seq` and `slot`).
ASN1C_VALUES = {
    'command_ping': 'seq = 2147483647; m->seq = &seq; m->pdu.present = PDU_PR_command;'
                    ' m->pdu.choice.command.present = Command_PR_ping;',
    'response_success': 'seq = 1; slot = 5; m->seq = &seq; m->slot = &slot; m->pdu.present = PDU_PR_response;'
                        ' m->pdu.choice.response.present = Response_PR_success;',
    'command_create_trunk_bri': 'seq = 6; slot = 11; m->seq = &seq; m->slot = &slot;'
                                ' m->pdu.present = PDU_PR_command;'
                                ' m->pdu.choice.command.present = Command_PR_create;'
                                ' CreateParams_t *c = &m->pdu.choice.command.choice.create;'
                                ' c->present = CreateParams_PR_trunk_bri;'
                                ' c->choice.trunk_bri.pad.buf = pad3; c->choice.trunk_bri.pad.size = 1;'
                                ' c->choice.trunk_bri.pad.bits_unused = 5;'
                                ' c->choice.trunk_bri.trunk = 255; c->choice.trunk_bri.timeslot = 31;',
}

ASN1C_MAIN = r'''#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include "Msg.h"

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

static int hexval(const char *h, unsigned char *out) {
    int n = 0;
    for (; h[0] && h[1]; h += 2) {
        unsigned v;
        sscanf(h, "%2x", &v);
        out[n++] = (unsigned char)v;
    }
    return n;
}

/* One encode of the value and one decode into a fresh value; the number of octets. */
static int round_trip(Msg_t *m, unsigned char *buf, size_t size) {
    asn_enc_rval_t e = uper_encode_to_buffer(&asn_DEF_Msg, m, buf, size);
    if (e.encoded < 0) return -1;
    int len = (int)((e.encoded + 7) / 8);
    Msg_t *out = 0;
    asn_dec_rval_t d = uper_decode_complete(0, &asn_DEF_Msg, (void **)&out, buf, len);
    if (d.code != RC_OK) len = -1;
    ASN_STRUCT_FREE(asn_DEF_Msg, out);
    return len;
}

static void run(const char *name, Msg_t *m, const char *hex, double seconds) {
    unsigned char want[256], buf[256];
    int n = hexval(hex, want);
    int len = round_trip(m, buf, sizeof buf);
    if (len != n || memcmp(buf, want, n) != 0) {
        printf("asn1c %s mismatch\n", name);
        return;
    }
    /* Calibrated to about `seconds / 5` per run; the best of five runs, as for ours. */
    long iterations = 1000;
    double best = 0;
    for (int run = 0; run < 5;) {
        double t0 = now();
        for (long i = 0; i < iterations; ++i)
            if (round_trip(m, buf, sizeof buf) < 0) abort();
        double t = now() - t0;
        if (t < seconds / 5 && iterations < (1L << 30)) {
            iterations *= 2;
            continue;
        }
        double ns = t * 1e9 / iterations;
        if (run++ == 0 || ns < best) best = ns;
    }
    printf("asn1c %s %.1f\n", name, best);
}

int main(int argc, char **argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 0.2;
    uint8_t pad6[1] = {0}, pad3[1] = {0};
    long seq, slot;
    (void)pad3;
@CASES@
    return 0;
}
'''


def fixture():
    out = {}
    with open(FIXTURE) as f:
        for line in f:
            if line.startswith('#') or not line.strip():
                continue
            name, _top, hexed = line.split()
            out[name] = hexed
    return out


def build_asn1c(outdir, names, hexes):
    d = os.path.join(outdir, 'asn1c')
    exe = os.path.join(d, 'peer')
    os.makedirs(d, exist_ok=True)
    cases = []
    for n in names:
        if n in ASN1C_VALUES and n in hexes:
            cases.append('    { Msg_t v; memset(&v, 0, sizeof v); Msg_t *m = &v;'
                         ' m->pad.buf = pad6; m->pad.size = 1; m->pad.bits_unused = 2; %s'
                         ' run("%s", m, "%s", seconds); }' % (ASN1C_VALUES[n], n, hexes[n]))
    main = ASN1C_MAIN.replace('@CASES@', '\n'.join(cases))
    main_path = os.path.join(d, 'peer_main.c')
    stale = not os.path.exists(exe) or not os.path.exists(main_path) or open(main_path).read() != main
    if not stale:
        return exe
    with open(os.path.join(d, 'peer.asn'), 'w') as f:
        f.write(ASN1C_SCHEMA)
    subprocess.run(['asn1c', '-gen-PER', '-fcompound-names', 'peer.asn'], cwd=d, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(main_path, 'w') as f:
        f.write(main)
    sources = [s for s in os.listdir(d) if s.endswith('.c') and s != 'converter-sample.c']
    subprocess.run(['cc', '-O2', '-w', '-I.', '-o', 'peer'] + sorted(sources), cwd=d, check=True)
    return exe


def build_erlang(outdir, names):
    from asn1gen.asn_writer import module_text
    from asn1gen.parser import load
    import schemas_fixture
    import schemas_vectors

    d = os.path.join(outdir, 'erlang')
    os.makedirs(d, exist_ok=True)
    schemas = sorted(os.path.join(ROOT, 'asn1', 'schemas', f)
                     for f in os.listdir(os.path.join(ROOT, 'asn1', 'schemas')) if f.endswith('.asn'))
    modules = load(schemas)
    by_name = {m.name: m for m in modules}
    for m in schemas_fixture._build_order(modules):
        src = os.path.join(d, m.name + '.asn')
        text = module_text(m, portable=True)
        beam = os.path.join(d, m.name + '.beam')
        if os.path.exists(beam) and os.path.exists(src) and open(src).read() == text:
            continue
        with open(src, 'w') as f:
            f.write(text)
        subprocess.run(['erlc', '-bper', '+maps', '-I', d, '-o', d, src], check=True, cwd=d,
                       stdout=subprocess.DEVNULL)
    vectors = {n: (top, v) for n, top, v in schemas_vectors.VECTORS}
    rows = []
    for n in names:
        if n not in vectors:
            continue
        top, value = vectors[n]
        mod, typ = top.split('::')
        t = by_name[mod].lookup(typ).type
        rows.append('    {"%s", %s, %s, %s}' % (n, schemas_fixture._atom(mod), schemas_fixture._atom(typ),
                                                 schemas_fixture.term(t, value, n)))
    src = ('-module(perpeer).\n-export([run/1]).\n'
           'loop(_, _, _, 0) -> ok;\n'
           'loop(M, Ty, V, N) -> {ok, B} = M:encode(Ty, V), {ok, _} = M:decode(Ty, B), loop(M, Ty, V, N - 1).\n'
           'once(M, Ty, V, N) ->\n'
           '  T0 = erlang:monotonic_time(nanosecond), loop(M, Ty, V, N),\n'
           '  erlang:monotonic_time(nanosecond) - T0.\n'
           '%% Calibrated to about Seconds / 5 per run; the best of five runs, as for ours.\n'
           'time(Name, M, Ty, V, Seconds, N) ->\n'
           '  T = once(M, Ty, V, N),\n'
           '  if T >= Seconds * 0.2e9 orelse N > 1 bsl 28 ->\n'
           '       Best = lists:min([T / N | [once(M, Ty, V, N) / N || _ <- lists:seq(1, 4)]]),\n'
           '       io:format("erlang ~s ~.1f~n", [Name, Best]);\n'
           '     true -> time(Name, M, Ty, V, Seconds, N * 2) end.\n'
           'run([S]) ->\n  Seconds = list_to_float(S),\n'
           '  lists:foreach(fun({N, M, Ty, V}) -> time(N, M, Ty, V, Seconds, 1000) end, [\n%s\n  ]).\n'
           % ',\n'.join(rows))
    with open(os.path.join(d, 'perpeer.erl'), 'w') as f:
        f.write(src)
    subprocess.run(['erlc', '-o', d, os.path.join(d, 'perpeer.erl')], check=True, cwd=d)
    return d


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    outdir, seconds, names = os.path.abspath(sys.argv[1]), float(sys.argv[2]), sys.argv[3:]
    hexes = fixture()
    try:
        exe = build_asn1c(outdir, names, hexes)
        out = subprocess.run([exe, '%g' % seconds], check=True, capture_output=True, text=True).stdout
        sys.stdout.write(out)
    except (OSError, subprocess.CalledProcessError) as e:
        print('asn1c - unavailable: %s' % e)
    sys.stdout.flush()
    try:
        d = build_erlang(outdir, names)
        out = subprocess.run(['erl', '-noshell', '-pa', d, '-eval',
                              'perpeer:run(["%s"]), halt().' % repr(float(seconds))],
                             check=True, capture_output=True, text=True).stdout
        sys.stdout.write(out)
    except (OSError, subprocess.CalledProcessError) as e:
        print('erlang - unavailable: %s' % e)


if __name__ == '__main__':
    main()
