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
  pocl_binding.S                             the `_cl_` names, each a jump to the
                                             binding entry of its overload
  pocl_served.txt                            `_cl_` name, binding name, export,
                                             declaration: one line per replaced
                                             definition
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


def declaration(mo):
    params = re.sub(r'\s%[-\w.$]+(?=,|$)', '', mo.group('params'))
    attrs = mo.group('attrs').strip()
    return 'declare %s@%s(%s) %s\n' % (mo.group('head'), mo.group('name'), params, attrs)


def rewrite(ll_in, ll_out, served):
    """Copies PoCL's kernel library text, served definitions made declarations.
    Returns the set of names replaced."""
    replaced = set()
    skipping = False
    with open(ll_in) as f, open(ll_out, 'w') as o:
        for line in f:
            if skipping:
                if line.startswith('}'):
                    skipping = False
                continue
            if line.startswith('define '):
                mo = DEFINE.match(line.rstrip('\n'))
                if mo and mo.group('name') in served:
                    o.write(declaration(mo))
                    replaced.add(mo.group('name'))
                    skipping = True
                    continue
            o.write(line)
    return replaced


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
    a = ap.parse_args()

    libpocl = os.path.realpath(a.libpocl)
    libdir = os.path.dirname(libpocl)
    datadir = os.path.normpath(os.path.join(libdir, '..', '..', 'share', 'pocl'))
    stock = os.path.join(datadir, 'kernel-%s-%s.bc' % (TRIPLE, VARIANT))
    if not os.path.exists(stock):
        sys.exit('poclgen.py: no %s (is this PoCL built with its distribution variants?)' % stock)

    prefix = os.path.join(a.outdir, 'prefix')
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

    overloads = read_overloads(a.overloads)
    served = {cl_name(o[0]): o for o in overloads}

    tmp = os.path.join(a.outdir, 'kernel.tmp')
    os.makedirs(tmp, exist_ok=True)
    ll_in, ll_out = os.path.join(tmp, 'stock.ll'), os.path.join(tmp, 'qarn.ll')
    subprocess.run([a.llvm_dis, stock, '-o', ll_in], check=True)
    replaced = rewrite(ll_in, ll_out, served)
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
        asm += ['\t.p2align 4', '\t.globl %s' % name, '\t.type %s, @function' % name, '%s:' % name,
                '\tjmp %s@PLT' % dest, '\t.size %s, .-%s' % (name, name)]
        listing.append('\t'.join([name, m, export, decl]))
    asm.append('\t.section .note.GNU-stack,"",@progbits')
    with open(os.path.join(a.outdir, 'pocl_binding.S'), 'w') as f:
        f.write('\n'.join(asm) + '\n')
    with open(os.path.join(a.outdir, 'pocl_served.txt'), 'w') as f:
        f.write('\n'.join(listing) + '\n')
    unmatched = sorted(set(served) - replaced)
    if unmatched:
        print('poclgen.py: %d served overloads have no definition in PoCL\'s library (kept as they are): %s'
              % (len(unmatched), ' '.join(unmatched[:8])))
    print('poclgen.py: %d of PoCL\'s built-in definitions left to the library' % len(replaced))


if __name__ == '__main__':
    main()
