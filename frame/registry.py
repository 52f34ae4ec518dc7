#!/usr/bin/env python3
"""The export registry of libocl_qarn_e9: every export, one row each.

This is the single source of truth.  The build reads it to generate the entry
points, the linker's export list and the tables the tests, `qarn` and the
benchmarks use; nothing else in the tree lists exports.

A family is *present* when its kernel header (column `src`) exists; the rows of
absent families are still listed (so `qarn list` shows the whole table) but no
code is generated for them.

Signature kinds (argument kinds : result kinds), lane types:
  f   floating vector of the family's precision      i  32-bit int vector
  u   32-bit unsigned vector     l  64-bit int vector     q  64-bit unsigned
  F   float vector (fixed)       D  double vector (fixed)
  p<k> pointer to a vector of kind k (second result stored through it)
Results after ':'; two results returned in registers are written 'ff'.
"""
import os, sys, json

WIDTHS = (1, 2, 3, 4, 8, 16)
PREFIX = '__ocl_qarn_e9_'

V1 = ('',)
V2 = ('', '_native')
V3 = ('', '_native', '_half')
V4 = ('', '_native', '_half', '_rm')
VNR = ('', '_native', '_rm')
VR = ('', '_rm')

# name: (dir, kind, variants, filler key, fallback: True if the family uses the lane loop)
# The kind is 'args:results'.  Filler keys: 'x' 0.75, 'two' 2.0, 'one' 1.0.
FAMILIES = {}
def fam(names, src, kind, variants, filler='x'):
    for n in names.split():
        FAMILIES[n] = dict(src=src, kind=kind, variants=variants, filler=filler)

fam('exp exp2 exp10', 'explog/exp.h', 'f:f', V4)
fam('expm1', 'explog/expm1.h', 'f:f', V2)
fam('log log2', 'explog/log.h', 'f:f', V4)
fam('log10', 'explog/log.h', 'f:f', V3)
fam('log1p', 'explog/log1p.h', 'f:f', V2)
fam('pow', 'pow/pow.h', 'ff:f', VNR)
fam('powr', 'pow/pow.h', 'ff:f', V3)
fam('pown rootn', 'pow/pown.h', 'fi:f', V2, filler='one')
fam('sqrt rsqrt', 'roots/sqrt.h', 'f:f', V3)
fam('inv', 'roots/div.h', 'f:f', V4)
fam('div', 'roots/div.h', 'ff:f', V4)
fam('cbrt rcbrt', 'roots/cbrt.h', 'f:f', V2)
fam('hypot', 'roots/hypot.h', 'ff:f', V2)
fam('sin cos', 'trig/sincos.h', 'f:f', V4)
fam('tan', 'trig/tan.h', 'f:f', V4)
fam('sincos', 'trig/sincos2.h', 'f:fpf', VNR)
fam('sincosreg', 'trig/sincos2.h', 'f:ff', V2)
fam('sinpi cospi tanpi', 'trig/sinpi.h', 'f:f', V2)
fam('asin acos asinpi acospi', 'atrig/asin.h', 'f:f', V2)
fam('atan atanpi', 'atrig/atan.h', 'f:f', V2)
fam('atan2 atan2pi', 'atrig/atan.h', 'ff:f', V2)
fam('sinh cosh tanh', 'hyper/sinh.h', 'f:f', V2)
fam('asinh atanh', 'hyper/asinh.h', 'f:f', V2)
fam('acosh', 'hyper/asinh.h', 'f:f', V2, filler='two')
fam('erf erfc', 'special/erf.h', 'f:f', V2)
fam('lgamma tgamma', 'special/gamma.h', 'f:f', V1)
fam('lgammar', 'special/gamma.h', 'f:fpi', V1)
fam('ceil floor trunc round rint nearbyint', 'fpmanip/round.h', 'f:f', V1)
fam('fabs logb', 'fpmanip/decomp.h', 'f:f', V1)
fam('copysign nextafter', 'fpmanip/decomp.h', 'ff:f', V1)
fam('nan', 'fpmanip/decomp.h', 'c:f', V1, filler='zero')
fam('ilogb', 'fpmanip/decomp.h', 'f:i', V1)
fam('frexp', 'fpmanip/decomp.h', 'f:fpi', V1)
fam('ldexp', 'fpmanip/decomp.h', 'fi:f', V1, filler='one')
fam('modf fract', 'fpmanip/decomp.h', 'f:fpf', V1)
fam('fmax fmin maxmag minmag fdim', 'fpmanip/minmax.h', 'ff:f', V1)
fam('fmod remainder', 'fpmanip/remainder.h', 'ff:f', V1)
fam('remquo', 'fpmanip/remainder.h', 'ff:fpi', V1)
fam('fma', 'fpmanip/fma.h', 'fff:f', VR)

# Interval of ordinary operands per family, (float lo, hi), (double lo, hi): the
# random range of the accuracy tests and the benchmarks.  Families not listed use
# DEFAULT_DOMAIN.
DEFAULT_DOMAIN = ((-100.0, 100.0), (-100.0, 100.0))
DOMAIN = {
    'exp': ((-87.0, 88.5), (-708.0, 709.5)),
    'exp2': ((-126.0, 127.9), (-1022.0, 1023.9)),
    'exp10': ((-37.9, 38.5), (-307.6, 308.2)),
    'expm1': ((-86.6, 86.6), (-707.7, 707.7)),
    'log': ((0.5, 2.0), (0.5, 2.0)),
    'log2': ((0.5, 2.0), (0.5, 2.0)),
    'log10': ((0.5, 2.0), (0.5, 2.0)),
    'log1p': ((-0.75, 3.0), (-0.75, 3.0)),
    # erf, erfc: where the grid tables end; erfc up to its underflow to zero.
    'erf': ((-4.0, 4.0), (-6.0, 6.0)),
    'erfc': ((-4.0, 10.1), (-6.0, 27.3)),
}

# Largest error in ulp each variant may show against the exact value; the tests
# assert it.  The short paths' bounds follow from their polynomials' relative error
# over the reduced interval (scanned densely) plus the reduction's rounding:
#   cubic of expf/exp10f 1.79e-4, of exp2f 7.5e-5; quadratic of exp 3.31e-9;
#   degree 6 of exp2 1.86e-9, of exp10 4.44e-9.
ULP_BOUND = {
    ('exp', 'f'): {'default': 3, '_rm': 3, '_native': 3200, '_half': 3200},
    ('exp', 'd'): {'default': 3, '_rm': 3.0e7, '_native': 3.0e7, '_half': 3.0e7},
    ('exp2', 'f'): {'default': 3, '_rm': 3, '_native': 1300, '_half': 1300},
    ('exp2', 'd'): {'default': 3, '_rm': 1.7e7, '_native': 1.7e7, '_half': 1.7e7},
    ('exp10', 'f'): {'default': 3, '_rm': 3200, '_native': 3200, '_half': 3200},
    ('exp10', 'd'): {'default': 3, '_rm': 4.1e7, '_native': 4.1e7, '_half': 4.1e7},
    # expm1 _native: the error of q ~ e^r - 1 at the largest |r| against the smallest
    # e^x - 1 of its step, just past the first step either side of 0: float, quadratic
    # r^3/6 at |r| = ln2/64 (~232 ulp of 0.011) plus 2^(1/32) rounded to float (<= 64);
    # double, cubic r^4/24 at |r| = ln2/256 (~5.2e6 ulp of 0.0027).  Measured 283.7
    # (every float operand) and 5.19e6.
    ('expm1', 'f'): {'default': 3, '_native': 300},
    ('expm1', 'd'): {'default': 3, '_native': 5.3e6},
    # log, log2, log10, log1p.  Default paths: measured below 1 ulp.  Float _native and
    # _half are table-free polynomials in f = m - 1, |f| <= 1/3: their error is the
    # polynomial's at the worst f (logf degree 5 ~1570 ulp, degree 8 ~4; log2f and
    # log10f degree 5 ~890 and ~990).  Double _native/_half/_rm: the cubic leaves
    # ~r^4/4, largest against the result where the reciprocal estimate moves c off the
    # power of two next to 1: x = 1 - 2.5*2^-12 with an estimate 1.5*2^-12 high gives
    # c = 513, r ~ 1.34e-3, r^4/4 ~ 8.1e-13 against ulp(6.1e-4) = 2^-63: 7.5e6 ulp
    # (1 + 2^-13 with an estimate 1.5*2^-12 low: 4.9e6).  Measured 2.4e6 with this
    # processor's estimate, 7.4e6 with an emulated one at the 1.5*2^-12 limit.
    # log1pf _native: its tail (x - u) + 1 is lost for |x| < 2^-25, so the result is 0
    # against x: just under 2^24 ulp.
    ('log', 'f'): {'default': 3, '_rm': 3, '_native': 1750, '_half': 5},
    ('log', 'd'): {'default': 3, '_rm': 8.4e6, '_native': 8.4e6, '_half': 8.4e6},
    ('log2', 'f'): {'default': 3, '_rm': 3, '_native': 1000, '_half': 1000},
    ('log2', 'd'): {'default': 3, '_rm': 8.4e6, '_native': 8.4e6, '_half': 8.4e6},
    ('log10', 'f'): {'default': 3, '_native': 1100, '_half': 1100},
    ('log10', 'd'): {'default': 3, '_native': 8.4e6, '_half': 8.4e6},
    ('log1p', 'f'): {'default': 2, '_native': 1.68e7},
    ('log1p', 'd'): {'default': 2, '_native': 8.4e6},
    # erf, erfc.  Default paths: measured below 2 ulp (OpenCL allows 16).  _native:
    # the shorter correction polynomials leave about T^k of the next term, T = X0*d
    # at its largest (|d| = h/2 at the last grid point); measured (every float
    # operand; 10^6 random doubles over the tables' range) erff 244, erfcf 341,
    # erf 2.7e5, erfc 6.5e6, with a margin above each.
    ('erf', 'f'): {'default': 2, '_native': 300},
    ('erf', 'd'): {'default': 3, '_native': 3.5e5},
    ('erfc', 'f'): {'default': 2, '_native': 400},
    ('erfc', 'd'): {'default': 3, '_native': 8e6},
    # lgamma, lgamma_r, tgamma (scalar routines, extended precision for double):
    # measured 0.51 ulp against MPFR; lgammaf 1.07 next to 2.  lgamma has no bound
    # next to its zeros in ulps: there the routines hold an absolute error of 2^-55
    # (double) and 2^-45 (float) (tests/test_gamma.cpp).
    ('lgamma', 'f'): {'default': 1.5},
    ('lgamma', 'd'): {'default': 1},
    ('lgammar', 'f'): {'default': 1.5},
    ('lgammar', 'd'): {'default': 1},
    ('tgamma', 'f'): {'default': 1},
    ('tgamma', 'd'): {'default': 1},
}

# Families whose results depend on the processor's reciprocal or reciprocal-square-
# root estimate (which differs between processor makers): their lane bits are not
# pinned by a checked-in fingerprint.
USES_ESTIMATE = {'log', 'log2', 'log10', 'log1p'}

# Families that run every lane through the lane fallback (mask over all lanes).
ALL_LANES = {'fma', 'lgamma', 'lgammar', 'tgamma'}
# Families with no special lanes at all in any variant (never build a mask).
NO_FALLBACK = {'ceil', 'floor', 'trunc', 'round', 'rint', 'nearbyint', 'fabs', 'copysign', 'nan',
               'erf', 'cospi', 'sinpi'}

# Element size in bytes of each lane kind for a given precision.
def lane_bytes(k, prec):
    if k == 'f': return 4 if prec == 'f' else 8
    if k == 'c': return 4 if prec == 'f' else 8      # nan code: uint for float, ulong for double
    return {'i': 4, 'u': 4, 'l': 8, 'q': 8, 'F': 4, 'D': 8}[k]

def storage(lb, w):
    return {1: lb, 2: 2 * lb, 3: 4 * lb, 4: 4 * lb, 8: 8 * lb, 16: 16 * lb}[w]

def regs_for(nbytes):
    return 1 if nbytes <= 32 else nbytes // 32

def parse_kind(kind):
    """'ffpi:f' -> (['f','f'], [('p','i')], ['f'])"""
    a, r = kind.split(':')
    args, ptrs, i = [], [], 0
    while i < len(a):
        if a[i] == 'p':
            ptrs.append(a[i + 1]); i += 2
        else:
            args.append(a[i]); i += 1
    res, rptr, i = [], [], 0
    while i < len(r):
        if r[i] == 'p':
            rptr.append(r[i + 1]); i += 2
        else:
            res.append(r[i]); i += 1
    return args, ptrs + rptr, res

def vec_regs(kinds, prec, w):
    return sum(regs_for(storage(lane_bytes(k, prec), w)) for k in kinds)

def form_of(kind, prec, w):
    args, ptrs, res = parse_kind(kind)
    if w == 1:
        return 'reg'
    if vec_regs(args, prec, w) > 4 or vec_regs(res, prec, w) > 4:
        return 'ref'
    return 'reg'

def conversions():
    """(name, prec-of-source-or-result, kind) for every conversion and division name."""
    out = []
    for dst, dk in (('i32', 'i'), ('i64', 'l'), ('u32', 'u'), ('u64', 'q')):
        for rnd in ('rte', 'rtn', 'rtp', 'rtz'):
            for sat in ('sat', 'nosat'):
                for src, sk in (('f', 'F'), ('', 'D')):
                    out.append(('cvtfpto' + dst + rnd + sat + src, 'cvtfpto' + dst, sk + ':' + dk,
                                'f' if src else 'd'))
    for s, sk in (('i32', 'i'), ('i64', 'l'), ('u32', 'u'), ('u64', 'q')):
        for rnd in ('rte', 'rtn', 'rtp', 'rtz'):
            for dst, dk in (('f', 'F'), ('', 'D')):
                out.append(('cvt' + s + 'tofp' + rnd + dst, 'cvt' + s + 'tofp', sk + ':' + dk,
                            'f' if dst else 'd'))
    for rnd in ('rte', 'rtn', 'rtp', 'rtz'):
        out.append(('cvtfp64tofp32' + rnd, 'cvtfp64tofp32', 'D:F', 'd'))
    for n, k in (('idiv', 'ii:i'), ('irem', 'ii:i'), ('idivrem', 'ii:ii'),
                 ('udiv', 'uu:u'), ('urem', 'uu:u'), ('udivrem', 'uu:uu')):
        out.append((n, n, k, 'i'))
    return out

CONV_SRC = {'cvtfpto': 'convert/fptoint.h', 'cvti32tofp': 'convert/inttofp.h',
            'cvti64tofp': 'convert/inttofp.h', 'cvtu32tofp': 'convert/inttofp.h',
            'cvtu64tofp': 'convert/inttofp.h', 'cvtfp64tofp32': 'convert/narrow.h'}

def conv_src(family):
    for k, v in CONV_SRC.items():
        if family.startswith(k):
            return v
    return 'intdiv/intdiv.h'

def conv_kernel(cname, family):
    """C++ kernel type of a conversion or division name."""
    if family.startswith('cvt'):
        rest = cname[len(family):]             # e.g. 'rtesatf', 'rte', 'rtef'
        rnd, rest = rest[:3], rest[3:]
        sat = rest.startswith('sat')
        rest = rest[3:] if sat else (rest[5:] if rest.startswith('nosat') else rest)
        t = 'float' if rest == 'f' else 'double'
        if family.startswith('cvtfpto'):
            return 'qarn::%s_k<qarn::rnd::%s, %s, %s>' % (family, rnd, 'true' if sat else 'false', t)
        return 'qarn::%s_k<qarn::rnd::%s, %s>' % (family, rnd, t)
    return 'qarn::%s_k' % family

def filler_of(kind_char, fam_filler, prec):
    """Filler for lane 3 of a width-3 input of this kind."""
    if kind_char in 'iulq':
        return 'int1'
    if kind_char == 'c':
        return 'int0'
    return {'x': '0.75', 'two': '2.0', 'one': '1.0', 'zero': '0'}[fam_filler]

def exports():
    rows = []
    for name, f in FAMILIES.items():
        for prec in ('f', 'd'):
            dom = DOMAIN.get(name, DEFAULT_DOMAIN)[0 if prec == 'f' else 1]
            for var in f['variants']:
                for w in WIDTHS:
                    mark = 'f' if prec == 'f' else ''
                    rows.append(dict(name=PREFIX + name + mark + str(w) + var, family=name, prec=prec,
                                     stem=PREFIX + name + mark, lo=dom[0], hi=dom[1],
                                     ulp=ULP_BOUND.get((name, prec), {}).get(var or 'default', -1),
                                     estimate=name in USES_ESTIMATE,
                                     width=w, variant=var or 'default', kind=f['kind'],
                                     form=form_of(f['kind'], prec, w), src=f['src'],
                                     filler=f['filler'], body=None,
                                     kernel='qarn::%s_k<%s, qarn::var::%s>' % (
                                         name, 'float' if prec == 'f' else 'double',
                                         {'': 'def', '_native': 'native', '_half': 'half', '_rm': 'rm'}[var])))
    for cname, family, kind, prec in conversions():
        for w in WIDTHS:
            rows.append(dict(name=PREFIX + cname + str(w), family=family, prec=prec, width=w,
                             stem=PREFIX + cname, lo=-1e4, hi=1e4, ulp=0, estimate=False,
                             variant='default', kind=kind, form='reg', src=conv_src(family),
                             filler='int1', body=None, kernel=conv_kernel(cname, family)))
    # Second names: the same code under another name (width 3 keeps separate functions).
    by_name = {r['name']: r for r in rows}
    for w in (1, 2, 4, 8, 16):
        for rnd in ('rtn', 'rtp', 'rtz'):
            by_name[f'{PREFIX}cvti32tofp{rnd}{w}']['body'] = f'{PREFIX}cvti32tofprte{w}'
        by_name[f'{PREFIX}divf{w}_rm']['body'] = f'{PREFIX}divf{w}'
        by_name[f'{PREFIX}fma{w}_rm']['body'] = f'{PREFIX}fma{w}'
        by_name[f'{PREFIX}fmaf{w}_rm']['body'] = f'{PREFIX}fmaf{w}'
        by_name[f'{PREFIX}sqrt{w}_half']['body'] = f'{PREFIX}sqrt{w}'
        by_name[f'{PREFIX}sqrt{w}_native']['body'] = f'{PREFIX}sqrt{w}'
    return rows

def check(rows):
    assert len(rows) == 2328, len(rows)
    assert len({r['name'] for r in rows}) == 2328
    assert sum(r['form'] == 'ref' for r in rows) == 39, sum(r['form'] == 'ref' for r in rows)
    assert sum(r['body'] is not None for r in rows) == 40

def fallback_name(family, prec):
    return family + ('f' if prec == 'f' else '') + '_lane_fallback'

if __name__ == '__main__':
    rows = exports()
    check(rows)
    json.dump(rows, sys.stdout, indent=0)
