#!/usr/bin/env python3
"""The command-line tools, run as a user runs them.

  test_cli.py GROUP --qarn=PATH --float_sweep=PATH --intdiv_sweep=PATH --lib_diff=PATH --lib=PATH
                    [--bench=PATH]

Every bad input must give exit status 2, a message on stderr that says what is wrong,
nothing on stdout and no work (it returns within seconds even where the work would
take minutes).  Good inputs of each notation must give the right bits, and every lane
qarn prints must read back as the same bits.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TOOLS = {}
LIBS = {}  # {new}: the built library, {old}: a copy of it (two distinct files for lib_diff)

# ---- bad inputs: (tool, arguments, what stderr must say) ---------------------------
REFUSED = {
    'QarnRefusesBadValues': [
        # floating lanes
        ('qarn', 'eval expf8 abc', r"'abc' is not a number; a float is written like"),
        ('qarn', 'eval expf8 ', r"empty value"),
        ('qarn', 'eval expf8 1abc', r"unexpected 'abc' after '1'"),
        ('qarn', 'eval expf8 1,5', r"unexpected ',5' after '1' \(the decimal point is '\.'\)"),
        ('qarn', 'eval expf8 2.5e', r"'2\.5e': the exponent after 'e' has no digits"),
        ('qarn', 'eval expf8 0x1.8p', r"the exponent after 'p' has no digits"),
        ('qarn', 'eval expf8 0x10', r"'0x10': a hex float needs its binary exponent: write 0x10p0 .* or bits:0x10"),
        ('qarn', 'eval expf8 -0x10', r"'-0x10': a hex float needs its binary exponent: write -0x10p0 for the number$"),
        ('qarn', 'eval expf8 0xffffffffff', r"hex float needs its binary exponent.*more bits than a 32-bit lane"),
        ('qarn', 'eval expf8 bits:0xffffffffff', r"has more bits than a 32-bit float lane"),
        ('qarn', 'eval exp4 bits:0x10000000000000000', r"has more bits than a 64-bit double lane"),
        ('qarn', 'eval expf8 bits:', r"no hex digits after bits:"),
        ('qarn', 'eval expf8 bits:0x3g', r"a bit pattern is hex digits only"),
        ('qarn', 'eval expf8 0x', r"no hex digits after 0x"),
        ('qarn', 'eval expf8 1e39', r"'1e39' is beyond the largest float \(3\.40282347e\+38\); infinity is written inf"),
        ('qarn', 'eval exp4 1e309', r"beyond the largest double"),
        ('qarn', 'eval expf8 0x1p128', r"beyond the largest float"),
        ('qarn', 'eval expf8 1e-50', r"below the smallest float .* would read as 0"),
        ('qarn', 'eval expf8 0x1.000001p0', r"not exactly a float \(nearest: 0x1p\+0\)"),
        ('qarn', 'eval exp4 0x1.00000000000008p0', r"not exactly a double"),
        ('qarn', 'eval expf8 0x1p-150', r"not exactly a float"),
        ('qarn', 'eval expf8 snan:0', r"a signalling NaN needs a nonzero payload"),
        ('qarn', 'eval expf8 nan:0x400000', r"payload does not fit a float NaN \(at most 0x3fffff"),
        ('qarn', 'eval exp4 nan:0x8000000000000', r"payload does not fit a double NaN \(at most 0x7ffffffffffff"),
        ('qarn', 'eval expf8 nan:-1', r"a NaN payload is not negative"),
        ('qarn', 'eval expf8 nan:1.5', r"the payload '1\.5' is not a whole number"),
        ('qarn', 'eval expf8 nanx', r"unexpected 'x'"),
        ('qarn', 'eval expf8 nan:', r"no payload after ':'"),
        ('qarn', 'eval expf8 0x1p-99999999', r"below the smallest float"),
        ('qarn', 'eval expf8 infinite', r"'infinite' is not a number"),
        ('qarn', 'eval expf8 1_', r"unexpected '_'"),
        # integer lanes
        ('qarn', 'eval idiv1 99999999999 1', r"'99999999999' is out of range for a 32-bit int lane \(-2147483648 to 2147483647\)"),
        ('qarn', 'eval idiv1 -2147483649 1', r"out of range for a 32-bit int lane"),
        ('qarn', 'eval idiv1 1.5 1', r"argument 1 \(int\): '1\.5' is not a whole number"),
        ('qarn', 'eval idiv1 1e-3 1', r"'1e-3' is not a whole number"),
        ('qarn', 'eval idiv1 0xffffffff 1', r"out of range .*; for the bit pattern write bits:0xffffffff"),
        ('qarn', 'eval idiv1 0x1p4 1', r"a hex integer has no point or exponent"),
        ('qarn', 'eval idiv1 nan 1', r"'nan' is not a number; an integer is written like"),
        ('qarn', 'eval idiv1 1 bits:0x100000000', r"argument 2 \(int\): .* more bits than a 32-bit int lane"),
        ('qarn', 'eval udiv1 -1 1', r"out of range for a 32-bit uint lane \(0 to 4294967295\)"),
        ('qarn', 'eval cvti64tofprte1 9223372036854775808', r"out of range for a 64-bit long lane"),
        ('qarn', 'eval cvtu64tofprte1 18446744073709551616', r"out of range for a 64-bit ulong lane"),
        # which lane is wrong
        ('qarn', 'eval copysignf2 1 2 3 x', r"argument 2 lane 1 \(float\): 'x' is not a number"),
    ],
    'QarnRefusesBadCommands': [
        ('qarn', '', r"usage: qarn list"),
        ('qarn', 'frobnicate', r"unknown command 'frobnicate'"),
        ('qarn', 'eval', r"eval: which export\?"),
        ('qarn', 'eval nosuch 1', r"no export named 'nosuch'"),
        ('qarn', 'eval expf8 1 2', r"expf8 takes 1 argument\(s\) of 8 lane\(s\): give 1 .* or 8 .*; got 2"),
        ('qarn', 'ulp expf8 -n 0', r"-n: '0' is out of range \(a whole number from 1 to"),
        ('qarn', 'ulp expf8 -n -5', r"-n: '-5' is out of range"),
        ('qarn', 'ulp expf8 -n abc', r"-n: 'abc' is not a number"),
        ('qarn', 'ulp expf8 -n 1.5', r"-n: '1\.5' is not a whole number"),
        ('qarn', 'ulp expf8 -n', r"-n takes a count"),
        ('qarn', 'ulp expf8 -n 10 -n 20', r"-n given twice"),
        ('qarn', 'ulp expf8 --range 5 -5', r"--range 5 -5 is empty: LO must be below HI"),
        ('qarn', 'ulp expf8 --range 5 5', r"is empty"),
        ('qarn', 'ulp expf8 --range nan nan', r"--range: 'nan' is not a finite number"),
        ('qarn', 'ulp expf8 --range 0 inf', r"'inf' is not a finite number"),
        ('qarn', 'ulp expf8 --range 0 1x', r"unexpected 'x'"),
        ('qarn', 'ulp exp4 --range -1e308 1e308', r"wider than the largest double"),
        ('qarn', 'ulp expf8 --range 5', r"--range takes two values"),
        ('qarn', 'ulp expf8 --bogus', r"ulp: unknown option '--bogus'"),
        ('qarn', 'ulp nosuch', r"no export named 'nosuch'"),
        ('qarn', 'ulp idiv1', r"idiv1 is not a present export with an MPFR reference"),
        ('qarn', 'ulp powf8 --n 1 2', r"ulp: --n: powf8 has no integer operand"),
        ('qarn', 'ulp expf8 --y 1 2', r"ulp: --y: expf8 has no second floating operand"),
        ('qarn', 'ulp powf8 --z 1 2', r"ulp: --z: powf8 has no third floating operand"),
        ('qarn', 'ulp powf8 --y 1 2 --y 3 4', r"ulp: --y given twice"),
        ('qarn', 'ulp pownf8 --n 2 1', r"--n 2 1 is empty: LO must be below HI"),
        ('qarn', 'ulp pownf8 --n 1 x', r"ulp: --n: "),
        ('qarn', 'ulp fmaf8 --z 0 inf', r"ulp: --z: 'inf' is not a finite number"),
        ('qarn', 'list nosuch', r"list: no family named 'nosuch'"),
        ('qarn', 'list --bogus', r"list: unknown option '--bogus'"),
        ('qarn', 'list --missing --present', r"exclude each other"),
        ('qarn', 'hash --bogus', r"hash: unknown option '--bogus'"),
    ],
    'SweepsRefuseBadInput': [
        ('float_sweep', '', r"which exports\?"),
        ('float_sweep', 'expf8 logf8 nosuch', r"'nosuch' is not an export; nothing swept"),
        ('float_sweep', 'expf8 --bogus', r"'--bogus' is not an option"),
        ('float_sweep', 'expf8 exp4', r"'exp4' is not a one-argument float export"),
        ('float_sweep', 'idiv8', r"'idiv8' is not a one-argument float export"),
        ('float_sweep', 'powf8', r"'powf8' is not a one-argument float export"),
        ('intdiv_sweep', '-5', r"PAIRS: '-5' is out of range \(a whole number from 8 to"),
        ('intdiv_sweep', '0', r"PAIRS: '0' is out of range"),
        ('intdiv_sweep', '1.5', r"PAIRS: '1\.5' is not a whole number"),
        ('intdiv_sweep', 'abc', r"PAIRS: 'abc' is not a number"),
        ('intdiv_sweep', '1e13', r"out of range"),
        ('intdiv_sweep', '100 -1', r"SEED: '-1' is out of range"),
        ('intdiv_sweep', '100 1 2', r"too many arguments"),
        ('intdiv_sweep', '--bogus', r"unknown option '--bogus'"),
        ('lib_diff', '', r"give two builds of the library and at least one export"),
        ('lib_diff', '{old} {new} --samples=abc exp4', r"--samples: 'abc' is not a number; nothing compared"),
        ('lib_diff', '{old} {new} --samples=0 exp4', r"--samples: '0' is out of range"),
        ('lib_diff', '{old} {new} --bogus exp4', r"unknown option '--bogus'"),
        ('lib_diff', '{old} {new} expf8 nosuch', r"'nosuch' is not an export; nothing compared"),
        ('lib_diff', '{old} {new} ldexpf16', r"'ldexpf16' is not a float width-8, double width-4 or, of the kinds f:f and ff:f, another export that lib_diff calls"),
        ('lib_diff', '{old} {new} fma8', r"'fma8' is not a float width-8, double width-4 or, of the kinds f:f and ff:f, another export that lib_diff calls"),
        ('lib_diff', '{old} {new} fmaf1', r"'fmaf1' is not a float width-8, double width-4 or, of the kinds f:f and ff:f, another export that lib_diff calls"),
        ('lib_diff', '{old} {new} --band=1:0.5 exp4', r"--band takes magnitudes 0 < LO < HI"),
        ('lib_diff', '{old} {new} --y=3 atan24', r"--y takes LO:HI"),
        ('lib_diff', '{old} {new} --band=1:1e309 exp4', r"'1e309' is beyond the largest double \(1\.7976931348623157e\+308\); nothing compared"),
        ('lib_diff', '{old} /nonexistent/libocl_qarn_e9.so expf8', r"cannot load /nonexistent/libocl_qarn_e9.so"),
        ('lib_diff', '{new} {new} expf8', r"are the same library"),
    ],
    'BenchRefusesBadOptions': [
        ('bench', '--bogus', r"unknown option '--bogus'$"),
        ('bench', '--lib /tmp/x.so', r"unknown option '--lib' \(write its value after '=': --lib=\.\.\.\)"),
        ('bench', '--lib=', r"--lib= needs a path"),
        ('bench', '--lib=/nonexistent/libocl_qarn_e9.so', r"cannot load /nonexistent/libocl_qarn_e9.so"),
        ('bench', '--check', r"--check belongs to --slices"),
        ('bench', '--rounds=3', r"--rounds belongs to --slices"),
        ('bench', '--quick --slices', r"--quick is for the full run, not --slices"),
        ('bench', '--slices --benchmark_filter=exp', r"Google Benchmark's flags are for the full run"),
        ('bench', '--slices --rounds=abc', r"--rounds: 'abc' is not a number"),
        ('bench', '--slices --rounds=0', r"--rounds: '0' is out of range"),
        ('bench', '--slices --rounds=2.5', r"--rounds: '2\.5' is not a whole number"),
        ('bench', '--slices --elems=8', r"--elems: '8' is out of range"),
        ('bench', '--slices --x=5:-5', r"--x=5:-5 is empty"),
        ('bench', '--slices --y=nan:1', r"--y: 'nan' is not a finite number"),
        ('bench', '--slices --x=1', r"--x takes LO:HI"),
        ('bench', '--slices --x=1,5:2', r"decimal point is '\.'"),
        ('bench', '--slices --filter=(', r"--filter=\(: not a regular expression"),
    ],
}

# ---- good values: (export, arguments with {} for the value, value, bits of lane 0,
# whether the result has the argument's lane type, so each printed column must read
# back through the same call) -------------------------------------------------------
FLOAT = ('copysignf1', '{} {}', True)   # copysign(x, x) is x, bit for bit
DOUBLE = ('copysign1', '{} {}', True)
INT = ('idiv1', '{} 1', True)
UINT = ('udiv1', '{} 1', True)
LONG = ('cvti64tofprte1', '{}', False)  # whole numbers that a double holds exactly
ULONG = ('cvtu64tofprte1', '{}', False)
CODE = ('nanf1', '{}', False)
READ = [
    (FLOAT, '1.5', 0x3fc00000), (FLOAT, '-2e-3', 0xbb03126f), (FLOAT, '.5', 0x3f000000),
    (FLOAT, '-0', 0x80000000), (FLOAT, '+0.0', 0x00000000), (FLOAT, '3.40282347e+38', 0x7f7fffff),
    (FLOAT, '1.4e-45', 0x00000001), (FLOAT, '1E2', 0x42c80000),
    # rounded once, to float: through double it would tie and round to 1
    (FLOAT, '1.000000059604644775390626', 0x3f800001),
    (FLOAT, '0x1.8p+3', 0x41400000), (FLOAT, '-0x1p-149', 0x80000001), (FLOAT, '0X1.FFFFFEP127', 0x7f7fffff),
    (FLOAT, '0x10p0', 0x41800000), (FLOAT, '-0x.8p1', 0xbf800000),
    (FLOAT, 'inf', 0x7f800000), (FLOAT, '-inf', 0xff800000), (FLOAT, 'Infinity', 0x7f800000),
    (FLOAT, 'nan', 0x7fc00000), (FLOAT, '-nan', 0xffc00000), (FLOAT, 'NaN', 0x7fc00000),
    (FLOAT, 'nan:0x123', 0x7fc00123), (FLOAT, 'nan:291', 0x7fc00123), (FLOAT, 'snan', 0x7f800001),
    (FLOAT, '-snan:0x1', 0xff800001), (FLOAT, 'snan:0x3fffff', 0x7fbfffff),
    (FLOAT, 'bits:0x3f800000', 0x3f800000), (FLOAT, 'bits:7f7fffff', 0x7f7fffff),
    (FLOAT, 'bits:0x0000000080000001', 0x80000001),
    (DOUBLE, '0.1', 0x3fb999999999999a), (DOUBLE, '4.9406564584124654e-324', 0x1),
    (DOUBLE, '0x1.fffffffffffffp+1023', 0x7fefffffffffffff), (DOUBLE, '0x0.0000000000001p-1022', 0x1),
    (DOUBLE, '-nan', 0xfff8000000000000), (DOUBLE, 'nan:0x7ffffffffffff', 0x7fffffffffffffff),
    (DOUBLE, '-snan:0x1', 0xfff0000000000001), (DOUBLE, 'bits:0x8000000000000000', 0x8000000000000000),
    (INT, '-16', 0xfffffff0), (INT, '0x10', 0x10), (INT, '-0x10', 0xfffffff0), (INT, '+7', 7),
    (INT, '1e6', 0xf4240), (INT, '2.5e3', 0x9c4), (INT, '-2147483648', 0x80000000),
    (INT, '2147483647', 0x7fffffff), (INT, 'bits:0xffffffff', 0xffffffff), (INT, '-0', 0),
    (UINT, '4294967295', 0xffffffff), (UINT, '0xffffffff', 0xffffffff), (UINT, '4.294967295e9', 0xffffffff),
    (LONG, '-9223372036854775808', 0xc3e0000000000000), (LONG, '-0x10', 0xc030000000000000),
    (LONG, 'bits:0xfffffffffffffff0', 0xc030000000000000), (LONG, '1e15', 0x430c6bf526340000),
    (ULONG, '0xffffffffffffffff', 0x43f0000000000000), (ULONG, '18446744073709551615', 0x43f0000000000000),
    (CODE, '0x123', 0x7fc00123),
]

LANE = re.compile(r'^\s*\[\s*(\d+)\]\s+(.*?)\s*bits:(0x[0-9a-f]+)$')


def run(tool, args, timeout=60):
    cmd = [TOOLS[tool]] + [a.format(**LIBS) for a in args]
    t = time.monotonic()
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr, time.monotonic() - t


def split(args):
    # 'eval expf8 ' ends in an empty argument: a value given as ''
    parts = args.split(' ') if args else []
    return parts


def lanes(out):
    return [(m.group(2).split(), int(m.group(3), 16)) for m in map(LANE.match, out.splitlines()) if m]


class Check:
    def __init__(self):
        self.failures = 0
        self.cases = 0

    def fail(self, what, why):
        self.failures += 1
        print(f'FAIL {what}: {why}')

    def refused(self, tool, args, pattern):
        self.cases += 1
        what = f'{tool} {args}'
        try:
            rc, out, err, secs = run(tool, split(args), timeout=30)
        except subprocess.TimeoutExpired:
            return self.fail(what, 'still running after 30 s: the input was not checked before the work')
        first = err.splitlines()[0] if err else ''
        if rc != 2:
            self.fail(what, f'exit status {rc}, want 2 (stderr: {first!r})')
        elif out:
            self.fail(what, f'printed on stdout: {out.splitlines()[0]!r}')
        elif not re.search(pattern, first):
            self.fail(what, f'stderr {first!r} does not match {pattern!r}')
        elif secs > 10:
            self.fail(what, f'took {secs:.0f} s before refusing')

    def reads(self, call, value, want):
        export, template, same_type = call
        self.cases += 1
        what = f'qarn eval {export} {value}'
        rc, out, err, _ = run('qarn', ['eval', export] + template.format(value, value).split(' '))
        got = lanes(out)
        if rc != 0 or not got:
            return self.fail(what, f'exit status {rc}: {err.strip()!r}')
        if got[0][1] != want:
            return self.fail(what, f'bits {got[0][1]:#x}, want {want:#x}')
        if not same_type:
            return
        # Every column printed (value, hex float) reads back as the same bits.
        for token in got[0][0]:
            rc, out, err, _ = run('qarn', ['eval', export] + template.format(token, token).split(' '))
            back = lanes(out)
            if rc != 0 or not back or back[0][1] != want:
                self.fail(what, f'printed {token!r} reads back as {back[0][1] if back else err.strip()!r}')


def commands(c):
    """Good uses of each command: exit 0 and the output a person needs."""
    def expect(tool, args, pattern, rc_want=0, stream='out'):
        c.cases += 1
        rc, out, err, _ = run(tool, split(args), timeout=120)
        text = out if stream == 'out' else err
        if rc != rc_want or not re.search(pattern, text, re.M):
            c.fail(f'{tool} {args}', f'exit {rc}, output {text[:300]!r} lacks {pattern!r}')

    for opt in ('list', 'eval', 'ulp', 'hash', '--missing', '--present', '--range', '--y LO HI', '--n LO HI', '-n N', '--all', '--modes', 'bits:0x',
                'nan:0x123', '-snan:0x1', '0x1.8p\\+3', '0x10p0'):
        expect('qarn', '--help', re.escape(opt) if '\\' not in opt else opt)
    expect('qarn', 'ulp --help', r'^usage: qarn list')
    expect('qarn', 'list exp', r'^exp +\d+ of +\d+ present$')
    expect('qarn', 'list exp', r'^\d+ of \d+ exports present$')
    expect('qarn', 'ulp expf8 -n 1e3', r'^PASS expf8 .* n=1000: worst [0-9.]+ ulp \(bound [0-9.]+ ulp\) at x = ')
    expect('qarn', 'ulp exp4 --range 0x1p-3 bits:0x3ff0000000000000 -n 0x100',
           r'^PASS exp4 +\[0\.125, 1\] n=256: ')
    # Every operand count and every result.
    expect('qarn', 'ulp powf8 --range 0.5 2 --y -3 3 -n 500', r'^PASS powf8 +\[0\.5, 2\] \[-3, 3\] n=500: worst [0-9.]+ ulp '
           r'\(bound [0-9.]+ ulp\) at \(0x[0-9a-f.p+-]+, -?0x[0-9a-f.p+-]+\)')
    expect('qarn', 'ulp pownf8 --range 0.5 2 --n -3 3 -n 500', r'^PASS pownf8 +\[0\.5, 2\] n in \[-3, 3\] n=500: ')
    expect('qarn', 'ulp fma4 -n 2000', r'^PASS fma4 .* n=2000: every result correctly rounded')
    expect('qarn', 'ulp sincosf8 -n 500', r'^PASS sincosf8 +\[.*\n^PASS sincosf8 \(second result\) .* worst [0-9.]+ ulp')
    expect('qarn', 'ulp remquof8 -n 500', r'^PASS remquof8 \(second result\) .* every integer result agrees$')
    expect('qarn', 'ulp frexp4 -n 500', r'^PASS frexp4 \(second result\) .* every integer result agrees$')
    expect('qarn', 'eval idivrem1 7 2', r'^result 0 \(int\):\n +\[ 0\] 3 +bits:0x00000003\nresult 1 \(int\):\n +\[ 0\] 1 ')
    expect('qarn', 'eval expf3 0 1 2', r'^ +\[ 2\] 7\.38905621 ')
    for opt in ('--help', 'EXPORT'):
        expect('float_sweep', '--help', re.escape(opt))
    for opt in ('--modes', '--samples=N', '--help'):
        expect('lib_diff', '--help', re.escape(opt))
    expect('lib_diff', '{old} {new} --samples=1e3 exp4', r'^SAME exp4 +to nearest +\d+ inputs, 0 differ$')
    expect('lib_diff', '{old} {new} --samples=1e3 pow16', r'^SAME pow16 +to nearest +\d+ inputs, 0 differ$')
    for opt in ('PAIRS', 'SEED', '--help'):
        expect('intdiv_sweep', '--help', opt)
    expect('intdiv_sweep', '1e3', r'^idiv8 +1000 lanes checked, 0 wrong$')
    expect('intdiv_sweep', '0x400 0x2a', r'^udivrem1 +512 lanes checked, 0 wrong$')
    if 'bench' in TOOLS:
        for opt in ('--quick', '--lib=PATH', '--slices', '--check', '--registry', '--filter=REGEX', '--rounds=N',
                    '--elems=N', '--x=LO:HI', '--y=LO:HI', '--no-tiny', '--benchmark_filter'):
            expect('bench', '--help', re.escape(opt))


def main():
    group = sys.argv[1]
    for a in sys.argv[2:]:
        k, _, v = a[2:].partition('=')
        TOOLS[k] = v
    c = Check()
    tmp = tempfile.TemporaryDirectory()
    if 'lib' in TOOLS:
        LIBS['new'] = TOOLS['lib']
        LIBS['old'] = shutil.copy(TOOLS['lib'], os.path.join(tmp.name, 'old.so'))
    if group in REFUSED:
        for tool, args, pattern in REFUSED[group]:
            if tool in TOOLS:
                c.refused(tool, args, pattern)
    elif group == 'QarnReadsEveryNotation':
        for call, value, want in READ:
            c.reads(call, value, want)
    elif group == 'GoodInputsWork':
        commands(c)
    else:
        sys.exit(f'unknown group {group}')
    print(f'{group}: {c.cases} cases, {c.failures} failed')
    sys.exit(1 if c.failures or not c.cases else 0)


if __name__ == '__main__':
    main()
