#!/usr/bin/env python3
"""Writes the checked-in seed corpora fuzz/seeds/<target>/ (of propertylist only broken
copies of the application's own layout lists, which are checked in as they are). The
same seeds come out on every run.

    python3 fuzz/make_seeds.py

Each seed is small; the targets that read lines (timecode) or one long field (decode)
take many cases per seed, so a few dozen files hold whole sweeps: every screen row and
minute edge, fields built from the code tables' own patterns, glued runs, hostile
timecode fields, code fields of every kind of character."""
import os
import random
import re
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(ROOT, '..', 'tests', 'data')
rng = random.Random(20240601)


def write(target, name, data):
    folder = os.path.join(ROOT, 'seeds', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode('utf-8', 'surrogateescape'))


def sample(name):
    with open(os.path.join(DATA, name), 'rb') as f:
        return f.read()


def dictionary(name):
    words = []
    for line in open(os.path.join(ROOT, name), encoding='latin-1'):
        m = re.match(r'^"(.*)"\s*$', line.strip())
        if m:
            words.append(re.sub(r'\\x([0-9a-fA-F]{2})', lambda h: chr(int(h.group(1), 16)), m.group(1))
                         .encode('latin-1'))
    return words


def scramble(piece):
    return bytes(c ^ 0x20 if chr(c).isalpha() and rng.random() < 0.5 else c for c in piece)


# ---- decode: one code field per seed, at most 4096 bytes -----------------------------------
codes = dictionary('decode.dict')
groups = [c for c in codes if len(c) == 4 and re.fullmatch(rb'[0-9a-f]{4}', c)]
pieces = codes + [g[:2] for g in groups] + [g[2:] for g in groups] + [g[1:] for g in groups] + [
    b'80', b'8080', b'|', b'||', b'| |', b' ', b'9', b'1', b'97A', '\u266A'.encode(), b'\xc3', b'\xa9', b'\xff',
    b'\xe2\x99', b'{', b'--', b'\t']
for n in range(12):  # fields of table patterns, their pieces, any byte, any case
    field = b''
    while len(field) < 1500:
        kind = rng.randrange(9)
        if kind == 0:
            field += bytes([rng.randrange(256)])
        elif kind == 1:
            field += ''.join(rng.choice(['0123456789abcdef', '0123456789ABCDEF', '0123456789abcdefABCDEF'][n % 3])
                             for _ in range(4)).encode()
        elif kind == 2:
            field += rng.choice(pieces).upper()
        elif kind == 3:
            field += scramble(rng.choice(pieces))
        else:
            field += rng.choice(pieces)
        if rng.randrange(3):
            field += b' '
    write('decode', 'pieces-%02d' % n, field)
glue = groups + [b'c8e9', b'2520', b'6162', b'9', b'1', b'94', b'20', b'd0', b'2']
for n in range(12):  # groups without spaces: runs far longer than a group
    run = b''
    while len(run) < 257 + n * 60:
        piece = rng.choice(glue)
        run += scramble(piece) if rng.randrange(4) == 0 else piece
    write('decode', 'glued-%02d' % n, run + (b' 9420 ' + run[:300] if n % 3 == 0 else b''))
for digits in ('914', '9Ae4c', '9412| '):  # few digits in endless combinations
    write('decode', 'soup-' + re.sub('[^0-9A-Za-z]', '_', digits), ''.join(rng.choice(digits) for _ in range(2048)))
for name in ('cea608js-allchars.scc', 'ccx-special_chars.scc', 'cea608js-backgrounds.scc'):
    for n, line in enumerate(l for l in sample(name).splitlines() if b'\t' in l):
        write('decode', '%s-%02d' % (name[:-4].replace('special_', ''), n), line.split(b'\t')[1])
        if n == 3:
            break

# ---- timecode: lines of timecode TAB code field ---------------------------------------------


def code(length):
    return ('9420 ' * (length // 5 + 1))[:length]


def seconds_field(x):
    return '00:00:%s:00' % repr(x)


def timecode_seed(name, lines, tail=b''):
    write('timecode', name, ('\n'.join(lines)).encode('utf-8', 'surrogateescape') + tail)


seps = ':;'
lines = []
for minute in range(121):  # the frames around every minute edge of two hours, every separator
    for frame in range(minute * 1800 - 2, minute * 1800 + 3):
        if frame < 0:
            continue
        f = frame
        tc = '%02d%s%02d%s%02d%s%02d' % (f // 108000, seps[f & 1], f // 1800 % 60, seps[(f >> 1) & 1], f // 30 % 60,
                                         seps[(f >> 2) & 1], f % 30)
        lines.append(tc + '\t' + code([f % 401, (f * 7 + 3) % 150, 4 + (f // 3 % 60) * 5][minute % 3] if minute % 4 == 0 else f % 41))
timecode_seed('minute-edges', lines)
for hour in (9, 10, 24, 99, 100, 1000, 999999, 1000000000):  # hour digits widen, hours never wrap
    lines = ['%02d:%s:%02d:%02d\t%s' % (hour - (m < 0), '59' if m < 0 else '00', s, fr, code(rng.randrange(60)))
             for m in (-1, 0) for s in (0, 1, 58, 59) for fr in (0, 1, 28, 29)]
    timecode_seed('hour-%d' % hour, lines)
for n in range(4):  # random frames anywhere in a day
    timecode_seed('frames-%d' % n, ['%02d:%02d:%02d;%02d\t%s' % (rng.randrange(24), rng.randrange(60), rng.randrange(60),
                                                                 rng.randrange(30), code(rng.randrange(400 if i % 10 == 0 else 40)))
                                    for i in range(150)])
edges = []
for n in list(range(1, 131, 7)) + [h * 60 + d for h in (1, 2, 10, 24, 100, 1e4, 1e6, 999999999, 1e9) for d in (-1, 0, 1)]:
    for x in (60 * n, 60 * n - 0.005, 60 * n + 0.005, 60 * n - 0.01):
        edges.append(seconds_field(x) + '\t' + code(int(n) % 20))
        edges.append(seconds_field(x - 9 / 150) + '\t' + code(9))
timecode_seed('rounding-edges', edges)
timecode_seed('half-hundredths', [seconds_field(base + (h + 0.5) / 100) for base in (0.0, 60.0, 3540.0, 3600.0, 86340.0,
                                                                                     3.6e9, 3.6e12 - 60)
                                  for h in range(0, 6000, 37)] + [seconds_field(x) for x in (0.125, 59.375, 59.995)])
for n in range(3):  # every magnitude, negative ones among them
    timecode_seed('magnitudes-%d' % n, [seconds_field(10 ** rng.uniform(-12, 13) * (1 if i % 5 else -1)) + '\t' +
                                        code(rng.randrange(500 if i % 10 == 0 else 40)) for i in range(200)])
odd_doubles = [0.0, -0.0, 5e-324, 2.2250738585072014e-308, 2.2e-308, 1e-300, 3.6e12, 3599999999999.9995, 3600000000000.0005,
            1.7976931348623157e308]
timecode_seed('odd-doubles', [seconds_field(x) + '\t' + code(c) for x in odd_doubles for c in (0, 1, 9)])
n9, n20, n400 = '9' * 9, '9' * 20, '9' * 400
sub = '0.' + '0' * 320 + '5'
hostile = ['', ';', ';;;;', ':::', '::::::', '99:99:99:99', '00:00:00:00:00:00', '1:2:3', '1:2', '1', '00:01:02:15 extra',
           ' 01:02:03:04', '01 :02 :03 :04', '+01:-02:+03:-04', '-00:00:05:00', '-01:00:00:00', '01.5:00:00:00',
           '00:00:05.:15', '00:00:.5:15', '00:00:5e3:00', '0x10:00:00:00', 'ab:cd:ef:gh', '00:00:00:00\r',
           '\uff11\uff12:00:00:00', '00:00:59:29.999', '00:00:59;29;99', '- 1:00:00:00', '--1:00:00:00', '1-:00:00:00',
           '999999999999999:00:00:00', '9999999999999999:00:00:00', '00:00:00:999999999999999', n20 + ':00:00:00',
           '00:' + n20 + ':00:00', '00:00:' + n20 + ':00', '00:00:00:' + n20, '-0:-0:-0:-0', '00:00:00:' + sub,
           '00:00:' + sub + ':00', '0.' + n9 * 40 + ':00:00:00', '1' + '0' * 308 + ':00:00:00']
timecode_seed('hostile', [f + '\t' + code(c) for f in hostile for c in (0, 4, 44)])
timecode_seed('hostile-huge', [n400 + ':00:00:00', '00:00:' + n400 + ':00', '-' + n400 + ':00:00:00',
                               n400 + ':-' + n400 + ':00:00'])
usual = '12:34:56;17'
timecode_seed('one-changed', [usual[:i] + c + usual[i + 1:] + '\t' + code(29 * (i % 2)) for i in range(len(usual))
                              for c in '09:;/. -+a\x80\0'])
alphabet = '0123456789' * 4 + '::::;;;  --++..ae\t\x80\xc3\xa9'
junk = ['', '', '', '', ' ', '-', '+', '.', '5', 'x', '.25', '0']
for n in range(3):  # random texts, and well-formed shapes with junk and fields of any width
    timecode_seed('shapes-%d' % n, [''.join(rng.choice(alphabet) for _ in range(rng.randrange(25))) if i % 2 else
                                    (':' if i % 3 else ';').join(rng.choice(junk) + ''.join(
                                        rng.choice('0123456789') for _ in range(rng.randrange(3 if i % 4 else 23))) +
                                        rng.choice(junk) for _ in range(4)) for i in range(300)])
for n, piece in enumerate(['\u266a', '\xe9', '\U0001F3B5', '\udc80', '\udcff', '\udce2\udc99', '\udcc0\udcaf',
                           '\udced\udca0\udc80', '\udcf4\udc90\udc80\udc80', '\ufffd', '\udcf0\udc9f\udc8e', '\x7f']):
    # code fields one character apart, 5 ms apart: a miscounted length changes the text
    timecode_seed('characters-%02d' % n, [tc + '\t' + code(b) + piece + code(a) for b in range(20) for a in (0, 1, 7, 30)
                                          for tc in ('00:00:00:00', '00:00:00.005:00')])
timecode_seed('bytes', ['00:00:00.005:00\t' + bytes(rng.randrange(256) for _ in range(rng.randrange(70)))
                        .replace(b'\n', b' ').decode('utf-8', 'surrogateescape') for _ in range(200)])
for name in ('gstrs-timecodes-cut-down-sample.scc', 'nodecaptions-time-test.scc', 'cea608js-offsets.scc'):
    write('timecode', name[:-4], sample(name))
timecode_seed('double-bits', ['00:00:59:29'], b'\t' + struct.pack('<d', 59.996))

# ---- propertylist: broken copies of the application's own lists -----------------------------
for name in ('ProgressBar1', 'Window'):
    path = os.path.join(ROOT, 'seeds', 'propertylist', name)
    if os.path.exists(path):
        data = open(path, 'rb').read()
        write('propertylist', 'cut-' + name, data[:len(data) // 2])
        write('propertylist', 'flipped-' + name, data[:len(data) // 3] + bytes([data[len(data) // 3] ^ 0x41]) + data[len(data) // 3 + 1:])

# ---- import: mode byte, then the file -------------------------------------------------------
small = ['ccx-popon_basic.scc', 'ccx-rollup_basic.scc', 'cea608js-midrow_flash.scc', 'cea608js-strange_stuff.scc',
         'pycaption-example.scc', 'pycaption-sample_scc_empty.scc', 'pycaption-sample_scc_eoc_first_command.scc',
         'pycaption-sample_scc_with_italics.scc', 'pycaption-sample_scc_with_unknown_commands.scc']
for n, name in enumerate(small):
    write('import', '%02x-%s' % ([0, 1, 2][n % 3], name[:-4]), bytes([[0, 1, 2][n % 3]]) + sample(name))
odd = {
    'no-tabs': b'Scenarist_SCC V1.0\n\n00:00:01:00 9420 c8e9\n00:00:02:00\t\t9420\n00:00:03:00',
    'lone-cr': b'Scenarist_SCC V1.0\r\r00:00:01:00\t9420 c8e9\r\r00:00:02:00\tC8E9 942C\r',
    'crlf-bom': b'\xef\xbb\xbfScenarist_SCC V1.0\r\n\r\n00:00:01:00\t94AE 94ae c8E9\r\n',
    'no-timecode': b'h\n00:00:01:00\tc8e9\n12:3\n   \n00:00:04:00\tc8e9\n',
    'bad-utf8': b'h\n00:00:01:00\t\xc3\x80\xa9 c1\xff\n\xed\xa0\x80:00\tc1c1\n',
    'empty': b'', 'header-only': b'Scenarist_SCC V1.0\n',
}
for n, (name, data) in enumerate(odd.items()):
    write('import', '%02x-%s' % (n % 3, name), bytes([n % 3]) + data)
write('import', '1f-megabyte-header', b'\x1f' + sample('pycaption-example.scc'))

# ---- transcript: flags, eight seed bytes, then the text -------------------------------------
key = bytes.fromhex('123456789abcdef0')
raw = b'00:00:01,50\t||\n\t| \n1,5,7\ta|b|c|d\n\t|*\n\t*|\n\t  \n\t|\xc3\xa9|\n\t || \nno tab here\n\t \n00:00:02:03\t'
for flags in range(16):
    write('transcript', '%02x-raw' % flags, bytes([flags]) + bytes([flags * 17]) + key[1:] + raw)
for n, name in enumerate(['ccx-popon_basic.scc', 'cea608js-midrow_flash.scc', 'pycaption-example.scc',
                          'pycaption-sample_scc_with_italics.scc', 'cea608js-strange_stuff.scc',
                          'pycaption-sample_scc_special_and_extended_characters.scc']):
    flags = [1, 3, 5, 9, 1, 1][n]
    write('transcript', '%02x-%s' % (flags, name[:-4].replace('special_and_', '')), bytes([flags]) + key + sample(name))

# ---- textstream: the file, then two control bytes -------------------------------------------
texts = {
    'lf': b'a\nb\n\nc', 'crlf': b'a\r\nb\r\n\r\nc\r\n', 'cr': b'a\rb\r\rc\r', 'mixed': b'\r\n\n\r\r\na\n\rb',
    'bom': b'\xef\xbb\xbfa\nb', 'bom-only': b'\xef\xbb\xbf', 'bom-twice': b'\xef\xbb\xbf\xef\xbb\xbfx\n',
    'half-bom': b'\xef\xbbx\n', 'empty': b'', 'one-lf': b'\n', 'one-cr': b'\r',
    'utf8': '\u266a caf\xe9 \U0001F3B5\n'.encode(),
    'ill-formed': b'\x80\xbf\xc0\xaf\xc3\n\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xf0\x9f\x8e\xe2\x99x\xff\xfe\n',
    'cut-ends': b'\xe2\x99', 'scc': sample('ccx-rollup_basic.scc'),
}
for name, data in texts.items():
    write('textstream', name, data + b'\x00\x00')
for n, name in enumerate(['crlf', 'cr', 'utf8', 'ill-formed', 'bom', 'mixed']):
    data = texts[name]
    for cut in range(0, len(data) + 1, max(1, len(data) // 3)):  # the 64 KB block ends inside the input
        write('textstream', '%s-cut%02d' % (name, cut), data + struct.pack('<H', 1 | cut << 1 | (0x8000 if n % 2 else 0)))
    write('textstream', name + '-small', data + struct.pack('<H', 2 | (n * 3) << 4))
    write('textstream', name + '-fail', data + struct.pack('<H', 0x0c | (n * 5) << 6))

# ---- long roads: short inputs that stand for lines and fields of megabytes -----------------
# decode: byte 1, 2 or 3, a byte saying where, then what goes at the edge of the first 64 KB
note = '\u266a'.encode()
write('decode', 'edge-across-groups', b'\x01\x05c8e9 2520 9137 c1c2')
write('decode', 'edge-formed-code', b'\x01\x07C1c2 97 A1c4 45 94AE')
write('decode', 'edge-in-glued-run', b'\x01\x05c8e92520c1c2 9137 c1c2')
write('decode', 'edge-units', b'\x02\x83z' + note + '\xe9\U0001F3B5c1 c8e9'.encode())
write('decode', 'edge-run-soup', b'\x03\x40' + ''.join(rng.choice('914') for _ in range(61)).encode())
write('decode', 'edge-run-formed', b'\x03\x01111111194594f88')
write('decode', 'edge-run-glued', b'\x03\x80' + ''.join(rng.choice('0123456789abcdef') for _ in range(600)).encode())
# import: a megabyte of spaces into the first caption line, so that its edge falls before
# the timecode's colon, before a tab, or inside a character of the code field
caption = b'Scenarist_SCC V1.0\n\n00:00:01:00\t9420 9420 c8e9 \xc3\xa9 1337 \xe2\x99\xaa\n00:00:02:00\t942c\n'
write('import', '21-megabyte-in-timecode', b'\x21\x02\x00' + caption)
write('import', '20-megabyte-before-colon', b'\x20\x06\x00h\n1:2:00:5\t9420 c8e9\n')
write('import', '21-megabyte-before-tab', b'\x21\x0b\x00' + caption)
write('import', '61-megabyte-in-code-field', b'\x61\x10\x00' + caption)
write('import', '61-megabyte-before-second-tab', b'\x61\x09\x00h\n00:00:01:00\t9420 c8e9\tnote: 12\n')
write('import', '60-megabyte-in-code-field', b'\x60\x18\x00' + caption)
# timecode: the first line's code field behind a megabyte (two) of spaces, a character
# cut by the edge
write('timecode', 'megabyte-edge', b'\x01\x06' + '00:00:01:15\t9420 \u266a c8e9\n00:00:02:00\t9420'.encode())
write('timecode', 'two-megabytes-edge', b'\x01\x8b00:00:59:29\t\xc3\xa9 9420 \xf0\x9f\x8e\xb5 c8e9')


# textstream: the first line glued behind two megabytes, whose edge cuts a character
def megabyte_control(data, cut):
    v = 0x2000 + (cut - 0x2000) % (len(data) + 1)
    return struct.pack('<H', (v << 1) | 1)


for name, data, cut in (('megabyte-utf8', '\xe9\u266a\U0001F3B5 x\r\nnext\n'.encode(), 1),
                        ('megabyte-ill-formed', b'\xa9\xe2\x99 \xf0\x9f\x8e\xc3 x\r\nnext', 0),
                        ('megabyte-ill-formed-late', b'y\xa9\xe2\x99 \xf0\x9f\x8e\xc3 x\nnext', 0)):
    write('textstream', name, data + megabyte_control(data, cut))
