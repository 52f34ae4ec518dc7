#!/usr/bin/env python3
"""PoCL on libocl_qarn_e9: a private PoCL prefix whose kernel library leaves every
built-in the library serves to the library.

  poclgen.py OVERLOADS LIBPOCL OUTDIR [--llvm-dis X] [--llvm-as Y]

PoCL 3.1 compiles a kernel with Clang, links it with its kernel library,
<libpocl's directory>/../../share/pocl/kernel-<triple>-<variant>.bc (the variant
chosen from the host's processor, or by POCL_KERNELLIB_NAME), and loads the result, a
shared object, with the process's symbols visible.  PoCL's headers rename every
built-in (`exp` is `_cl_exp`), so a kernel calls `_Z7_cl_expDv8_f`, defined in the
kernel library with Clang's x86-64 conventions: exactly the conventions of the
binding's `_Z3expDv8_f` (build/kernels/cl_overloads.txt lists those overloads).

This writes, under OUTDIR:

  prefix/lib/x86_64-linux-gnu/libpocl.so.2   a link to the system's libpocl: PoCL finds
                                             its data through its own location, so it
                                             reads the data folder below
  prefix/lib/x86_64-linux-gnu/pocl           a link to the system's device drivers
  prefix/share/pocl/include                  a link to the system's PoCL headers
  prefix/share/pocl/kernel-<triple>-avx.bc   PoCL's AVX kernel library with each served
                                             overload's definition replaced by a
                                             declaration (the kernel object then calls
                                             it, undefined, and the process resolves it)
  prefix/etc/OpenCL/vendors/qarn-pocl.icd    the ICD entry naming the linked libpocl
  prefix-scalar/...                          the same prefix with no scalar built-in
                                             widenable (below), to measure both
  pocl_binding.S                             the `_cl_` names, each a jump to the
                                             binding entry of its overload
  pocl_served.txt                            `_cl_` name, binding name, export,
                                             declaration: one line per replaced
                                             definition
  pocl_widened.txt                           scalar `_cl_` name, its scalar entry, its
                                             vector entries (comma-separated),
                                             declaration: one line per widenable
                                             scalar built-in

Scalar built-ins and the loop vectoriser.  PoCL runs a kernel's work-items in loops
that LLVM's loop vectoriser widens; a scalar call there becomes a vector call only if
the call carries (or its callee declares) `vector-function-abi-variant` naming a vector
function that is in the module when the vectoriser runs, and only if the call is not
`nobuiltin`.  PoCL 3.1 stands in the way three times: Clang marks every call of a kernel
`nobuiltin` (PoCL compiles with -fno-builtin); its linker copies from the kernel library
only functions reached through direct calls (lib/llvmopencl/linker.cpp,
find_called_functions), and a global naming any other function is copied with a
reference into the kernel library's module (the `llvm.used` route fails); and -O3 runs
twice before the vectoriser sees the work-item loops, deleting every declaration
nobody uses.  So a widenable scalar S (say `_Z7_cl_expf`) is three functions:

  S           inlined into the kernel, so that the call the vectoriser sees is the
              next one, without `nobuiltin`
  W = __qarn_widen_S
              noinline, carries the attribute naming the vector entries (f4/f8,
              d2/d4: the ones Clang passes by value in xmm/ymm registers, as LLVM
              passes a widened call's operands), tail-calls B; its body calls each
              vector entry in a block no branch reaches (the linker copies the
              vector declarations along with W, the optimiser drops the block) and
              names them in an empty `asm` (they stay in the module as long as W is
              called: up to the vectoriser, which replaces the calls), and its
              own address (so that no constant argument is folded into it)
  B = __qarn_S
              the scalar entry, a second name of the binding's jump for S
"""
import argparse, os, re, shutil, subprocess, sys

TRIPLE = 'x86_64-pc-linux-gnu'
VARIANT = 'avx'   # the library needs AVX and nothing newer: the kernels are built for it too


def cl_name(mangled):
    """`_Z3expDv8_f` -> `_Z7_cl_expDv8_f`: a function name is no substitution candidate,
    so the rest of the mangling is unchanged."""
    m = re.match(r'_Z(\d+)(.*)$', mangled)
    n, rest = int(m.group(1)), m.group(2)
    return '_Z%d_cl_%s' % (n + 4, rest)


def read_overloads(path):
    """Bound overloads in Clang's x86-64 manglings: [(mangled, status, export, decl, target)]."""
    out = []
    for line in open(path):
        col = line.rstrip('\n').split('\t')
        if len(col) < 5 or col[1] == 'absent':
            continue
        m = col[0]
        # SPIR manglings (numbered address spaces, unqualified private pointers) are
        # not what Clang writes for x86-64.
        if re.search(r'PU3AS\d', m) or ('__private' in col[3] and 'CLprivate' not in m):
            continue
        out.append(tuple(col[:5]))
    return out


DEFINE = re.compile(r'^define (?P<head>[^@]*)@(?P<name>[\w.$]+)\((?P<params>.*)\)(?P<attrs>[^()]*)\{$')


def declaration(mo, name=None):
    params = re.sub(r'\s%[-\w.$]+(?=,|$)', '', mo.group('params'))
    attrs = mo.group('attrs').strip()
    return 'declare %s@%s(%s) %s\n' % (mo.group('head'), name or mo.group('name'), params, attrs)


def split_params(params):
    """`float noundef %0, i32 noundef %1` -> [('float', 'float noundef'), ('i32', 'i32 noundef')]
    (type, type with its attributes, name dropped); None if a parameter is not a plain
    first-class scalar or vector."""
    out = []
    for p in [x.strip() for x in params.split(',')] if params.strip() else []:
        p = re.sub(r'\s%[-\w.$]+$', '', p)
        m = re.match(r'(<\d+ x (?:float|double|i\d+)>|float|double|i\d+)((?:\s+(?:noundef|signext|zeroext))*)$',
                     re.sub(r'\s+returned\b', '', p))
        if not m:
            return None
        out.append((m.group(1), p if 'returned' not in p else m.group(0)))
    return out


def ret_type(head):
    m = re.match(r'((?:(?:signext|zeroext|noundef)\s+)*)(<\d+ x (?:float|double|i\d+)>|float|double|i\d+)\s*$', head)
    return (m.group(2), m.group(1)) if m else (None, None)


def widen_candidates(defs, replaced, demangled):
    """Widenable scalar built-ins: {scalar name: [(lanes, vector name)]}.  A vector entry
    qualifies if the library serves it and Clang passes its operands and result by
    value, lane for lane (so 64-byte vectors, passed in memory, never do)."""
    by_sig = {d: n for n, d in demangled.items()}
    out = {}
    for name in sorted(replaced):
        if name not in defs or name not in demangled:
            continue
        mo = defs[name]
        ps = split_params(mo.group('params'))
        rt, _ = ret_type(mo.group('head'))
        if not ps or rt is None or rt.startswith('<') or any(t.startswith('<') for t, _ in ps):
            continue
        m = re.match(r'(_cl_\w+)\((.*)\)$', demangled[name])
        if not m:
            continue
        fn, args = m.group(1), [a.strip() for a in m.group(2).split(',')]
        variants = []
        for n in (2, 4, 8, 16):
            vfn = fn
            c = re.match(r'(_cl_convert_[a-z]+)(_.*)?$', fn)
            if c:   # convert_int_rte(float) -> convert_int8_rte(float8)
                vfn = c.group(1) + str(n) + (c.group(2) or '')
            vname = by_sig.get('%s(%s)' % (vfn, ', '.join('%s __vector(%d)' % (a, n) for a in args)))
            if not vname or vname not in replaced or vname not in defs:
                continue
            vmo = defs[vname]
            vps = split_params(vmo.group('params'))
            vrt, _ = ret_type(vmo.group('head'))
            if vps is None or len(vps) != len(ps) or vrt != '<%d x %s>' % (n, rt):
                continue
            if all(vt == '<%d x %s>' % (n, t) for (vt, _), (t, _) in zip(vps, ps)):
                variants.append((n, vname))
        if variants:
            out[name] = variants
    return out


def widened_definitions(name, mo, variants, defs, attr_of, next_attr):
    """S (inlined), W (the vectoriser's scalar callee) and B (the binding's scalar
    entry) for a widenable scalar built-in; returns (text, attribute group lines)."""
    ps = split_params(mo.group('params'))
    rt, rattrs = ret_type(mo.group('head'))
    W, B = '__qarn_widen_' + name, '__qarn_' + name
    formals = ', '.join('%s %%%d' % (p, i) for i, (_, p) in enumerate(ps))
    actuals = formals
    base = attr_of.get(mo.group('attrs').strip().split()[-1] if mo.group('attrs').strip() else '', '')
    # Not convergent: a math built-in does not synchronise work-items, and a convergent
    # call stops the vectoriser when the loop needs run-time alias checks.
    base = re.sub(r'\b(noinline|alwaysinline|optnone|convergent)\b', '', base)
    abi = ','.join('_ZGV_LLVM_N%d%s_%s(%s)' % (n, 'v' * len(ps), W, v) for n, v in variants)
    s_attr, w_attr = next_attr, next_attr + 1
    # W without a frame: what it leaves in a loop that is not widened is one jump.
    w_base = re.sub(r'"frame-pointer"="\w+"', '"frame-pointer"="none"', base)
    groups = ['attributes #%d = { alwaysinline %s }\n' % (s_attr, base),
              'attributes #%d = { noinline %s "vector-function-abi-variant"="%s" }\n' % (w_attr, w_base, abi)]
    # W's own address in the asm too: a function whose address is taken keeps its
    # parameters (no constant argument folded into it, none dropped), so it keeps the
    # shape its vector variants are declared with.
    keep_ops = ', '.join('ptr @%s' % v for v in [W] + [v for _, v in variants])
    keep_calls = ''.join('  %%k%d = call %s @%s(%s)\n' % (
        j, defs[v].group('head').strip(), v,
        ', '.join('%s undef' % t for t, _ in split_params(defs[v].group('params'))))
        for j, (_, v) in enumerate(variants))
    text = ('define %s%s @%s(%s) local_unnamed_addr #%d {\n'
            '  %%r = tail call %s%s @%s(%s)\n  ret %s %%r\n}\n'
            'define internal %s%s @%s(%s) unnamed_addr #%d {\n'
            '  call void asm sideeffect "", "%s"(%s)\n'
            '  %%r = tail call %s%s @%s(%s)\n  ret %s %%r\n'
            'unreached:\n%s  unreachable\n}\n' % (
                rattrs, rt, name, formals, s_attr, rattrs, rt, W, actuals, rt,
                rattrs, rt, W, formals, w_attr,
                ','.join('X' for _ in range(len(variants) + 1)), keep_ops,
                rattrs, rt, B, actuals, rt, keep_calls))
    text += declaration(mo, B)
    return text, groups


def read_library(ll):
    """The definitions (name -> match) and attribute groups (#N -> text) of a module."""
    defs, attrs = {}, {}
    for line in open(ll):
        if line.startswith('define '):
            mo = DEFINE.match(line.rstrip('\n'))
            if mo:
                defs[mo.group('name')] = mo
        elif line.startswith('attributes #'):
            m = re.match(r'attributes (#\d+) = \{ (.*) \}$', line.rstrip('\n'))
            if m:
                attrs[m.group(1)] = m.group(2)
    return defs, attrs


def rewrite(ll_in, ll_out, served, widen=None, defs=None, attr_of=None):
    """Copies PoCL's kernel library text, served definitions made declarations, or,
    for the scalar built-ins in `widen`, the three functions above.  Returns the set
    of names replaced."""
    replaced = set()
    skipping = False
    groups = []
    next_attr = 1 + max([int(k[1:]) for k in (attr_of or {})] or [0])
    with open(ll_in) as f, open(ll_out, 'w') as o:
        for line in f:
            if skipping:
                if line.startswith('}'):
                    skipping = False
                continue
            if line.startswith('define '):
                mo = DEFINE.match(line.rstrip('\n'))
                if mo and mo.group('name') in served:
                    name = mo.group('name')
                    if widen and name in widen:
                        text, g = widened_definitions(name, mo, widen[name], defs, attr_of, next_attr)
                        next_attr += len(g)
                        groups += g
                        o.write(text)
                    else:
                        o.write(declaration(mo))
                    replaced.add(name)
                    skipping = True
                    continue
            o.write(line)
        o.writelines(groups)
    return replaced


def demangle(names, cxxfilt):
    names = sorted(names)
    out = subprocess.run([cxxfilt], input='\n'.join(names) + '\n', capture_output=True, text=True,
                         check=True).stdout.split('\n')
    return dict(zip(names, out))


def link(target, path):
    if os.path.lexists(path):
        os.remove(path)
    os.symlink(target, path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('overloads')
    ap.add_argument('libpocl')
    ap.add_argument('outdir')
    ap.add_argument('--llvm-dis', default='llvm-dis-15')
    ap.add_argument('--llvm-as', default='llvm-as-15')
    ap.add_argument('--cxxfilt', default='c++filt')
    a = ap.parse_args()

    libpocl = os.path.realpath(a.libpocl)
    libdir = os.path.dirname(libpocl)
    datadir = os.path.normpath(os.path.join(libdir, '..', '..', 'share', 'pocl'))
    stock = os.path.join(datadir, 'kernel-%s-%s.bc' % (TRIPLE, VARIANT))
    if not os.path.exists(stock):
        sys.exit('poclgen.py: no %s (is this PoCL built with its distribution variants?)' % stock)

    pdatas = []
    for pname in ('prefix', 'prefix-scalar'):
        prefix = os.path.join(a.outdir, pname)
        plib = os.path.join(prefix, 'lib', 'x86_64-linux-gnu')
        pdata = os.path.join(prefix, 'share', 'pocl')
        pvendors = os.path.join(prefix, 'etc', 'OpenCL', 'vendors')
        for d in (plib, pdata, pvendors):
            os.makedirs(d, exist_ok=True)
        link(libpocl, os.path.join(plib, 'libpocl.so.2'))
        link(os.path.join(libdir, 'pocl'), os.path.join(plib, 'pocl'))
        link(os.path.join(datadir, 'include'), os.path.join(pdata, 'include'))
        with open(os.path.join(pvendors, 'qarn-pocl.icd'), 'w') as f:
            f.write(os.path.abspath(os.path.join(plib, 'libpocl.so.2')) + '\n')
        pdatas.append(pdata)

    overloads = read_overloads(a.overloads)
    served = {cl_name(o[0]): o for o in overloads}

    tmp = os.path.join(a.outdir, 'kernel.tmp')
    os.makedirs(tmp, exist_ok=True)
    ll_in, ll_out = os.path.join(tmp, 'stock.ll'), os.path.join(tmp, 'qarn.ll')
    subprocess.run([a.llvm_dis, stock, '-o', ll_in], check=True)
    defs, attr_of = read_library(ll_in)
    will_replace = set(served) & set(defs)
    widen = widen_candidates(defs, will_replace, demangle([n for n in defs if '_cl_' in n], a.cxxfilt))
    for pdata, w in zip(pdatas, (widen, None)):
        replaced = rewrite(ll_in, ll_out, served, w, defs, attr_of)
        bc = os.path.join(pdata, 'kernel-%s-%s.bc' % (TRIPLE, VARIANT))
        subprocess.run([a.llvm_as, ll_out, '-o', bc], check=True)
    shutil.rmtree(tmp)

    # The binding under PoCL's names: a jump to the export, to its System V shim, or to
    # the binding's own function (by-reference exports, scalar second arguments).
    asm = ['# Generated by pocl/poclgen.py from cl_overloads.txt; do not edit.', '\t.text']
    listing = []
    for name in sorted(replaced):
        m, status, export, decl, target = served[name]
        dest = target if status in ('jump', 'shim') else m
        names = [name] + (['__qarn_' + name] if name in widen else [])
        asm.append('\t.p2align 4')
        for n in names:
            asm += ['\t.globl %s' % n, '\t.type %s, @function' % n]
        asm += ['%s:' % n for n in names] + ['\tjmp %s@PLT' % dest]
        asm += ['\t.size %s, .-%s' % (n, name) for n in names]
        listing.append('\t'.join([name, m, export, decl]))
    asm.append('\t.section .note.GNU-stack,"",@progbits')
    with open(os.path.join(a.outdir, 'pocl_binding.S'), 'w') as f:
        f.write('\n'.join(asm) + '\n')
    with open(os.path.join(a.outdir, 'pocl_served.txt'), 'w') as f:
        f.write('\n'.join(listing) + '\n')
    with open(os.path.join(a.outdir, 'pocl_widened.txt'), 'w') as f:
        for name in sorted(widen):
            f.write('\t'.join([name, '__qarn_' + name, ','.join(v for _, v in widen[name]),
                                served[name][3]]) + '\n')
    unmatched = sorted(set(served) - replaced)
    if unmatched:
        print('poclgen.py: %d served overloads have no definition in PoCL\'s library (kept as they are): %s'
              % (len(unmatched), ' '.join(unmatched[:8])))
    print('poclgen.py: %d of PoCL\'s built-in definitions left to the library, %d scalar ones widenable'
          % (len(replaced), len(widen)))


if __name__ == '__main__':
    main()
