#!/usr/bin/env python3
"""Generates the build's view of the registry.

  gen.py SRCDIR OUTDIR
writes into OUTDIR:
  entries_<dir>.cpp   the entry points of every present family in <dir>
  exports.map         the linker version script: present exports global, all else local
  exports.txt         present export names, one a line
  registry.inc        every export as a C++ initialiser (for tests, qarn, bench)
Files are rewritten only when their contents change, so ninja rebuilds only what moved.
"""
import os, re, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import registry as R

# Kinds of the conversions and integer division, whose kernels work on blocks of
# four lanes of any lane type (frame/plain.h).  Every other kind goes through the
# one frame of frame/frame.h, which serves any kind its `sig` accepts.
PLAIN_KINDS = {'F:i', 'F:l', 'F:u', 'F:q', 'D:i', 'D:l', 'D:u', 'D:q', 'i:F', 'i:D', 'l:F', 'l:D',
               'u:F', 'u:D', 'q:F', 'q:D', 'D:F', 'ii:i', 'uu:u', 'ii:ii', 'uu:uu'}
FRAME_KINDS = {'f:f', 'ff:f', 'fff:f', 'fi:f', 'c:f', 'f:i', 'f:ff', 'f:fpf', 'f:fpi', 'ff:fpi'}

class RegistryError(Exception):
    pass

def check_buildable(row):
    if row['kind'] not in PLAIN_KINDS | FRAME_KINDS:
        raise RegistryError('%s: kind %r has no frame form' % (row['name'], row['kind']))
    if row['ulp'] < 0:
        raise RegistryError('%s: no accuracy bound stated (ULP_BOUND in frame/registry.py)' % row['name'])

def vec_ctype(k, prec, nbytes):
    lb = R.lane_bytes(k, prec)
    flt = k == 'F' or (k == 'f' and prec == 'f')
    dbl = k == 'D' or (k == 'f' and prec == 'd')
    base = '__m128' if nbytes <= 16 else '__m256'
    return base + ('' if flt else 'd' if dbl else 'i')

def int_ctype(k, prec):
    lb = R.lane_bytes(k, prec)
    signed = k in 'il'
    return ('int' if signed else 'uint') + str(8 * lb) + '_t'

def signature(row):
    """(return C type, [param decls], [call args]) of a register-form export."""
    args, ptrs, res = R.parse_kind(row['kind'])
    prec, w = row['prec'], row['width']
    vparams, gprs = [], []
    for i, k in enumerate(args):
        if w == 1 and k in 'iulqc':
            gprs.append((int_ctype(k, prec), 'a%d' % i))
        else:
            n = R.regs_for(R.storage(R.lane_bytes(k, prec), w))
            ct = vec_ctype(k, prec, R.storage(R.lane_bytes(k, prec), w) if n == 1 else 32)
            for j in range(n):
                vparams.append((ct, 'a%d_%d' % (i, j)))
    for i, k in enumerate(ptrs):
        gprs.append(('void*', 'p%d' % i))
    # Our integer registers rcx, rdx, r8, r9 are System V argument slots 4, 3, 5, 6;
    # slots 1 and 2 (rdi, rsi) are placeholders the body never touches.
    slots = [None] * 6
    for (ct, nm), s in zip(gprs, (3, 2, 4, 5)):
        slots[s] = (ct, nm)
    last = max([i for i, s in enumerate(slots) if s] or [-1])
    gp = []
    for i in range(last + 1):
        gp.append(slots[i] if slots[i] else ('long', '_unused%d' % i))
    # Placeholders stay unnamed: the body never reads them.
    params = [p[0] if p[1].startswith('_unused') else '%s %s' % p for p in vparams + gp]
    call = [nm for _, nm in vparams] + [nm for _, nm in gprs]
    rk = res[0]
    if w == 1 and rk in 'iulq':
        rt = 'uint64_t' if len(res) == 2 else int_ctype(rk, prec)
    else:
        nb = R.storage(R.lane_bytes(rk, prec), w)
        rt = vec_ctype(rk, prec, nb if nb <= 32 else 32)
    return rt, params, call

def frame_args(row):
    """Template arguments of the frame after the kernel and the width."""
    fb = '&' + row['fallback'] if row['fallback'] else 'nullptr'
    return '"%s", %r, qarn::frame::lanes::%s, %s' % (row['kind'], row['filler_value'], row['lanes'], fb)

def convention(row):
    """Calling-convention attribute of an export: the by-reference form is an ordinary
    Windows x64 function, the register form follows the library's own convention."""
    return 'QARN_MS' if row['form'] == 'ref' else 'QARN_REG'

def entry(row, body_name):
    k, w = row['kernel'], row['width']
    if row['form'] == 'ref':
        args, ptrs, res = R.parse_kind(row['kind'])
        ps = ['void* out'] + ['const void* a%d' % i for i in range(len(args))] + ['void* p%d' % i for i in range(len(ptrs))]
        call = ['out'] + ['a%d' % i for i in range(len(args))] + ['p%d' % i for i in range(len(ptrs))]
        return ('extern "C" QARN_API %s void* %s(%s) {\n  return qarn::frame::ref<%s, %d, %s>(%s);\n}\n'
                % (convention(row), body_name, ', '.join(ps), k, w, frame_args(row), ', '.join(call)))
    rt, params, call = signature(row)
    if row['kind'] in PLAIN_KINDS:
        target = 'qarn::frame::plain<%s, %d>' % (k, w)
    else:
        target = 'qarn::frame::reg<%s, %d, %s>' % (k, w, frame_args(row))
    return ('extern "C" QARN_API %s %s %s(%s) {\n  return %s(%s);\n}\n'
            % (convention(row), rt, body_name, ', '.join(params), target, ', '.join(call)))

def fallback_params(r):
    """(C type, lane bytes) of every pointer a lane fallback takes: inputs, then outputs."""
    t = 'float' if r['prec'] == 'f' else 'double'
    lb = 4 if r['prec'] == 'f' else 8
    args, ptrs, res = R.parse_kind(r['kind'])
    lane = {'f': (t, lb), 'i': ('int32_t', 4)}
    return ([('const %s*' % lane[a][0], lane[a][1]) for a in args] +
            [('%s*' % lane[x][0], lane[x][1]) for x in res + ptrs])

def fallback_wraps(rows):
    """Recording wrappers of every lane fallback, for tests that link with
    --wrap=<fallback> (the options are in wrap.rsp)."""
    out = ['// Generated by frame/gen.py from the registry; do not edit.']
    seen = set()
    for r in rows:
        if not r['fallback'] or r['fallback'] in seen:
            continue
        seen.add(r['fallback'])
        ps = fallback_params(r)
        n_in = len(R.parse_kind(r['kind'])[0])
        decl = ', '.join('%s p%d' % (c, i) for i, (c, _) in enumerate(ps))
        names = ', '.join('p%d' % i for i in range(len(ps)))
        out.append('extern "C" __attribute__((ms_abi)) void __real_%s(%s);' % (r['fallback'], decl))
        out.append('extern "C" __attribute__((ms_abi)) void __wrap_%s(%s) {' % (r['fallback'], decl))
        out.append('  qarn::abi::record_fallback("%s", {%s}, {%s}, %d);' % (
            r['fallback'], ', '.join('uintptr_t(p%d)' % i for i in range(len(ps))),
            ', '.join(str(b) for _, b in ps), n_in))
        out.append('  __real_%s(%s);' % (r['fallback'], names))
        out.append('}')
    return '\n'.join(out) + '\n'

def fallback_decls(rows):
    """The lane fallbacks of the present families: pointers to one lane of every
    input, then of every output."""
    out = ['// Generated by frame/gen.py from the registry; do not edit.', '#pragma once',
           '#include <cstdint>', 'extern "C" {']
    seen = set()
    for r in rows:
        if not r['fallback'] or r['fallback'] in seen:
            continue
        seen.add(r['fallback'])
        ps = [c for c, _ in fallback_params(r)]
        out.append('__attribute__((ms_abi, visibility("hidden"))) void %s(%s);' % (r['fallback'], ', '.join(ps)))
    out.append('}')
    return '\n'.join(out) + '\n'

HEX = re.compile(r'\b(0x[0-9A-Fa-f]{1,16})(ull|ULL|u|U)\b')
KC = re.compile(r'kc<\s*\w+\s*,\s*(0x[0-9A-Fa-f]+)(ull|ULL|u|U)?\s*>')

def constants_header(src):
    """One weak 32-byte row per kc<V, value> found in the family sources."""
    k32, k64 = set(), set()
    for d in R.DIRS + ('frame',):
        for root, _, files in os.walk(os.path.join(src, d)):
            for f in files:
                if f.endswith(('.h', '.cpp')):
                    text = open(os.path.join(root, f)).read()
                    for m in KC.finditer(text):
                        (k64 if m.group(2) in ('ull', 'ULL') else k32).add(int(m.group(1), 16))
                    # Masks named elsewhere (kc<V, F<V>::sign>): every suffixed hex literal.
                    for m in HEX.finditer(text):
                        v = int(m.group(1), 16)
                        (k64 if m.group(2) in ('ull', 'ULL') or v > 0xFFFFFFFF else k32).add(v)
    out = ['// Generated by frame/gen.py from the kc<V, value> constants of the sources; do not edit.',
           '#pragma once', '#include <cstdint>', 'namespace qarn {']
    attr = '__attribute__((weak, visibility("hidden"), aligned(32)))'
    for v in sorted(k32):
        out.append('extern const uint32_t qarn_k32_%08X[8] %s = {%s};' % (v, attr, ', '.join(['0x%08Xu' % v] * 8)))
        out.append('template <> struct row32<0x%08Xu> { static constexpr const uint32_t* v = qarn_k32_%08X; };' % (v, v))
    for v in sorted(k64):
        out.append('extern const uint64_t qarn_k64_%016X[4] %s = {%s};' % (v, attr, ', '.join(['0x%016Xull' % v] * 4)))
        out.append('template <> struct row64<0x%016Xull> { static constexpr const uint64_t* v = qarn_k64_%016X; };' % (v, v))
    out.append('}  // namespace qarn')
    return '\n'.join(out) + '\n'


def write_if_changed(path, text):
    try:
        if open(path).read() == text:
            return
    except OSError:
        pass
    open(path, 'w').write(text)

def main():
    src, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    rows = R.exports()
    R.check(rows)
    present = [r for r in rows if os.path.exists(os.path.join(src, r['src']))]
    try:
        for r in present:
            check_buildable(r)
    except RegistryError as e:
        sys.exit('gen.py: %s' % e)
    names = {r['name'] for r in present}
    by_dir = {}
    for r in present:
        by_dir.setdefault(r['src'].split('/')[0], []).append(r)
    for d in R.DIRS:
        rs = by_dir.get(d, [])
        text = ['// Generated from frame/registry.py by frame/gen.py; do not edit.',
                '#include "frame/entry.h"']
        for h in sorted({r['src'] for r in rs}):
            text.append('#include "%s"' % h)
        text.append('')
        for r in rs:
            if r['body'] and r['body'] in names:
                # A second name, declared with the type of the code it names.
                if r['form'] == 'ref':
                    rt, params = 'void*', ['void*'] * (1 + sum(map(len, R.parse_kind(r['kind'])[:2])))
                else:
                    rt, params, _ = signature(r)
                text.append('extern "C" QARN_API %s %s %s(%s) __attribute__((alias("%s")));'
                            % (convention(r), rt, r['name'], ', '.join(params), r['body']))
            else:
                text.append(entry(r, r['name']))
        write_if_changed(os.path.join(out, 'entries_%s.cpp' % d), '\n'.join(text) + '\n')
    write_if_changed(os.path.join(out, 'constants.h'), constants_header(src))
    write_if_changed(os.path.join(out, 'fallbacks.h'), fallback_decls(present))
    write_if_changed(os.path.join(out, 'exports.map'),
                     '{\n  global:\n' + ''.join('    %s;\n' % n for n in sorted(names)) + '  local: *;\n};\n')
    write_if_changed(os.path.join(out, 'exports.txt'), ''.join(n + '\n' for n in sorted(names)))
    write_if_changed(os.path.join(out, 'exports_byref.txt'),
                     ''.join(r['name'] + '\n' for r in present if r['form'] == 'ref'))
    wrapped = sorted({r['fallback'] for r in present if r['fallback']})
    write_if_changed(os.path.join(out, 'fallback_wraps.inc'), fallback_wraps(present))
    write_if_changed(os.path.join(out, 'wrap.rsp'), ''.join('-Wl,--wrap=%s\n' % f for f in wrapped))
    inc = []
    for r in rows:
        inc.append('{"%s", "%s", \'%s\', %d, "%s", "%s", %s, %s, %s, "%s", "%s", %r, %r, %g, %s, '
                   '%r, %r, %r, %r, %s, "%s", %s, "%s", %s},' % (
            r['name'], r['family'], r['prec'], r['width'], r['variant'], r['kind'],
            'true' if r['form'] == 'ref' else 'false',
            'true' if r['name'] in names else 'false',
            '"%s"' % r['body'] if r['body'] else 'nullptr', r['filler'], r['stem'],
            float(r['lo']), float(r['hi']), r['ulp'], 'true' if r['estimate'] else 'false',
            float(r['bench'][0]), float(r['bench'][1]), float(r['ylo']), float(r['yhi']),
            'true' if r['logspaced'] else 'false', r['lanes'],
            '"%s"' % r['fallback'] if r['fallback'] else 'nullptr', r['rounding'],
            'true' if r['sat'] else 'false'))
    write_if_changed(os.path.join(out, 'registry.inc'), '\n'.join(inc) + '\n')

if __name__ == '__main__':
    main()
