#!/usr/bin/env python3
"""Fits of the gamma routines (run by hand; writes tables/gamma_fits.h).

Every fit is a Chebyshev interpolant computed with mpmath at 50 digits (within a
small factor of the minimax polynomial), converted to the stated form and rounded
once per coefficient: to the x87 extended format (64-bit significand) for the
double routines, to double for the float routines.  Factored fits (K times a
product of monic quadratics) come from the roots of the interpolant, conjugate
roots paired, real roots paired in order.  Fits of functions that vanish at the
centre (lgamma at 1, 2 and its negative zeros) are fits of f(t)/t, so the stated
polynomial has a zero constant term and keeps relative accuracy next to the zero.
The script prints each fit's largest relative error, evaluated in 64-bit (or
53-bit) arithmetic, over a dense grid.

Usage: fit_gamma.py OUT.h        write the header
       fit_gamma.py --check H   regenerate and compare with H byte for byte
"""
import sys
import mpmath as mp

mp.mp.dps = 50
XMIN = mp.findroot(lambda x: mp.digamma(x), 1.4616)

def lgam(x):
    return mp.re(mp.loggamma(x)) if x > 0 else mp.log(abs(mp.gamma(x)))

def cheb(f, a, b, n):
    """Monomial coefficients (lowest first) of the degree-n interpolant of f on [a, b]."""
    c, err = mp.chebyfit(f, [a, b], n + 1, error=True)
    return [mp.mpf(v) for v in reversed(c)], err

def rnd(v, prec):
    with mp.workprec(prec):
        return +mp.mpf(v)

def lit(v, prec):
    v = rnd(v, prec)
    if v == 0:
        return '0.0L' if prec == 64 else '0.0'
    s = '-' if v < 0 else ''
    man, exp = mp.mpf(abs(v)).man_exp
    return '%s0x%Xp%d%s' % (s, int(man), int(exp), 'L' if prec == 64 else '')

def horner(c, t, prec):
    with mp.workprec(prec):
        r = mp.mpf(0)
        for v in reversed(c):
            r = r * t + v
        return r

def factor(c):
    """c lowest first -> K, [(a, b)] with poly = K * prod(a + b t + t^2)."""
    n = len(c) - 1
    assert n % 2 == 0
    K = c[-1]
    roots = mp.polyroots([v / K for v in reversed(c)], maxsteps=400, extraprec=400)
    cplx = [r for r in roots if abs(mp.im(r)) > mp.mpf(10) ** -30]
    real = sorted([mp.re(r) for r in roots if abs(mp.im(r)) <= mp.mpf(10) ** -30])
    up = sorted([r for r in cplx if mp.im(r) > 0], key=lambda r: mp.re(r))
    quads = [(mp.re(r) ** 2 + mp.im(r) ** 2, -2 * mp.re(r)) for r in up]
    assert len(real) % 2 == 0, 'odd number of real roots'
    for i in range(0, len(real), 2):
        quads.append((real[i] * real[i + 1], -(real[i] + real[i + 1])))
    return K, quads

def eval_factored(K, quads, t, prec):
    with mp.workprec(prec):
        p = rnd(K, prec)
        for a, b in quads:
            p = p * (rnd(a, prec) + rnd(b, prec) * t + t * t)
        return p

out = []
report = []

def check(name, f, a, b, ev, prec):
    worst = 0
    for i in range(401):
        t = a + (b - a) * mp.mpf(i) / 400
        t = rnd(t, prec)
        exact = f(t)
        got = ev(t)
        if exact != 0:
            worst = max(worst, abs((got - exact) / exact))
    report.append('%-12s rel err %.3g' % (name, float(worst)))

def emit_list(name, vals, prec):
    typ = 'long double' if prec == 64 else 'double'
    out.append('inline constexpr %s %s[%d] = {\n  %s};' % (typ, name, len(vals),
               ',\n  '.join(lit(v, prec) for v in vals)))

def emit_table(name, rows, prec):
    typ = 'long double' if prec == 64 else 'double'
    body = ',\n  '.join('{' + ', '.join(lit(v, prec) for v in r) + '}' for r in rows)
    out.append('inline constexpr %s %s[%d][%d] = {\n  %s};' % (typ, name, len(rows), len(rows[0]), body))

def factored_fit(name, f, a, b, n, prec):
    c, _ = cheb(f, a, b, n)
    K, quads = factor(c)
    row = [K] + [v for q in quads for v in q]
    check(name, f, a, b, lambda t: eval_factored(K, quads, t, prec), prec)
    return row

def poly_fit(name, f, a, b, n, prec, times_t=False, pad=None):
    """Coefficients lowest first; with times_t the fit is of f(t)/t and a zero is prepended.
    With pad, the lowest degree up to n whose interpolation error is below 2^-70 is
    taken and the list is padded with zeros to pad entries (narrow windows)."""
    g = (lambda t: f(t) / t if t != 0 else mp.diff(f, 0)) if times_t else f
    if pad:
        for m in range(3, n + 1):
            c, err = cheb(g, a, b, m)
            if abs(err) < mp.mpf(2) ** -70 * abs(g(mp.mpf(a + b) / 2)):
                break
    else:
        c, _ = cheb(g, a, b, n)
    if times_t:
        c = [mp.mpf(0)] + c
    c = [rnd(v, prec) for v in c]
    check(name, f, a, b, lambda t: horner(c, t, prec), prec)
    if pad:
        c = c + [mp.mpf(0)] * (pad - len(c))
    return c

# ---- tgamma, double (extended) ---------------------------------------------------
rows = []
for g in range(11):
    base = 2 if g == 0 else 16 * g
    rows.append(factored_fit('TG%d' % g, lambda f, base=base: mp.gamma(base + f), 0, 1, 22, 64))
emit_table('kTgGroup', rows, 64)
emit_list('kTgHi', poly_fit('TGhi', lambda t: mp.gamma(1 + t), 0.5, 1, 15, 64), 64)   # y >= 1.5, t = y - 1
emit_list('kTgMid', poly_fit('TGmid', lambda t: mp.gamma(XMIN + t), 1.25 - XMIN, 1.5 - XMIN, 15, 64), 64)
emit_list('kTgLo', poly_fit('TGlo', lambda t: mp.gamma(1 + t), 0, 0.25, 15, 64), 64)  # y < 1.25, t = y - 1
# sin(pi r)/pi = r + r^3 Q(r^2): the series itself (|r| <= 1/2 after folding).
emit_list('kSinPi', [(-1) ** (k + 1) * mp.pi ** (2 * k + 2) / mp.factorial(2 * k + 3) for k in range(10)], 64)
out.append('inline constexpr long double kXmin = %s;' % lit(XMIN, 64))

# ---- lgamma, double (extended) ---------------------------------------------------
rows = []
for k in range(7):
    s = 2 ** (k + 2)
    rows.append(factored_fit('LG%d' % k, lambda t, s=s: lgam(s * (1 + t)), 0, 1, 22, 64))
emit_table('kLgBinade', rows, 64)
emit_list('kLg24', factored_fit('LG24', lambda x: lgam(x) / (x - 2), 2.25, 4, 22, 64), 64)
emit_list('kLg2', poly_fit('LG2', lambda t: lgam(2 + t), -0.25, 0.25, 20, 64, True), 64)
emit_list('kLgMin', poly_fit('LGmin', lambda t: lgam(XMIN + t), 1.25 - XMIN, 1.75 - XMIN, 22, 64), 64)
emit_list('kLg1', poly_fit('LG1', lambda t: lgam(1 + t), -0.125, 0.25, 22, 64, True), 64)
# ln(sin(pi r)/(pi r)) as a polynomial in s = r^2, 0 <= s <= 1/4.
def lsin(s):
    if s == 0:
        return mp.mpf(0)
    r = mp.sqrt(s)
    return mp.log(mp.sin(mp.pi * r) / (mp.pi * r))
emit_list('kLogSin', poly_fit('LOGSIN', lsin, 0, 0.25, 18, 64), 64)

# Windows around the zeros of lgamma on (-15, -2): (zero hi (double), zero lo,
# lower, upper, 17 coefficients of lgamma(zero + t) lowest first).
WIN = [
    (-2.7476826467274127, -2.7886826467274126, -2.7066826467274128, -2.4570247382208006, -2.5070247382208004, -2.4070247382208008),
    (-3.9552942848585979, -3.9612942848585977, -3.9492942848585981, -3.1435808883499798, -3.1635808883499799, -3.1235808883499798),
    (-4.9915446405600479, -4.9927946405600476, -4.9902946405600481, -4.0393618397405371, -4.044361839740537, -4.0343618397405372),
    (-5.9986074800808753, -5.9988074800808757, -5.9984074800808749, -5.0082181683225935, -5.0092181683225938, -5.0072181683225931),
    (-6.9998015078906377, -6.9998290078906376, -6.9997740078906379, -6.0013852944531552, -6.0015852944531556, -6.0011852944531547),
    (-7.9999751970958206, -7.999978197095821, -7.9999721970958202, -7.000198333407325, -7.0002258334073248, -7.0001708334073252),
    (-8.9999972442509772, -8.9999976442509766, -8.9999968442509779, -8.0000248002706815, -8.0000283002706816, -8.0000213002706815),
    (-9.9999997244266297, -9.9999997544266304, -9.9999996944266289, -9.0000027557148226, -9.0000031307148234, -9.0000023807148217),
    (-10.99999997494789, -10.999999978447891, -10.99999997144789, -10.000000275573013, -10.000000312573013, -10.000000238573014),
    (-11.999999997912324, -11.999999998137325, -11.999999997687324, -11.000000025052106, -11.000000028552106, -11.000000021552106),
    (-12.99999999983941, -12.99999999985941, -12.99999999981941, -12.000000002087676, -12.000000002362675, -12.000000001812676),
    (-13.99999999998853, -13.99999999998928, -13.99999999998778, -13.00000000016059, -13.00000000018059, -13.00000000014059),
    (-14.999999999999236, -14.999999999999286, -14.999999999999186, -14.00000000001147, -14.00000000001247, -14.00000000001047),
]
wins = []
for i, w in enumerate(WIN):
    for j in (0, 1):
        z0, lo, hi = w[3 * j], w[3 * j + 1], w[3 * j + 2]
        z = mp.findroot(lgam, (mp.mpf(lo), mp.mpf(hi)), solver='anderson')  # bracketed: a pole is close by
        zh = rnd(z, 53)
        zl = z - zh
        f = lambda t, z=z: lgam(z + t)
        c = poly_fit('W%d.%d' % (i, j), f, mp.mpf(lo) - z, mp.mpf(hi) - z, 16, 64, True, pad=18)
        wins.append([zh, zl, mp.mpf(lo), mp.mpf(hi)] + c)
emit_table('kLgWindow', wins, 64)

# ---- tgammaf, lgammaf (double coefficients, except where stated) -------------------
rows = []
for g in range(5):
    base = 2 if g == 0 else 8 * g
    rows.append(factored_fit('TGF%d' % g, lambda f, base=base: mp.gamma(base + f), 0, 1, 12, 53))
emit_table('kTgfGroup', rows, 53)
tgf = []
for a in (1.75, 1.5, 1.25, 1.0):
    tgf.append(poly_fit('TGFint%.2f' % a, lambda t, a=a: mp.gamma(a + t), 0, 0.25, 11, 53))
emit_table('kTgfInterval', tgf, 53)
emit_list('kSinPiF', [(-1) ** (k + 1) * mp.pi ** (2 * k + 2) / mp.factorial(2 * k + 3) for k in range(8)], 53)
# lgammaf on the binades [4, 8192): degree 11 in t = x/2^(k+2) - 1, split as
# even(s) + t*odd(s), s = t^2.  c0, c1, c2 are extended; c3..c11 are doubles,
# stored as the pairs (c3, c4), (c5, c6), ..., (c11, 0) that one packed Horner
# scheme in s runs through: it gives odd' = c3 + s*(c5 + ...) in the low half and
# even' = c4 + s*(c6 + ...) in the high half.  Then, extended:
# even = c0 + s*(c2 + s*even'), odd = c1 + s*odd', result = even + t*odd.
def lgf_split_eval(c, t):
    s = t * t  # exact: t has at most 23 significant bits
    with mp.workprec(53):
        o, e = mp.mpf(0), mp.mpf(0)
        for j in range(4, -1, -1):
            o = o * s + c[3 + 2 * j]
            e = e * s + (c[4 + 2 * j] if 4 + 2 * j <= 11 else 0)
    with mp.workprec(64):
        ev = c[0] + s * (c[2] + s * e)
        od = c[1] + s * o
        return ev + t * od
hi, lo = [], []
for k in range(11):
    s = 2 ** (k + 2)
    f = lambda t, s=s: lgam(s * (1 + t))
    c, _ = cheb(f, 0, 1, 11)
    c = [rnd(v, 64) for v in c[:3]] + [rnd(v, 53) for v in c[3:]]
    check('LGF%d' % k, f, 0, 1, lambda t, c=c: lgf_split_eval(c, t), 53)
    hi.append(c[:3])
    lo.append(c[3:] + [mp.mpf(0)])
emit_table('kLgfBinadeX', hi, 64)
emit_table('kLgfBinadeD', lo, 53)
# lgammaf's reflection term ln(sin(pi r)/(pi r)) = s*(-pi^2/6 + s*P(s)), s = r^2 <= 1/4,
# in double: the leading coefficient is -pi^2/6 itself, P fits the rest.
ZETA2 = rnd(-mp.pi ** 2 / 6, 53)
pf = poly_fit('LOGSINF.P', lambda s: (lsin(s) - ZETA2 * s) / s ** 2 if s != 0 else -mp.pi ** 4 / 180, 0, 0.25, 9, 53)
check('LOGSINF', lsin, 0, 0.25, lambda s: horner([0, ZETA2] + pf, s, 53), 53)
emit_list('kLogSinF', [ZETA2] + pf, 53)

text = ('// Generated by tables/fit_gamma.py (mpmath); do not edit.\n'
        '// Largest relative errors of the fits as rounded and evaluated:\n' +
        ''.join('//   %s\n' % r for r in report) +
        '#pragma once\nnamespace qarn::gfit {\n' + '\n'.join(out) + '\n}  // namespace qarn::gfit\n')
if sys.argv[1] == '--check':
    with open(sys.argv[2]) as fh:
        have = fh.read()
    if have != text:
        for n, (a, b) in enumerate(zip(have.splitlines(), text.splitlines()), 1):
            if a != b:
                print('%s:%d differs from the regenerated text:\n  has  %s\n  made %s' % (sys.argv[2], n, a[:160], b[:160]))
                break
        else:
            print('%s: %d lines, the regenerated text has %d' % (sys.argv[2], have.count('\n'), text.count('\n')))
        sys.exit(1)
    print('%s: regenerated byte for byte (mpmath %s)' % (sys.argv[2], mp.__version__))
else:
    with open(sys.argv[1], 'w') as fh:
        fh.write(text)
    print('\n'.join(report))
