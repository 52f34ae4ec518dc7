#!/usr/bin/env python3
"""Generates what the package installs, from the registry and package/abi.py.

  package.py SRCDIR OUTDIR
writes into OUTDIR:
  ocl_qarn_e9.h        C/C++ declarations of every present export (GCC/Clang vector types)
  sysv_shims.S         System V entries of the exports whose registers differ
  exports.json         the manifest: per export its family, OpenCL name, types, registers, ...
  header_calls.inc     one call through the header per present export (tests)
  header_shapes.c      one export of every distinct calling shape, checked lane by lane (tests)
  ir_shapes.ll, .c     the same shapes called from LLVM IR with the manifest's declarations (tests)
"""
import json, os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'frame'))  # registry, gen
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import registry as R
import abi as A
from gen import write_if_changed

GUARD_WIDE = 'OCL_QARN_E9_NO_WIDE'

# ---- C types -------------------------------------------------------------------------
LANE_C = {'F': 'float', 'D': 'double', 'i': 'int', 'u': 'uint', 'l': 'long', 'q': 'ulong'}
SCALAR_C = {'float': 'float', 'double': 'double', 'int': 'int32_t', 'uint': 'uint32_t',
            'long': 'int64_t', 'ulong': 'uint64_t'}


def lane_name(k, prec):
    if k == 'f':
        return 'float' if prec == 'f' else 'double'
    if k == 'c':
        return 'uint' if prec == 'f' else 'ulong'
    return LANE_C[k]


def opencl_type(k, prec, w):
    return lane_name(k, prec) + ('' if w == 1 else str(w))


def ctype(k, prec, w):
    t = lane_name(k, prec)
    return SCALAR_C[t] if w == 1 else 'qarn_%s%d' % (t, w)


def pair_ctype(row):
    _, _, res = A.arg_kinds(row)
    t = lane_name(res[0], row['prec'])
    what = 'sincos' if row['family'] == 'sincosreg' else 'divrem'
    return 'qarn_%s_%s%s' % (what, t, '' if row['width'] == 1 else row['width'])


def result_ctype(row):
    _, _, res = A.arg_kinds(row)
    return pair_ctype(row) if len(res) == 2 else ctype(res[0], row['prec'], row['width'])


# Parameter names, as OpenCL names them.
PTR_NAME = {'sincos': 'cosval', 'frexp': 'exp', 'modf': 'iptr', 'fract': 'iptr', 'remquo': 'quo',
            'lgammar': 'signp'}


def param_names(row):
    args, ptrs, _ = A.arg_kinds(row)
    fam = row['family']
    if fam == 'nan':
        names = ['nancode']
    elif fam == 'fma':
        names = ['a', 'b', 'c']
    elif fam in ('pown', 'rootn'):
        names = ['x', 'n']
    elif fam == 'ldexp':
        names = ['x', 'k']
    elif row['prec'] == 'i':
        names = ['a', 'b']
    else:
        names = ['x', 'y', 'z'][:len(args)]
    return names + [PTR_NAME.get(fam, 'p')] * len(ptrs)


def is_wide(row):
    args, ptrs, res = A.arg_kinds(row)
    return row['form'] == 'reg' and any(A.nbytes(row, k) >= 64 for k in args + res + ptrs)


def prototype(row, name):
    args, ptrs, res = A.arg_kinds(row)
    p, w = row['prec'], row['width']
    names = param_names(row)
    if row['form'] == 'ref':
        rt = result_ctype(row)
        ps = ['%s *out' % rt] + ['const %s *%s' % (ctype(k, p, w), names[i]) for i, k in enumerate(args)]
        ps += ['%s *%s' % (ctype(k, p, w), names[len(args) + i]) for i, k in enumerate(ptrs)]
        return 'OCL_QARN_E9_MS %s *%s(%s)' % (rt, name, ', '.join(ps))
    ps = ['%s %s' % (ctype(k, p, w), names[i]) for i, k in enumerate(args)]
    ps += ['%s *%s' % (ctype(k, p, w), names[len(args) + i]) for i, k in enumerate(ptrs)]
    return '%s %s(%s)' % (result_ctype(row), name, ', '.join(ps))


def declaration(row):
    proto = prototype(row, row['name'])
    g, c = A.shim_name(row, 'gcc'), A.shim_name(row, 'clang')
    if g == row['name'] and c == row['name']:
        return proto + ';'
    if g == c:
        return '%s __asm__("%s");' % (proto, g)
    return '%s OCL_QARN_E9_SYM("%s", "%s");' % (proto, g, c)


HEADER_TOP = r'''/* ocl_qarn_e9.h: the exports of libocl_qarn_e9, declared for C and C++.
 *
 * Generated from the library's export registry; do not edit.
 *
 * Vector arguments and results use the GCC/Clang vector types below (qarn_float8 has
 * the layout of __m256 and converts to it).  A width-3 vector has the storage of a
 * width-4 one; its lane 3 is ignored on input and undefined on output.  Compile with
 * -mavx (or any -march with AVX).
 *
 * Most exports are called directly.  Those whose registers differ from the System V
 * convention (width-1 integers and pointers, 64- and 128-byte vectors, two results)
 * are declared under their own name but bound to an entry of libocl_qarn_e9_sysv.a
 * that moves the arguments and results; link that library too (pkg-config and the
 * CMake package do).  The double width-16 exports of two-argument families (and the
 * widest fma) take a result buffer and argument addresses; they are ordinary
 * Windows x64 functions, declared with ms_abi, and return the buffer.
 */
#ifndef OCL_QARN_E9_H
#define OCL_QARN_E9_H

#include <stdint.h>

#if !defined(__x86_64__) || !defined(__AVX__)
#error "ocl_qarn_e9.h: the exports take AVX registers; compile for x86-64 with -mavx"
#endif
#if defined(__AVX512F__) && !defined(OCL_QARN_E9_NO_WIDE)
#error "ocl_qarn_e9.h: with AVX-512 enabled the compiler passes 64-byte vectors in zmm registers; build with -mno-avx512f, or define OCL_QARN_E9_NO_WIDE to leave out the exports with 64- and 128-byte vectors"
#endif

#define OCL_QARN_E9_MS __attribute__((ms_abi))
/* Clang returns a bare 64- or 128-byte vector in ymm registers, GCC through a hidden
 * pointer: those exports have an entry for each. */
#if defined(__clang__)
#define OCL_QARN_E9_SYM(gcc, clang) __asm__(clang)
#else
#define OCL_QARN_E9_SYM(gcc, clang) __asm__(gcc)
#endif

#ifdef __cplusplus
extern "C" {
#endif
'''


def header(present):
    out = [HEADER_TOP]
    out.append('/* Vector types: lane i is element i; widths 3 and 4 share a type. */')
    for t in ('float', 'double', 'int', 'uint', 'long', 'ulong'):
        lb = 4 if t in ('float', 'int', 'uint') else 8
        for w in (2, 4, 8, 16):
            out.append('typedef %s qarn_%s%d __attribute__((vector_size(%d), __may_alias__));'
                       % (SCALAR_C[t], t, w, w * lb))
        out.append('typedef qarn_%s4 qarn_%s3;' % (t, t))
    out.append('')
    out.append('/* Two results of sincosreg (sines, cosines) and idivrem/udivrem (quotients, remainders). */')
    for what, m, types in (('sincos', ('sine', 'cosine'), ('float', 'double')),
                           ('divrem', ('quot', 'rem'), ('int', 'uint'))):
        for t in types:
            for w in (1, 2, 3, 4, 8, 16):
                v = SCALAR_C[t] if w == 1 else 'qarn_%s%d' % (t, w)
                out.append('typedef struct { %s %s, %s; } qarn_%s_%s%s;' % (v, m[0], m[1], what, t, '' if w == 1 else w))
    out.append('')
    fam = None
    wide = False
    for r in present:
        if r['family'] != fam:
            if wide:
                out.append('#endif'); wide = False
            fam = r['family']
            out.append('\n/* %s */' % fam)
        if is_wide(r) != wide:
            out.append('#ifndef %s' % GUARD_WIDE if not wide else '#endif')
            wide = not wide
        out.append(declaration(r))
    if wide:
        out.append('#endif')
    out.append('\n#ifdef __cplusplus\n}  /* extern "C" */\n#endif\n#endif /* OCL_QARN_E9_H */\n')
    return '\n'.join(out)


# ---- the System V entries ------------------------------------------------------------
def is_vec(loc):
    return loc[:3] in ('xmm', 'ymm')


def parallel_moves(moves, scratch):
    """Orders register moves [(src, dst)] so that no source is overwritten before it
    is read; a cycle goes through `scratch`."""
    pending = [(s, d) for s, d in moves if s != d]
    out = []
    while pending:
        for i, (s, d) in enumerate(pending):
            if not any(s2 == d for s2, _ in pending):
                out.append((s, d)); pending.pop(i); break
        else:
            s, d = pending[0]
            out.append((s, scratch))
            pending[0] = (scratch, d)
    return out


def shim_body(row, compiler):
    sargs, sres = A.placement(row, compiler)
    largs, lres = A.lib_args(row), A.lib_results(row)
    vmoves, gmoves, loads = [], [], []
    for src, dst in zip(sargs, largs):
        s = src[0]
        if s.startswith('stack+'):
            off = int(s[6:])
            for j, d in enumerate(dst):
                loads.append('        vmovups %d(%%rsp), %%%s' % (8 + off + 32 * j, d))
        elif is_vec(s):
            assert len(dst) == 1
            vmoves.append(('ymm' + s[3:], 'ymm' + dst[0][3:]))
        else:
            gmoves.append((s, dst[0]))
    code = []
    for s, d in parallel_moves(vmoves, 'ymm5'):
        code.append('        vmovaps %%%s, %%%s' % (s, d))
    for s, d in parallel_moves(gmoves, 'r11'):
        code.append('        mov     %%%s, %%%s' % (s, d))
    code += loads
    target = row['name'] + '@PLT'
    if sres == lres:
        code.append('        jmp     ' + target)
        return code
    code += ['        sub     $8, %rsp', '        call    ' + target, '        add     $8, %rsp']
    if sres[0] == ['mem']:
        # Results stored through the hidden pointer, which the export preserves (rdi).
        off = 0
        for group in lres:
            for reg in group:
                code.append('        vmovups %%%s, %d(%%rdi)' % (reg, off))
                off += 16 if reg.startswith('xmm') else 32
        code.append('        mov     %rdi, %rax')
    elif sres == [['xmm0'], ['xmm1']] and lres == [['xmm0.0'], ['xmm0.1']]:
        code.append('        vunpckhpd %xmm0, %xmm0, %xmm1')
    else:
        raise SystemExit('package.py: %s: no shim for results %r from %r' % (row['name'], sres, lres))
    code.append('        ret')
    return code


def shims_asm(present):
    out = ['// System V entries of the exports whose registers differ from the System V',
           '// convention.  Generated from the export registry; do not edit.',
           '        .text']
    for r in present:
        for sym, compilers in A.shims(r).items():
            out += ['', '        .globl  %s' % sym, '        .type   %s, @function' % sym,
                    '        .p2align 4', '%s:' % sym]
            out += shim_body(r, compilers[0])
            out.append('        .size   %s, .-%s' % (sym, sym))
    out.append('        .section .note.GNU-stack,"",@progbits')
    return '\n'.join(out) + '\n'


# ---- the manifest ---------------------------------------------------------------------
def opencl_name(row):
    fam, var = row['family'], row['variant']
    w = row['width']
    if fam.startswith('cvt'):
        _, _, res = A.arg_kinds(row)
        dst = opencl_type(res[0], row['prec'], w)
        return 'convert_%s%s_%s' % (dst, '_sat' if row['sat'] else '', row['rounding'])
    if row['prec'] == 'i':
        return {'idiv': '/', 'udiv': '/', 'irem': '%', 'urem': '%', 'idivrem': '/ and %',
                'udivrem': '/ and %'}[fam]
    base = {'lgammar': 'lgamma_r', 'sincosreg': 'sincos', 'inv': 'recip', 'div': 'divide'}.get(fam, fam)
    if var in ('_native', '_half'):
        return var[1:] + '_' + base
    if fam == 'inv':
        return '1/x'
    if fam == 'div':
        return 'x/y'
    return base


def manifest(present):
    out = []
    for r in present:
        args, ptrs, res = A.arg_kinds(r)
        p, w = r['prec'], r['width']
        e = {
            'name': r['name'], 'family': r['family'], 'opencl': opencl_name(r),
            'args': [opencl_type(k, p, w) for k in args] + ['%s*' % opencl_type(k, p, w) for k in ptrs],
            'result': [opencl_type(k, p, w) for k in res],
            'precision': {'f': 'float', 'd': 'double', 'i': 'int'}[p], 'width': w,
            'variant': r['variant'], 'second_name_of': r['body'],
            'ulp_bound': r['ulp'], 'uses_estimate': bool(r['estimate']),
            'special_lanes': r['lanes'], 'lane_fallback': r['fallback'],
        }
        if r['rounding']:
            e['rounding'] = r['rounding']
            e['saturating'] = bool(r['sat'])
        e.update(A.describe(r))
        e['llvm'] = llvm_declaration(r)
        e['c_symbol'] = {'gcc': A.shim_name(r, 'gcc'), 'clang': A.shim_name(r, 'clang')}
        out.append(e)
    seconds = {}
    for r in present:
        if r['body']:
            seconds.setdefault(r['body'], []).append(r['name'])
    for e in out:
        e['second_names'] = seconds.get(e['name'], [])
    return json.dumps({'library': 'libocl_qarn_e9', 'exports': out}, indent=1) + '\n'


# ---- LLVM IR ------------------------------------------------------------------------
def ir_lane(k, prec):
    if k == 'F' or (k == 'f' and prec == 'f'):
        return 'float'
    if k == 'D' or (k == 'f' and prec == 'd'):
        return 'double'
    return 'i%d' % (8 * R.lane_bytes(k, prec))


def ir_type(k, prec, w):
    t = ir_lane(k, prec)
    return t if w == 1 else '<%d x %s>' % (4 if w == 3 else w, t)


def llvm_signature(row):
    """(calling convention, result type, [parameter types]) of a call in LLVM IR to
    the export itself.  LLVM's x86-64 lowering (with AVX, without AVX-512) puts vector
    arguments and results of any width in consecutive xmm/ymm registers, as the
    register form does; integer and pointer arguments go after `i64 undef`
    placeholders so that they land in rcx, rdx, r8, r9."""
    args, ptrs, res = A.arg_kinds(row)
    p, w = row['prec'], row['width']
    if row['form'] == 'ref':
        return 'win64cc', 'ptr', ['ptr'] * (1 + len(args) + len(ptrs))
    locs = A.lib_args(row)
    vec, slots = [], [None] * 6
    for i, k in enumerate(args + ptrs):
        loc = locs[i][0]
        t = 'ptr' if i >= len(args) else ir_type(k, p, w)
        if loc in A.SYSV_GPRS:
            slots[A.SYSV_GPRS.index(loc)] = t
        else:
            vec.append(t)
    last = max([i for i, t in enumerate(slots) if t] or [-1])
    params = vec + [t or 'i64' for t in slots[:last + 1]]
    if len(res) == 2:
        if w == 1:
            rt = 'i64' if res[0] in A.INT_KINDS else '<2 x %s>' % ir_lane(res[0], p)
        else:
            rt = '{ %s, %s }' % (ir_type(res[0], p, w), ir_type(res[0], p, w))
    else:
        rt = ir_type(res[0], p, w)
    return '', rt, params


def llvm_declaration(row):
    cc, rt, params = llvm_signature(row)
    return 'declare %s%s @%s(%s)' % (cc + ' ' if cc else '', rt, row['name'], ', '.join(params))


# ---- tests ----------------------------------------------------------------------------
def header_calls(present):
    """One entry per export: a call through the header, arguments and results as bytes."""
    out = ['// Generated by package/package.py; do not edit.']
    for r in present:
        args, ptrs, res = A.arg_kinds(r)
        p, w = r['prec'], r['width']
        if r['form'] == 'ref':
            call = '%s(io.out<%s>()%s)' % (r['name'], result_ctype(r), ''.join(
                ', io.in_ptr<%s>(%d)' % (ctype(k, p, w), i) for i, k in enumerate(args)) + ''.join(
                ', io.ptr<%s>(%d)' % (ctype(k, p, w), i) for i, k in enumerate(ptrs)))
            body = 'io.returned = %s;' % call
        else:
            call = '%s(%s)' % (r['name'], ', '.join(
                ['io.arg<%s>(%d)' % (ctype(k, p, w), i) for i, k in enumerate(args)] +
                ['io.ptr<%s>(%d)' % (ctype(k, p, w), i) for i, k in enumerate(ptrs)]))
            body = 'io.ret(%s);' % call
        out.append('{"%s", [](Io& io) { %s }},' % (r['name'], body))
    return '\n'.join(out) + '\n'


def shape_key(r):
    return (r['form'], r['kind'], r['prec'] == 'd' or r['kind'][0] in 'Dlq', r['width'],
            str(A.placement(r, 'gcc')), str(A.placement(r, 'clang')))


def header_shapes(present):
    """A C program: for one export of every distinct calling shape, every lane equals
    the width-1 export's on that lane, both called through the header."""
    by = {}
    for r in present:
        if r['width'] == 1 and r['form'] == 'reg':
            by[(r['stem'], r['variant'])] = r
    out = ['/* Generated by package/package.py; do not edit. */', '#include "shapes_support.h"', '']
    names = []
    for n, r in enumerate(shape_picks(present)):
        one = by[(r['stem'], r['variant'])]
        args, ptrs, res = A.arg_kinds(r)
        p, w = r['prec'], r['width']
        lanes = 4 if w == 3 else w
        fn = 'shape%d' % n
        names.append((fn, r['name']))
        L = ['static int %s(void) {' % fn, '  int bad = 0;']
        for i, k in enumerate(args):
            t = ctype(k, p, w)
            L.append('  %s a%d;' % (t, i))
            L.append('  fill(&a%d, sizeof a%d, %d, %d, %d);' % (i, i, R.lane_bytes(k, p), kind_class(k, p), i))
        for i, k in enumerate(ptrs):
            L.append('  %s q%d; memset(&q%d, 0x5c, sizeof q%d);' % (ctype(k, p, w), i, i, i))
        rt = result_ctype(r)
        if r['form'] == 'ref':
            L.append('  %s r;' % rt)
            L.append('  if (%s(&r%s) != &r) bad |= report("%s", -1, -1);' % (
                r['name'], ''.join(', &a%d' % i for i in range(len(args))) +
                ''.join(', &q%d' % i for i in range(len(ptrs))), r['name']))
        else:
            L.append('  %s r = %s(%s);' % (rt, r['name'], ', '.join(
                ['a%d' % i for i in range(len(args))] + ['&q%d' % i for i in range(len(ptrs))])))
        L.append('  for (int i = 0; i < %d; ++i) {' % (3 if w == 3 else lanes))
        for i, k in enumerate(args):
            L.append('    %s b%d; memcpy(&b%d, (const char*)&a%d + i * %d, %d);' % (
                ctype(k, p, 1), i, i, i, R.lane_bytes(k, p), R.lane_bytes(k, p)))
        for i, k in enumerate(ptrs):
            L.append('    %s s%d;' % (ctype(k, p, 1), i))
        L.append('    %s o = %s(%s);' % (result_ctype(one), one['name'], ', '.join(
            ['b%d' % i for i in range(len(args))] + ['&s%d' % i for i in range(len(ptrs))])))
        lb = R.lane_bytes(res[0], p)
        for j in range(len(res)):
            stride = R.storage(lb, w) if w > 1 else lb
            L.append('    if (memcmp((const char*)&r + %d + i * %d, (const char*)&o + %d, %d)) bad |= report("%s", %d, i);'
                     % (j * stride, lb, j * lb, lb, r['name'], j))
        for i, k in enumerate(ptrs):
            plb = R.lane_bytes(k, p)
            L.append('    if (memcmp((const char*)&q%d + i * %d, &s%d, %d)) bad |= report("%s", %d, i);'
                     % (i, plb, i, plb, r['name'], len(res) + i))
        L += ['  }', '  return bad;', '}', '']
        out += L
    out.append('static const struct shape_test shapes[] = {')
    out += ['  {%s, "%s"},' % (fn, nm) for fn, nm in names]
    out.append('};')
    out.append('#define SHAPE_COUNT %d' % len(names))
    return '\n'.join(out) + '\n'


def shape_picks(present):
    picks = {}
    for r in present:
        picks.setdefault(shape_key(r), r)
    return list(picks.values())


def ir_shapes(present):
    """LLVM IR wrappers calling one export of every calling shape with the
    declarations of the manifest, and a C program comparing them with the header."""
    ll = ['; Generated by package/package.py; do not edit.', 'target triple = "x86_64-pc-linux-gnu"', '']
    c = ['/* Generated by package/package.py; do not edit. */', '#include "shapes_support.h"', '']
    declared = set()
    for n, r in enumerate(shape_picks(present)):
        args, ptrs, res = A.arg_kinds(r)
        p, w = r['prec'], r['width']
        cc, rt, params = llvm_signature(r)
        if r['name'] not in declared:
            ll.append(llvm_declaration(r))
            declared.add(r['name'])
        names = ['%%a%d' % i for i in range(len(args))] + ['%%q%d' % i for i in range(len(ptrs))]
        L = ['define ptr @ir_%d(%s, ptr %%out) #0 {' % (n, ', '.join('ptr ' + x for x in names))]
        if r['form'] == 'ref':
            L.append('  %%r = call win64cc ptr @%s(ptr %%out, %s)' % (r['name'], ', '.join('ptr ' + x for x in names)))
            L += ['  ret ptr %r', '}', '']
        else:
            locs = A.lib_args(r)
            vec, slots = [], [None] * 6
            for i, k in enumerate(args + ptrs):
                if i < len(args):
                    t = ir_type(k, p, w)
                    L.append('  %%x%d = load %s, ptr %%a%d, align 1' % (i, t, i))
                    v = '%s %%x%d' % (t, i)
                else:
                    v = 'ptr %%q%d' % (i - len(args))
                loc = locs[i][0]
                if loc in A.SYSV_GPRS:
                    slots[A.SYSV_GPRS.index(loc)] = v
                else:
                    vec.append(v)
            last = max([i for i, t in enumerate(slots) if t] or [-1])
            vals = vec + [t or 'i64 undef' for t in slots[:last + 1]]
            L.append('  %%r = call %s @%s(%s)' % (rt, r['name'], ', '.join(vals)))
            if rt.startswith('{'):
                t = ir_type(res[0], p, w)
                stride = R.storage(R.lane_bytes(res[0], p), w)
                L += ['  %%r0 = extractvalue %s %%r, 0' % rt, '  %%r1 = extractvalue %s %%r, 1' % rt,
                      '  store %s %%r0, ptr %%out, align 1' % t,
                      '  %%o1 = getelementptr i8, ptr %%out, i64 %d' % stride,
                      '  store %s %%r1, ptr %%o1, align 1' % t]
            else:
                L.append('  store %s %%r, ptr %%out, align 1' % rt)
            L += ['  ret ptr %out', '}', '']
        ll += L
        # The C side: the same operands through the header and through the IR.
        C = ['static int check%d(void) {' % n, '  int bad = 0;', '  static Buf a[3], q1[1], q2[1], o1, o2;']
        for i, k in enumerate(args):
            C.append('  fill(&a[%d], %d, %d, %d, %d);' % (i, R.storage(R.lane_bytes(k, p), w), R.lane_bytes(k, p),
                                                      kind_class(k, p), i))
        C.append('  memset(q1, 0x5c, sizeof q1); memset(q2, 0x5c, sizeof q2); memset(&o1, 0, sizeof o1); memset(&o2, 0, sizeof o2);')
        argv = ['(const %s*)&a[%d]' % (ctype(k, p, w), i) for i, k in enumerate(args)]
        if r['form'] == 'ref':
            C.append('  %s(%s);' % (r['name'], ', '.join(['(%s*)&o1' % result_ctype(r)] + argv +
                                                        ['(%s*)&q1[%d]' % (ctype(k, p, w), i) for i, k in enumerate(ptrs)])))
        else:
            C.append('  %s r = %s(%s);' % (result_ctype(r), r['name'], ', '.join(
                ['*' + x for x in argv] + ['(%s*)&q1[%d]' % (ctype(k, p, w), i) for i, k in enumerate(ptrs)])))
            C.append('  memcpy(&o1, &r, sizeof r);')
        C.append('  if (ir_%d(%s) != &o2) bad |= report("%s (IR)", -1, -1);' % (
            n, ', '.join(['&a[%d]' % i for i in range(len(args))] + ['&q2[%d]' % i for i in range(len(ptrs))] + ['&o2']),
            r['name']))
        lb = R.lane_bytes(res[0], p)
        stride = R.storage(lb, w) if w > 1 else lb
        C.append('  for (int i = 0; i < %d; ++i) {' % w)
        for j in range(len(res)):
            C.append('    if (memcmp((char*)&o1 + %d + i * %d, (char*)&o2 + %d + i * %d, %d)) bad |= report("%s (IR)", %d, i);'
                     % (j * stride, lb, j * stride, lb, lb, r['name'], j))
        for i, k in enumerate(ptrs):
            plb = R.lane_bytes(k, p)
            C.append('    if (memcmp((char*)&q1[%d] + i * %d, (char*)&q2[%d] + i * %d, %d)) bad |= report("%s (IR)", %d, i);'
                     % (i, plb, i, plb, plb, r['name'], len(res) + i))
        C += ['  }', '  return bad;', '}', '']
        c.append('void* ir_%d(%s);' % (n, ', '.join(['void*'] * (len(args) + len(ptrs) + 1))))
        c += C
    ll.append('attributes #0 = { "target-features"="+avx" }')
    c.append('static int (*const ir_checks[])(void) = {%s};' % ', '.join('check%d' % i for i in range(n + 1)))
    c.append('#define IR_COUNT %d' % (n + 1))
    return '\n'.join(ll) + '\n', '\n'.join(c) + '\n'


def kind_class(k, prec):
    """0 float lanes, 1 double lanes, 2 small positive integers."""
    if k in 'iulqc':
        return 2
    if k == 'F' or (k == 'f' and prec == 'f'):
        return 0
    return 1


def main():
    src, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    rows = R.exports()
    R.check(rows)
    A.check(rows)
    present = [r for r in rows if os.path.exists(os.path.join(src, r['src']))]
    write_if_changed(os.path.join(out, 'ocl_qarn_e9.h'), header(present))
    write_if_changed(os.path.join(out, 'sysv_shims.S'), shims_asm(present))
    write_if_changed(os.path.join(out, 'exports.json'), manifest(present))
    write_if_changed(os.path.join(out, 'header_calls.inc'), header_calls(present))
    write_if_changed(os.path.join(out, 'header_shapes.c'), header_shapes(present))
    ll, c = ir_shapes(present)
    write_if_changed(os.path.join(out, 'ir_shapes.ll'), ll)
    write_if_changed(os.path.join(out, 'ir_shapes.c'), c)


if __name__ == '__main__':
    main()
