#!/usr/bin/env python3
"""Static checks of the built library's machine code.

  check_disasm.py LIB EXPORTS_TXT [BYREF_TXT]

1. No instruction beyond AVX anywhere in the library (no AVX2, FMA, F16C, BMI,
   AVX-512): the library must run on processors that have AVX only.
2. No export body writes a register its callers expect preserved (rdi, rsi,
   xmm6-xmm15 / ymm6-ymm15), clears upper halves (vzeroupper) or makes a call;
   special lanes leave the body by a jump to its cold part, and the saves belong
   to the lane loop alone.  By-reference exports (ordinary Windows x64
   functions) are exempt from 2; the compiler saves what they use.
3. No aligned 256-bit move addresses the stack of a function that has not
   aligned rsp to 32 bytes itself: callers align the stack to 16 bytes only
   (Windows x64 and System V alike), so such a move would fault in some calls.
Exits 1 and lists the offending instructions if any check fails.  Works on the
Linux ELF and the Windows DLL alike; QARN_OBJDUMP names the objdump to use (the
MinGW one for the DLL).
"""
import os, re, subprocess, sys

BEYOND_AVX = re.compile(
    r'\s(vfn?m(add|sub)[a-z0-9]*|vcvtph2ps|vcvtps2ph|vpbroadcast[a-z]*|vperm[dq]|vpermps|vpermpd|vp?gather[a-z]*'
    r'|vpsllv[dq]|vpsrlv[dq]|vpsrav[dq]|vinserti128|vextracti128|vpmaskmov[dq]|vperm2i128|andn|bextr|blsi|blsr'
    r'|blsmsk|bzhi|pdep|pext|rorx|sarx|shlx|shrx|lzcnt|tzcnt|movbe)\s|%zmm|%k[0-7]|\svbroadcasts[sd]\s+%xmm')
# 256-bit integer instructions (vp* on ymm), except the AVX ones that only test or permute floats.
INT256 = re.compile(r'\svp[a-z0-9]+\s.*%ymm')
INT256_OK = re.compile(r'\svp(test|ermil[a-z]*|erm2f128)\s')
ALIGNED_YMM = re.compile(r'\svmova(p[sd]|dqa)\s+(%ymm\d+,.*\(%r[sb]p\)|.*\(%r[sb]p\),%ymm\d+)')
REALIGN = re.compile(r'\sand\s+\$0xf+[ce]0,%rsp')
PRESERVED = re.compile(r'^%([xy]mm([6-9]|1[0-5])|[re]?di|[re]?si|dil|sil)$')
NO_WRITE = re.compile(r'^(v?u?comis[sd]|v?ptest|vtestp[sd]|cmp[a-z]*|test[a-z]*|push[a-z]*|bt[a-z]*)$')

def main():
    lib, exports_txt = sys.argv[1], sys.argv[2]
    exports = set(open(exports_txt).read().split())
    out = subprocess.run([os.environ.get('QARN_OBJDUMP') or 'objdump', '-d', '--no-show-raw-insn', lib], capture_output=True, text=True,
                         check=True).stdout
    by_ref = set(open(sys.argv[3]).read().split()) if len(sys.argv) > 3 else set()
    lines = out.splitlines()
    # Functions that align rsp themselves; a cold part runs in the frame of the
    # function it was split from (and may come first in the file).
    aligned_fns, fn = set(), None
    for line in lines:
        m = re.match(r'^[0-9a-f]+ <([^>]+)>:$', line)
        if m:
            fn = m.group(1)
        elif REALIGN.search(line):
            aligned_fns.add(fn)
    bad, fn, realigned = [], None, False
    for line in lines:
        m = re.match(r'^[0-9a-f]+ <([^>]+)>:$', line)
        if m:
            fn = m.group(1)
            realigned = fn.endswith('.cold') and fn[:-5] in aligned_fns
            continue
        if '\t' not in line:
            continue
        if REALIGN.search(line):
            realigned = True
        if ALIGNED_YMM.search(line) and not realigned:
            bad.append('aligned 256-bit stack access without an aligned rsp in %s: %s' % (fn, line.strip()))
        if BEYOND_AVX.search(line) or (INT256.search(line) and not INT256_OK.search(line)):
            bad.append('beyond AVX in %s: %s' % (fn, line.strip()))
        if fn in exports and fn not in by_ref:
            parts = line.split('\t')
            insn = parts[-1].strip()
            if not insn:
                continue
            mnem, _, ops = insn.partition(' ')
            if mnem == 'vzeroupper':
                bad.append('vzeroupper in export %s' % fn)
                continue
            if mnem.startswith('call'):
                bad.append('call in export %s (the cold part is reached by a jump)' % fn)
                continue
            ops = ops.split('#')[0].strip()
            if not ops or NO_WRITE.match(mnem):
                continue
            dst = re.split(r',(?![^()]*\))', ops)[-1].strip()
            if PRESERVED.match(dst):
                bad.append('preserved register written in %s: %s' % (fn, insn))
    for b in bad[:40]:
        print(b)
    if bad:
        print('%d problem(s)' % len(bad))
        return 1
    print('ok: %d exports checked, no instruction beyond AVX' % len(exports))
    return 0

if __name__ == '__main__':
    sys.exit(main())
