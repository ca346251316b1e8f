"""Reference messages of the control and agent links, pinned against an independent codec.

Values are written against the schema: a dict is a SEQUENCE (absent OPTIONAL fields left
out), a (name, value) pair a CHOICE, a list a SEQUENCE OF, a str an IA5String or an
ENUMERATED item, bytes an OCTET STRING, None a NULL.
"""

HOST = {'iaddr': '10.1.2.3', 'port': 5004}
RADIO_FLAGS = {'prio': 3, 'ptt': True, 'bss': False, 'vad-rx': True, 'vad-tx': False, 'sql': True, 'sh': False,
               'pwr': True, 'rv': False, 'resv': True, 'selcall': 2, 'li': 511}
RTP_PARAMS = {'payload': 'ptG729', 'dhost': HOST, 'shost': {'iaddr': '192.168.0.1', 'port': 65535},
              'dname': 'gw1', 'jitter': {'start': 40, 'max': 200}, 'pfactor': 2, 'crate': -1, 'vad': True,
              'echo': {'suppressor': False, 'canceller': True},
              'rtp-e2m': {'slot': 7, 'channel': 1, 'mode': ('only-rtp', {'fd': 3, 'pid': 1234})},
              'ssrc': 4294967295, 'ttl': 64, 'qos-dscp': 'ef'}
LEMZ_STATUS = {'flags': RADIO_FLAGS, 'freq': {'channel': 12, 'frequency': '118250'},
               'remote': {'no': 255, 'ch': 0}, 'squelshe': 'on', 'rte': 'j3e',
               'standby-state-channel': 'standby', 'standby-group': 200, 'standby-state-receiver': 'active'}
ED137_HEADER = {'ptt': 'priority-ptt-on', 'squ': 'squ-on', 'ptt-id': 63, 'ptt-mute': False,
                'ptt-summation': True, 'sct': False}
ED137_RESPONSE = {'ls-pl': 'ls-deletion-enabled', 'type': 'radio-txrx', 'txrxmode': 'txrx', 'bss': 'psd',
                  'sigtime': 50, 'r2s-keepalive-period': 200, 'fid': 399975, 'ptt-id': 1, 'rtphe': 1,
                  'no-freq-disconn': None, 'rx-multicast-addr': '239.1.1.1',
                  'code': 'radio-no-permissions', 'qos-dscp': 'cs1', 'transmission-depend-on-squ': True}


def message(pdu, seq=None, slot=None):
    m = {'pdu': pdu}
    if seq is not None:
        m['seq'] = seq
    if slot is not None:
        m['slot'] = slot
    return m


def command(alt, value, seq=1, slot=None):
    return message(('command', (alt, value)), seq, slot)


def signal(alt, value, slot=None):
    return message(('signal', (alt, value)), None, slot)


COMMANDS = [
    ('query', command('query', None, seq=0)),
    ('testBpc', command('testBpc', {'bus': 15, 'seed': 0x12345678, 'mode': ('write', None),
                                    'timeslot-start': 0, 'timeslot-length': 127}, seq=2)),
    ('connect', command('connect', 1023, seq=3, slot=0)),
    ('disconnect', command('disconnect', None, seq=-1, slot=1023)),
    ('create_rtp', command('create', ('rtp', {'codecRTP': RTP_PARAMS, 'txPayload': 'ptG711-Alaw',
                                              'rxPayload': 'ptR2S'}), seq=5, slot=10)),
    ('create_trunk_bri', command('create', ('trunk_bri', {'trunk': 255, 'timeslot': 31}), seq=6, slot=11)),
    ('create_ats_qsig_b', command('create', ('ats-qsig-b', {'slot': 1023, 'subslot': 3}), seq=7, slot=12)),
    ('create_modem', command('create', ('modem', {'cid': '100', 'cdid': '200', 'ddm': ['ddm8BIT', 'ddmV120'],
                                                  'dmp': [{'offset': 1, 'value': -5}], 'fax': None,
                                                  'execargs': ['-v', '-x']}), seq=8, slot=13)),
    ('destroy', command('destroy', None, seq=9, slot=14)),
    ('activate', command('activate', ('modem', {'remoteAddr': '10.0.0.2', 'netmask': '255.255.255.0',
                                                'gateway': '10.0.0.1', 'dns': '8.8.8.8', 'mtu': 1500}),
                         seq=10, slot=15)),
    ('deactivate', command('deactivate', None, seq=11, slot=16)),
    ('userData', command('userData', bytes(range(200)), seq=12, slot=17)),
    ('ioctl_cas', command('ioctl', ('cas', {'channel': {'path': 1, 'timeslot': 16}, 'cmd': ('set', 0x0D)}), seq=13)),
    ('ioctl_rtpExt', command('ioctl', ('rtpExt', ('lemz', {
        'addr': {'session-addr': '10.0.0.9', 'session-ssrc': 0x80000000},
        'params': ('gw-set-selcall', {'flags': RADIO_FLAGS, 'ip': '10.0.0.10', 'ssrc': 17, 'cid': 'A'})})),
        seq=14, slot=18)),
    ('ioctl_selcal', command('ioctl', ('selcal', {'amp': -12, 'signs': '12345'}), seq=15, slot=19)),
    ('trunkCfg', command('trunkCfg', {'trunk': 3, 'mode': 'master'}, seq=16)),
    ('clockCfg', command('clockCfg', {'clkSel0': 'internal', 'bextEn': 'disabled', 'source': 2}, seq=17)),
    ('ping', command('ping', None, seq=2147483647)),
    ('display', command('display', ('snmp-set', {'commands': [
        {'uniq': 1, 'id': ('name', {'section': 'power', 'name': 'state', 'index': 0}), 'value': 'main'},
        {'uniq': 2, 'id': ('oid', '1.3.6.1.4.1'), 'value': '7'}]}), seq=18)),
    ('protoLemz', command('protoLemz', {'packets': []}, seq=19)),
]

RESPONSES = [('success', message(('response', ('success', None)), seq=1, slot=5))] + [
    ('error_' + cause, message(('response', ('error', cause)), seq=100 + n))
    for n, cause in enumerate(['invalidParams', 'insufficientResources', 'invalidSlot', 'slotNotExists',
                               'unexpectedMsgType', 'internal', 'unsupported', 'reconnectionFail',
                               'disconnectFail', 'connectFail', 'busError', 'slotIdBusy', 'destroyInProgress'])]

SIGNALS = [
    ('query', signal('query', {'boardMajor': 2, 'boardMinor': 1,
                               'drvVersion': {'type': 'snapshot', 'version': '1.2.3', 'date': '2026-12-06',
                                              'revision': 4711},
                               'rtp-g729': 8, 'rtp-g723': 0, 'rtp-g711': 64, 'rtp-g711mcc': 2, 'modem': 4,
                               'mixer': [{'unit': 0, 'tdm_inputs': 32, 'tdm_outputs': 32, 'mixer_inputs': 16,
                                          'dpu_per_mixer': 1, 'dpu_per_ec': 2, 'dpu_per_lms': 3}],
                               'mux': True, 'mcc-data': 1, 'mcc-bri': 2, 'mcc-trans': 3, 'echoBus': [4, 5],
                               't38-instances': 6, 'digital-modems': 7, 'lin16': 8, 'universal': 9})),
    ('tonec', signal('tonec', {'timestamp': 123456, 'event': ('dtmf', 11)}, slot=20)),
    ('tonec_dtmfDone', signal('tonec', {'timestamp': 1, 'event': ('dtmfDone', None)}, slot=20)),
    ('number', signal('number', '5551234', slot=21)),
    ('modemProceeding', signal('modemProceeding', ('acct', {
        'octetsOut': {'low': -1, 'high': 1}, 'octetsIn': {'low': 2, 'high': 0},
        'packetsOut': {'low': 3, 'high': 0}, 'packetsIn': {'low': 4, 'high': 0}, 'time': {'low': 60, 'high': 0}}),
        slot=22)),
    ('modemInformation', signal('modemInformation', {'rxSpeed': 33600, 'txSpeed': 31200, 'carrier': 'v34'},
                                slot=22)),
    ('activated', signal('activated', None, slot=23)),
    ('deactivated', signal('deactivated', 'otherError', slot=23)),
    ('abort', signal('abort', -2, slot=23)),
    ('userData', signal('userData', b'\x01', slot=24)),
    ('receiver', signal('receiver', ('active', 8000), slot=25)),
    ('transmitter', signal('transmitter', ('inactive', None), slot=25)),
    ('trunkStatus', signal('trunkStatus', {'trunk': 1, 'state': 'ais', 'slips': 2, 'lossBF': 3, 'lossCarrier': 4,
                                           'lossAIS': 5, 'lossRAI': 6, 'name': 'E1-1', 'clockMaster': True,
                                           'type': 'bri'})),
    ('ioctl', signal('ioctl', ('isdnLinkInfo', {
        'side': 'network', 'msuTxCount': 1, 'msuRxCount': 2, 'mT200': 3, 'mT203': 4, 'errors': 5, 'retrains': 6,
        'rejected': 7, 'badconfirm': 8, 'outOverflows': 9, 'ackOverflows': 10,
        'lapdState': 'multiple-frame-established', 'rc': 11, 'peerBusy': False, 'ownBusy': True,
        'rejException': False, 'ackPending': True, 'l3Initiated': False, 'establishable': True,
        'queuedUpRQ': False, 'retrRQ': True, 'ackRQ': False, 't200run': True, 't203run': False,
        'vs': 127, 'va': 126, 'vr': 125, 'queueOut': 0, 'queueAck': 1}), slot=26)),
    ('loadAvg', signal('loadAvg', {'average1': 1, 'average5': 2, 'average15': 3, 'cpuUseage': 4, 'cpuNicage': 5,
                                   'cpuIdlage': 6, 'cpuSysage': 7})),
    ('cas', signal('cas', {'channel': {'path': 0, 'timeslot': 1}, 'rx': 9, 'tx': 6})),
    ('rtpExt_lemz', signal('rtpExt', {'status': ('lemz', LEMZ_STATUS), 'rx-delay': 20, 'bss-enable': True},
                           slot=27)),
    ('rtpExt_ed137', signal('rtpExt', {'status': ('ed-137', {'header': ED137_HEADER, 'radio-response': ED137_RESPONSE,
                                                            'sqi': {'bss-method': 'agc', 'bss-quality': 31}}),
                                       'request': ('ed-137', {'addr': {'session-addr': '1.2.3.4', 'session-ssrc': 5},
                                                             'params': ('tx', {'header': ED137_HEADER})}),
                                       'selcal-delay': 100}, slot=28)),
    ('vad', signal('vad', {'vad-rx': True}, slot=29)),
    ('power', signal('power', 'both')),
    ('protoLemz', signal('protoLemz', {'packets': [{
        'msgLength': 12, 'msgSeqNum': 1, 'msgID': 'gw-rad-state', 'stateProtocol': 'protocol-v2',
        'stateMode': 'radio', 'stateMaster': 1, 'srcAddr': 'rgw', 'srcChannel': 0, 'dstAddr': 'lgw',
        'dstChannel': 1, 'payload': ('gw-rad-state', {
            'channel': 1, 'type': 'selCh',
            'payload': ('selCh', {'select-interface': 2, 'select-channel': 3})})}]}, slot=30)),
    ('sd', signal('sd', {}, slot=31)),
    ('bss', signal('bss', {'score': '15'}, slot=32)),
    ('rtp', signal('rtp', ('pd', {'value': 1, 'timeout': 2000}), slot=33)),
    ('selcal', signal('selcal', {'in-progress': True}, slot=34)),
]


def packet(msg_id, payload_value, seq=0, mode='radio', src='lgw', dst='rgw'):
    return {'msgLength': 0, 'msgSeqNum': seq, 'msgID': msg_id, 'stateProtocol': 'protocol-v1',
            'stateMode': mode, 'stateMaster': 0, 'srcAddr': src, 'srcChannel': 0, 'dstAddr': dst,
            'dstChannel': 0, 'payload': (msg_id, payload_value)}


UART = {'baud': 9600, 'data-bits': 'bits8', 'parity-bit': 'even', 'stop-bits': 'bits2', 'mode': 'rs232'}

LEMZ_PACKETS = {'packets': [
    packet('gw-get-id', None),
    packet('gw-keep-alive', ('keep-alive-v2', {'gateway-id': 7, 'bus-windows-size': 16}), seq=1),
    packet('gw-rad-ptt-on', {'channel': 1, 'payload': [1, 2, 255]}, seq=2),
    packet('gw-rad-command', {'channel': 0, 'command': 'actCh', 'payload': ('actCh', None)}, seq=3),
    packet('gw-client-p1', {'command': 'p1-cln-file-load', 'session': 9,
                            'payload': ('p1-cln-file-load', {'block-number': 3, 'block': [0, 1, 2]})}, seq=4),
    packet('gw-get-info', {'request-code': 'infoRcEchoEstimate2WireLine2'}, seq=5),
    packet('gw-service-cmd', {'command': 'reboot'}, seq=6),
    packet('dli-rad-command', {'channel': 2, 'command': 'bssScore',
                               'payload': ('bssScore', {'snr': '12.5'})}, seq=7, src='dli'),
    packet('dli-server-p1', {'command': 'p1-srv-ack', 'session': 1, 'payload': ('p1-srv-ack', {
        'result': 'p1-srv-sts-filesize-err', 'ack-command': 'p1-cln-load-commit-force',
        'payload': {'p1-file-load': {'data-processed': 512, 'block-number': 2}}})}, seq=8, src='dli'),
    packet('ali-set-config', ('radio-v1', {
        'channels': [{'radio-type': 1, 'radio-conn': 2, 'agc1-tx': True, 'agc2-rx': False, 'mixer-doc': True,
                      'uart-config': UART}],
        'gain-id': ['rtx1', 'rsh', 'fake', 'spi'], 'gain-values': [128, -1], 'pattern': []}), seq=9, src='ali'),
    packet('ali-rad-state', {'channel': 1, 'type': 'stateBits', 'payload': ('stateBits', {
        'attach': True, 'ptt': False, 'self-hear': True, 'radio-power': False, 'radio-reserv': True,
        'detected-rx': False, 'detected-tx': True, 'rs-tx': False, 'rs-error': True})}, seq=10, src='ali'),
    packet('ali-server-p1', {'command': 'p1-any-packet', 'session': 0, 'payload': ('p1-any-packet', None)},
           seq=11, src='ali', mode='lce'),
    packet('gw-set-config', ('ggs-digital-v2', {
        'channels': [{'enable': True, 'wire': 4, 'ggs-type-call': 'em',
                      'channel': ('em', {'ec': True, 'duplex': False, 'agc': True, 'vad-timeout': 1,
                                         'vad-window': 2, 'vad-detector-level': -3, 'dtmf-signal-level': 4,
                                         'dtmf-mark-time': 5, 'dtmf-space-time': 6,
                                         'dtmf-delay-befor-1st-mark-time': 7, 'dtmf-detector-level': 8,
                                         'dtmf-detector-mark-min-time': 9, 'dtmf-detector_mark-max-time': 10,
                                         'dtmf-detector-space-min-time': 11, 'delay-rx': 12}),
                      'gain-tx': -6, 'gain-rx': 6}],
        'lines': {'lines': [{'line-control': True, 'line-echo-threshold': '-30'}]}}), seq=12, mode='ggs'),
]}

MON_MESSAGES = [
    ('command_snmp_set', {'pdu': ('command', ('snmp-set', {'commands': [
        {'uniq': 1, 'id': ('name', {'section': 'e1', 'name': 'framer', 'index': 3}), 'value': 'ok'}]}))}),
    ('command_trapsinks', {'pdu': ('command', ('snmp-trapsink-set', {'trapsinks': [
        {'host': '10.0.0.1'}, {'host': 'nms.example', 'port': 162}]}))}),
    ('command_traps', {'pdu': ('command', ('snmp-trap-send', {'traps': [{'trap': ('oid', '1.3.6.1.6.3.1.1.5.1')},
                                                                         {'trap': ('name', 'coldStart')}]}))}),
    ('command_ping', {'pdu': ('command', ('ping', None))}),
    ('response_snmp_set', {'pdu': ('response', ('snmp-set', {'responses': [
        {'uniq': 1, 'response': ('success', None)}, {'uniq': 2, 'response': ('error', 'wrongValue')}]}))}),
    ('response_trapsinks', {'pdu': ('response', ('snmp-trapsink-set', ('success', None)))}),
    ('response_traps', {'pdu': ('response', ('snmp-trap-send', ('error', 'itemNotFound')))}),
    ('response_ping', {'pdu': ('response', ('ping', ('success', None)))}),
    ('signal_snmp_set', {'pdu': ('signal', ('snmp-set', {'oid': '1.3.6.1.2.1.1.5.0',
                                                         'name': {'section': 's', 'name': 'n', 'index': -1},
                                                         'value': 'board'}))}),
]

# (name, top-level type, value), in the order of the fixture file
VECTORS = ([('command_' + n, 'LGCP::Message', v) for n, v in COMMANDS]
           + [('response_' + n, 'LGCP::Message', v) for n, v in RESPONSES]
           + [('signal_' + n, 'LGCP::Message', v) for n, v in SIGNALS]
           + [('lemz_packets', 'LEMZGW::ProtoLemzPackets', LEMZ_PACKETS),
              ('command_protoLemz_full', 'LGCP::Message', command('protoLemz', LEMZ_PACKETS, seq=20))]
           + [('mon_' + n, 'MON::Message', v) for n, v in MON_MESSAGES])
