#!/usr/bin/env python3
"""Where every argument and result of an export lives: in the library's register
form, and in the System V convention a C or C++ caller on Linux uses.

The register form of the arguments is read from the C++ signature the entries are
generated with (`signature()` in frame/gen.py: vector pieces in consecutive vector
registers, our integer registers rcx, rdx, r8, r9 placed in the matching System V
slots), so the placement here is the one the built code has.  Results follow the
register form's rule: consecutive register groups from register 0, width-1 integers
in rax, the two width-1 results of sincosreg in lanes 0 and 1 of xmm0 and of
idivrem/udivrem in the two halves of rax.

System V (x86-64 psABI with AVX, no AVX-512), for the C types of the header:
  - vectors of 8 or 16 bytes in xmm, of 32 bytes in ymm, in argument order;
  - width-1 integers and pointers in rdi, rsi, rdx, rcx, r8, r9;
  - vectors of 64 or 128 bytes in memory on the stack, in argument order;
  - a result of 64 or 128 bytes, or a pair of vectors wider than 8 bytes, in memory
    through a hidden pointer in rdi (which then takes the first integer slot);
    Clang returns a bare 64- or 128-byte vector in ymm0.. instead (GCC uses the
    hidden pointer), so such exports have a second shim for Clang callers;
  - a pair {float, float} comes back in the low 8 bytes of xmm0, {double, double}
    in xmm0 and xmm1, {int32, int32} in rax, a pair of 8-byte vectors in xmm0 and
    xmm1.

Locations are strings: 'xmm0', 'ymm2' (a whole register), 'rcx' (an integer or
pointer), 'stack+64' (bytes above the return address, minus 8), 'xmm0.1' and
'rax.1' (lane 1 of a register holding both results of a width-1 pair), 'mem'
(the result goes through the hidden pointer).
"""
import os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'frame'))  # registry, gen
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import registry as R
import gen as G

SYSV_GPRS = ('rdi', 'rsi', 'rdx', 'rcx', 'r8', 'r9')
LIB_GPRS = ('rcx', 'rdx', 'r8', 'r9')
INT_KINDS = 'iulqc'


def arg_kinds(row):
    args, ptrs, res = R.parse_kind(row['kind'])
    return args, ptrs, res


def nbytes(row, k):
    """Storage of one vector of kind k at the export's width."""
    return R.storage(R.lane_bytes(k, row['prec']), row['width'])


def is_scalar_int(row, k):
    return row['width'] == 1 and k in INT_KINDS


def vreg(nb, i):
    return ('ymm%d' if nb > 16 else 'xmm%d') % i


# ---- the library's register form ------------------------------------------------
def lib_args(row):
    """[[locations] per argument, then one per pointer] of a register-form export,
    read from the entry's generated C++ signature."""
    args, ptrs, _ = arg_kinds(row)
    _, params, _ = G.signature(row)
    out = [[] for _ in range(len(args) + len(ptrs))]
    vec = 0
    gp = None
    for i, p in enumerate(params):
        ctype = p.split()[0]
        if ctype.startswith('__m') and gp is None:
            name = p.split()[1]                      # a<arg>_<piece>
            a = int(name[1:].split('_')[0])
            out[a].append(('ymm%d' if ctype.startswith('__m256') else 'xmm%d') % vec)
            vec += 1
            continue
        if gp is None:
            gp = i                                   # first integer slot
        if len(p.split()) == 1:
            continue                                 # placeholder slot
        name = p.split()[1]
        reg = SYSV_GPRS[i - gp]
        if name.startswith('p'):
            out[len(args) + int(name[1:])].append(reg)
        else:
            out[int(name[1:])].append(reg)
    return out


def lib_results(row):
    _, _, res = arg_kinds(row)
    w = row['width']
    if w == 1 and len(res) == 2:
        return [['rax.0'], ['rax.1']] if res[0] in INT_KINDS else [['xmm0.0'], ['xmm0.1']]
    if w == 1 and res[0] in INT_KINDS:
        return [['rax']]
    out, reg = [], 0
    for k in res:
        nb = nbytes(row, k)
        n = R.regs_for(nb)
        out.append([vreg(nb, reg + j) for j in range(n)])
        reg += n
    return out


# ---- System V ---------------------------------------------------------------------
def sysv_results(row, compiler='gcc'):
    _, _, res = arg_kinds(row)
    w = row['width']
    if len(res) == 2:
        nb = nbytes(row, res[0])
        if w == 1:
            if res[0] in INT_KINDS:
                return [['rax.0'], ['rax.1']]               # {int32, int32}: one eightbyte
            if nb == 4:
                return [['xmm0.0'], ['xmm0.1']]             # {float, float}: one eightbyte
            return [['xmm0'], ['xmm1']]                     # {double, double}
        if nb == 8:
            return [['xmm0'], ['xmm1']]                     # two 8-byte vectors
        return [['mem'], ['mem']]
    k = res[0]
    if w == 1:
        return [['rax' if k in INT_KINDS else 'xmm0']]
    nb = nbytes(row, k)
    if nb <= 32:
        return [[vreg(nb, 0)]]
    if compiler == 'clang':
        return [['ymm%d' % j for j in range(nb // 32)]]
    return [['mem']]


def hidden_pointer(row, compiler='gcc'):
    return any('mem' in r for r in sysv_results(row, compiler))


def sysv_args(row, compiler='gcc'):
    args, ptrs, _ = arg_kinds(row)
    out = []
    gi = 1 if hidden_pointer(row, compiler) else 0
    vi, off = 0, 0
    for k in args:
        if is_scalar_int(row, k):
            out.append([SYSV_GPRS[gi]]); gi += 1
            continue
        nb = nbytes(row, k)
        if nb <= 32:
            out.append([vreg(nb, vi)]); vi += 1
        else:
            out.append(['stack+%d' % off]); off += nb
    for _ in ptrs:
        out.append([SYSV_GPRS[gi]]); gi += 1
    return out


# ---- what the package provides ---------------------------------------------------
COMPILERS = ('gcc', 'clang')


def placement(row, compiler='gcc'):
    return sysv_args(row, compiler), sysv_results(row, compiler)


def needs_shim(row, compiler='gcc'):
    """True when a System V caller (GCC's placement by default, or Clang's) cannot
    call the export directly: its registers differ from the register form's."""
    if row['form'] == 'ref':
        return False                         # an ordinary Windows x64 function (ms_abi)
    return placement(row, compiler) != (lib_args(row), lib_results(row))


def shim_name(row, compiler='gcc'):
    """The symbol a System V caller of this compiler calls: the export itself, its
    shim `<name>_sysv`, or, where Clang's placement differs from GCC's too,
    `<name>_sysv_clang`."""
    if not needs_shim(row, compiler):
        return row['name']
    if compiler == 'clang' and placement(row, 'clang') != placement(row, 'gcc'):
        return row['name'] + '_sysv_clang'
    return row['name'] + '_sysv'


def shims(row):
    """{symbol: [compilers whose callers use it]} of the shims this export has."""
    out = {}
    for c in COMPILERS:
        s = shim_name(row, c)
        if s != row['name']:
            out.setdefault(s, []).append(c)
    return out


def describe(row):
    """The export's registers, for the manifest."""
    if row['form'] == 'ref':
        args, ptrs, res = arg_kinds(row)
        regs = list(LIB_GPRS)
        d = {'result_buffer': regs[0], 'args': [regs[1 + i] for i in range(len(args))],
             'pointers': [regs[1 + len(args) + i] for i in range(len(ptrs))], 'returns': 'rax'}
        return {'form': 'by-reference', 'ms_abi': d}
    d = {'form': 'register', 'register': {'args': lib_args(row), 'results': lib_results(row)}}
    for sym, cs in shims(row).items():
        a, r = placement(row, cs[0])
        d.setdefault('shims', {})[sym] = {'compilers': cs, 'args': a, 'results': r}
    return d


def check(rows):
    """Sanity of the placement tables themselves."""
    for r in rows:
        if r['form'] == 'ref':
            continue
        a = lib_args(r)
        args, ptrs, res = arg_kinds(r)
        assert len(a) == len(args) + len(ptrs) and all(a), (r['name'], a)
        flat = [x for l in a for x in l]
        assert len(flat) == len(set(flat)), (r['name'], a)


if __name__ == '__main__':
    rows = R.exports()
    check(rows)
    present = [r for r in rows if os.path.exists(os.path.join(os.path.dirname(__file__), '..', r['src']))]
    n = sum(needs_shim(r) for r in present)
    nc = sum(shim_name(r, 'clang').endswith('_sysv_clang') for r in present)
    print('%d present exports, %d need a System V shim, %d more for Clang' % (len(present), n, nc))
