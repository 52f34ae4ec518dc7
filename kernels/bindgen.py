#!/usr/bin/env python3
"""The OpenCL C binding of libocl_qarn_e9, generated from the export registry.

  bindgen.py SRCDIR OUTDIR [--shims]

Clang compiles OpenCL C for x86-64 into ordinary System V code that calls every
built-in under its mangled overload name (`_Z3expDv8_f`, `_Z4pownDv8_fDv8_i`,
`_Z6sincosDv4_dPU8CLglobalS_`, ...).  This writes, for every overload the library
serves:

  cl_binding.S     one entry per register-form export: the overload names of that
                   export, each a global label on one jump, to the export itself
                   where Clang's System V registers are the export's, else to its
                   System V shim (package/abi.py names it; only with --shims, when the
                   shim library is built)
  cl_byref.c       the by-reference exports (ordinary Windows x64 functions): a
                   System V function per overload that hands the export its
                   arguments' addresses and a result buffer; and the overloads with a
                   scalar second argument (fmax, fmin, ldexp), which broadcast it and
                   call the vector overload (compiled by Clang, whose placement of 64-
                   and 128-byte vectors the kernels follow)
  cl_overloads.txt every overload of a built-in the registry knows, bound or not, a
                   line each: mangled name, status (`jump`, `shim`, `glue` or
                   `absent`), export, OpenCL declaration, and the symbol reached (or,
                   for an absent one, why it is not bound: the kernel runner prints it)

Overloads: the default variant under the OpenCL name (lgamma_r for lgammar), the
float `_native` and `_half` variants as native_<f> and half_<f> (native_recip and
native_divide for inv and div), and the conversions convert_<type><n>[_sat]_<mode>
with their unsuffixed default modes (toward zero to an integer, to nearest to a
floating type).  Pointer arguments come in the three address spaces a kernel can
pass (__global, __local, __private), each in both manglings Clang uses: the
`CLglobal` form of targets without address-space numbers (x86-64) and the numbered
`AS1` form (SPIR), so objects made for either link.
"""
import os, sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'frame'))
import registry as R

# The OpenCL built-ins with native_ and half_ forms (float only).
NATIVE = {'cos', 'divide', 'exp', 'exp2', 'exp10', 'log', 'log2', 'log10', 'powr', 'recip',
          'rsqrt', 'sin', 'sqrt', 'tan'}
CL_NAME = {'lgammar': 'lgamma_r', 'inv': 'recip', 'div': 'divide'}
# Families without a default OpenCL name: reached by an operator (inv, div) or the
# library's own, beyond OpenCL C (sincosreg, rcbrt, nearbyint).
NO_DEFAULT = {'inv', 'div', 'sincosreg', 'rcbrt', 'nearbyint'}

# Scalar element types: (OpenCL name, mangling code).
SCALAR = {'float': 'f', 'double': 'd', 'int': 'i', 'uint': 'j', 'long': 'l', 'ulong': 'm'}
KIND_TYPE = {'i': 'int', 'u': 'uint', 'l': 'long', 'q': 'ulong', 'F': 'float', 'D': 'double'}

# Address spaces of pointer arguments: (OpenCL keyword, x86-64 mangling, SPIR mangling).
SPACES = (('__global', 'CLglobal', 'AS1'), ('__local', 'CLlocal', 'AS3'), ('__private', 'CLprivate', None))


def elem_type(k, prec):
    if k == 'f':
        return 'float' if prec == 'f' else 'double'
    if k == 'c':
        return 'uint' if prec == 'f' else 'ulong'
    return KIND_TYPE[k]


def type_name(t, w):
    return t if w == 1 else '%s%d' % (t, w)


def mangle(name, params):
    """Itanium mangling of an overloadable OpenCL function.  params: list of
    ('v', elem, width) values or ('p', space_mangling_or_None, elem, width) pointers."""
    subs = []  # substitution candidates, by type identity

    def ref(i):
        if i == 0:
            return 'S_'
        digits, n, s = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ', i - 1, ''
        while True:
            s = digits[n % 36] + s
            n //= 36
            if not n:
                break
        return 'S%s_' % s

    def value(elem, w):
        if w == 1:
            return SCALAR[elem]            # builtin types are never substituted
        key = ('v', elem, w)
        if key in subs:
            return ref(subs.index(key))
        subs.append(key)
        return 'Dv%d_%s' % (w, SCALAR[elem])

    out = []
    for p in params:
        if p[0] == 'v':
            out.append(value(p[1], p[2]))
            continue
        _, space, elem, w = p
        inner_key = ('v', elem, w) if w > 1 else ('s', elem)
        qual_key = ('q', space, inner_key)
        ptr_key = ('p', qual_key if space else inner_key)
        if ptr_key in subs:
            out.append(ref(subs.index(ptr_key)))
            continue
        if space:
            if qual_key in subs:
                body = ref(subs.index(qual_key))
            else:
                body = 'U%d%s%s' % (len(space), space, value(elem, w))
                subs.append(qual_key)
        else:
            body = value(elem, w)
        subs.append(ptr_key)
        out.append('P' + body)
    return '_Z%d%s%s' % (len(name), name, ''.join(out))


def declaration(name, ret, params):
    ps = []
    for p in params:
        if p[0] == 'v':
            ps.append(type_name(p[1], p[2]))
        else:
            ps.append('%s %s*' % (p[1], type_name(p[2], p[3])))
    return '%s %s(%s)' % (ret, name, ', '.join(ps))


def math_names(row):
    fam, var = row['family'], row['variant']
    base = CL_NAME.get(fam, fam)
    if var == 'default':
        return [] if fam in NO_DEFAULT else [base]
    if var in ('_native', '_half') and row['prec'] == 'f' and base in NATIVE:
        return [var[1:] + '_' + base]
    return []


def conversion_names(row):
    fam, w, rnd = row['family'], row['width'], row['rounding']
    args, _, res = R.parse_kind(row['kind'])
    if fam in ('idiv', 'irem', 'idivrem', 'udiv', 'urem', 'udivrem'):
        return []
    dst = type_name(KIND_TYPE[res[0]], w)
    sat = '_sat' if row['sat'] else ''
    names = ['convert_%s%s_%s' % (dst, sat, rnd)]
    to_int = res[0] in 'iulq'
    if (to_int and rnd == 'rtz') or (not to_int and rnd == 'rte'):
        names.append('convert_%s%s' % (dst, sat))
    return names


def overloads(row):
    """[(opencl name, declaration, mangled name)] of one export row."""
    w, prec = row['width'], row['prec']
    args, ptrs, res = R.parse_kind(row['kind'])
    names = conversion_names(row) if row['family'].startswith('cvt') or row['prec'] == 'i' else math_names(row)
    if not names or len(res) > 1:
        return []
    ret = type_name(elem_type(res[0], prec), w)
    vals = [('v', elem_type(k, prec), w) for k in args]
    out = []
    for n in names:
        if not ptrs:
            out.append((n, declaration(n, ret, vals), mangle(n, vals)))
            continue
        for kw, x86, spir in SPACES:
            pt = [('p', x, elem_type(ptrs[0], prec), w) for x in (x86, spir)]
            decl = declaration(n, ret, vals + [('p', kw, elem_type(ptrs[0], prec), w)])
            out.append((n, decl, mangle(n, vals + [pt[0]])))
            out.append((n, decl, mangle(n, vals + [pt[1]])))
    return out


C_TYPE = {'float': 'float', 'double': 'double', 'int': 'int', 'uint': 'unsigned', 'long': 'long',
          'ulong': 'unsigned long'}


def c_vector(t, w):
    return 'qcl_%s%d' % (t, 4 if w == 3 else w) if w > 1 else C_TYPE[t]


def glue(row, ovs):
    """System V functions (C for Clang) reaching a by-reference export."""
    args, ptrs, res = R.parse_kind(row['kind'])
    w, prec = row['width'], row['prec']
    ret = c_vector(elem_type(res[0], prec), w)
    params = ['%s a%d' % (c_vector(elem_type(k, prec), w), i) for i, k in enumerate(args)]
    params += ['void* p%d' % i for i in range(len(ptrs))]
    call = ['&r'] + ['&a%d' % i for i in range(len(args))] + ['p%d' % i for i in range(len(ptrs))]
    out = ['extern __attribute__((ms_abi)) void* %s(%s);' % (
        row['name'], ', '.join(['void*'] * (1 + len(args) + len(ptrs))))]
    for _, decl, m in ovs:
        out.append('%s %s(%s) { %s r; %s(%s); return r; }  // %s' % (
            ret, m, ', '.join(params), ret, row['name'], ', '.join(call), decl))
    return out


# Built-ins with an overload taking a scalar second argument beside the vector first.
SCALAR_SECOND = ('fmax', 'fmin', 'ldexp')


def scalar_second(row, ovs):
    """[(decl, mangled, vector overload's mangled, C function)] of the overloads of a
    vector export whose second argument is one scalar for every lane."""
    if row['family'] not in SCALAR_SECOND or row['variant'] != 'default' or row['width'] == 1:
        return []
    args, _, res = R.parse_kind(row['kind'])
    w, prec, name = row['width'], row['prec'], row['family']
    vt, st = elem_type(args[0], prec), elem_type(args[1], prec)
    vals = [('v', vt, w), ('v', st, 1)]
    m = mangle(name, vals)
    vec = ovs[0][2]
    ct, cs = c_vector(vt, w), c_vector(elem_type(args[1], prec), w)
    fn = ['%s %s(%s, %s);' % (ct, vec, ct, cs),
          '%s %s(%s x, %s y) { return %s(x, (%s)y); }' % (ct, m, ct, C_TYPE[st], vec, cs)]
    return [(declaration(name, type_name(vt, w), vals), m, vec, fn)]


def write_if_changed(path, text):
    try:
        if open(path).read() == text:
            return
    except OSError:
        pass
    open(path, 'w').write(text)


def main():
    argv = [a for a in sys.argv[1:] if not a.startswith('--')]
    shims_built = '--shims' in sys.argv
    src, out = argv[0], argv[1]
    os.makedirs(out, exist_ok=True)
    sys.path.insert(0, os.path.join(src, 'frame'))
    sys.path.insert(0, os.path.join(src, 'package'))
    import abi
    rows = R.exports()
    R.check(rows)
    asm = ['# Generated by kernels/bindgen.py from frame/registry.py; do not edit.',
           '\t.text']
    c = ['// Generated by kernels/bindgen.py from frame/registry.py; do not edit.']
    for t in ('float', 'double', 'int', 'uint', 'long', 'ulong'):
        for n in (2, 4, 8, 16):   # width 3 has the storage and the registers of width 4
            c.append('typedef %s qcl_%s%d __attribute__((ext_vector_type(%d)));' % (C_TYPE[t], t, n, n))
    listing = []
    seen = set()
    for row in rows:
        ovs = overloads(row)
        if not ovs:
            continue
        export = row['name']
        if not os.path.exists(os.path.join(src, row['src'])):
            status = 'absent:%s is not exported yet' % export
        elif row['form'] == 'ref':
            status = 'glue'
            c += glue(row, ovs)
        elif not abi.needs_shim(row, 'clang'):
            status, target = 'jump', export
        elif shims_built:
            status, target = 'shim', abi.shim_name(row, 'clang')
        else:
            status = 'absent:%s needs its System V shim (the shim library is not built)' % export
        labels = []
        for cl, decl, m in ovs:
            if m in seen:
                raise SystemExit('bindgen.py: %s bound twice (%s)' % (m, export))
            seen.add(m)
            st, _, why = status.partition(':')
            last = target if st in ('jump', 'shim') else export if st == 'glue' else why
            listing.append('\t'.join([m, st, export, decl, last]))
            labels.append(m)
        for decl, m, vec, fn in scalar_second(row, ovs):
            st, _, why = status.partition(':')
            if st != 'absent':
                st, why = 'glue', vec
                c += fn
            listing.append('\t'.join([m, st, export, decl, why]))
        if status in ('jump', 'shim'):
            asm.append('\t.p2align 4')
            for m in labels:
                asm += ['\t.globl %s' % m, '\t.type %s, @function' % m, '%s:' % m]
            asm.append('\tjmp %s@PLT' % target)
            for m in labels:
                asm.append('\t.size %s, .-%s' % (m, labels[0]))
    asm.append('\t.section .note.GNU-stack,"",@progbits')
    write_if_changed(os.path.join(out, 'cl_binding.S'), '\n'.join(asm) + '\n')
    write_if_changed(os.path.join(out, 'cl_byref.c'), '\n'.join(c) + '\n')
    write_if_changed(os.path.join(out, 'cl_overloads.txt'), '\n'.join(listing) + '\n')


if __name__ == '__main__':
    main()
