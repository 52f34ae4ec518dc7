#!/usr/bin/env python3
"""The OpenCL C binding of libocl_qarn_e9, generated from the export registry.

  bindgen.py SRCDIR OUTDIR [--shims]

Clang compiles OpenCL C for x86-64 into ordinary System V code that calls every
built-in under its mangled overload name (`_Z3expDv8_f`, `_Z4pownDv8_fDv8_i`,
`_Z6sincosDv4_dPU8CLglobalS_`, ...).  This writes, for every overload the library
serves:

  cl_binding.S     one entry per export: the overload names of that export, each a
                   global label on one jump, to the export itself where the System V
                   registers are the export's, to its System V shim `<export>_sysv`
                   where they are not (only with --shims: the shim library is built)
  cl_overloads.txt every overload of a built-in the registry knows, bound or not, a
                   line each: mangled name, OpenCL declaration, export, and `jump`,
                   `shim` or the reason it is not bound (the kernel runner prints it)

Overloads: the default variant under the OpenCL name (lgamma_r for lgammar), the
float `_native` and `_half` variants as native_<f> and half_<f> (native_recip and
native_divide for inv and div), and the conversions convert_<type><n>[_sat]_<mode>
with their unsuffixed default modes (toward zero to an integer, to nearest to a
floating type).  Pointer arguments come in the three address spaces a kernel can
pass (__global, __local, __private), each in both manglings Clang uses: the
`CLglobal` form of targets without address-space numbers (x86-64) and the numbered
`AS1` form (SPIR), so objects made for either link.
"""
import importlib.util, os, sys

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


def load_needs_shim(src):
    """frame/abi.py's needs_shim, when the tree has it."""
    path = os.path.join(src, 'frame', 'abi.py')
    if not os.path.exists(path):
        return None
    spec = importlib.util.spec_from_file_location('qarn_abi', path)
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod.needs_shim


def registers_differ(row):
    """Whether System V passes this export's operands elsewhere than the export
    expects: width-1 integers and pointers (rdi/rsi against rcx/rdx), vectors over 32
    bytes (memory against ymm pairs), two results in registers, the by-reference form."""
    args, ptrs, res = R.parse_kind(row['kind'])
    w, prec = row['width'], row['prec']
    if row['form'] == 'ref' or ptrs or len(res) > 1:
        return True
    if w == 1 and any(k in 'iulqc' for k in args):
        return True
    return any(R.storage(R.lane_bytes(k, prec), w) > 32 for k in args + res)


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
    needs_shim = load_needs_shim(src)
    rows = R.exports()
    R.check(rows)
    asm = ['# Generated by kernels/bindgen.py from frame/registry.py; do not edit.',
           '\t.text']
    listing = []
    seen = set()
    for row in rows:
        ovs = overloads(row)
        if not ovs:
            continue
        present = os.path.exists(os.path.join(src, row['src']))
        differ = registers_differ(row)
        if needs_shim is not None:
            differ = needs_shim(row)
        export = row['name']
        if not present:
            status = 'absent:%s is not exported yet' % export
        elif not differ:
            status, target = 'jump', export
        elif shims_built and needs_shim is not None:
            status, target = 'shim', export + '_sysv'
        else:
            status = 'absent:%s needs a System V shim (the shim library is not built)' % export
        labels = []
        for cl, decl, m in ovs:
            if m in seen:
                raise SystemExit('bindgen.py: %s bound twice (%s)' % (m, export))
            seen.add(m)
            listing.append('%s\t%s\t%s\t%s' % (m, status.split(':')[0], export,
                                              decl + ('' if ':' not in status else '\t' + status.split(':', 1)[1])))
            labels.append(m)
        if status in ('jump', 'shim'):
            asm.append('\t.p2align 4')
            for m in labels:
                asm += ['\t.globl %s' % m, '\t.type %s, @function' % m, '%s:' % m]
            asm.append('\tjmp %s@PLT' % target)
            for m in labels:
                asm.append('\t.size %s, .-%s' % (m, labels[0]))
    asm.append('\t.section .note.GNU-stack,"",@progbits')
    write_if_changed(os.path.join(out, 'cl_binding.S'), '\n'.join(asm) + '\n')
    write_if_changed(os.path.join(out, 'cl_overloads.txt'), '\n'.join(listing) + '\n')


if __name__ == '__main__':
    main()
