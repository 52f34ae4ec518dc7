#!/usr/bin/env python3
"""Checks the OpenCL C binding against Clang itself.

  check_binding.py CLANG OVERLOADS BINDING_ARCHIVE

Writes one kernel per OpenCL declaration of the overload list, each calling that
overload, compiles the file for x86-64 (object, `nm -u`) and for SPIR (IR), and
requires that the names Clang calls are exactly the names the list gives (both
manglings of the pointer address spaces included), and that the archive defines
exactly the overloads listed as bound: each as a jump to its export or shim, or a
function that calls its export (the by-reference exports) or the vector overload it
broadcasts a scalar argument for.
"""
import os, re, subprocess, sys, tempfile

FLAGS = ['-x', 'cl', '-cl-std=CL1.2', '-Xclang', '-finclude-default-header', '-O0', '-Wno-psabi', '-ferror-limit=0']


def parse(decl):
    m = re.match(r'(\w+) (\w+)\((.*)\)$', decl)
    ret, name, params = m.group(1), m.group(2), [p.strip() for p in m.group(3).split(',')]
    return ret, name, params


def kernel(i, decl):
    ret, name, params = parse(decl)
    kparams, args, body = ['__global %s* r' % ret], [], []
    for j, p in enumerate(params):
        if p.endswith('*'):
            space, t = p[:-1].split()
            if space == '__private':
                body.append('%s v%d;' % (t, j))
                args.append('&v%d' % j)
            else:
                kparams.append('%s %s* a%d' % (space, t, j))
                args.append('a%d' % j)
        else:
            kparams.append('__global %s* a%d' % (p, j))
            args.append('*a%d' % j)
    body.append('*r = %s(%s);' % (name, ', '.join(args)))
    return '__kernel void k%d(%s) { %s }\n' % (i, ', '.join(kparams), ' '.join(body))


def main():
    clang, overloads, archive = sys.argv[1:4]
    rows = [l.rstrip('\n').split('\t') for l in open(overloads) if l.strip()]
    listed = {r[0] for r in rows}
    bound = {r[0] for r in rows if r[1] != 'absent'}
    glued = {r[0] for r in rows if r[1] == 'glue'}
    decls = sorted({r[3] for r in rows})
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, 'all.cl')
        with open(src, 'w') as f:
            f.write('#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n')
            for i, d in enumerate(decls):
                f.write(kernel(i, d))
        obj = os.path.join(tmp, 'all.o')
        subprocess.run([clang] + FLAGS + ['-target', 'x86_64-unknown-linux-gnu', '-mavx', '-c', src, '-o', obj],
                       check=True)
        nm = subprocess.run(['nm', '-u', obj], check=True, capture_output=True, text=True).stdout
        called = {l.split()[-1] for l in nm.splitlines() if l.strip()}
        ir = subprocess.run([clang] + FLAGS + ['-target', 'spir64', '-S', '-emit-llvm', src, '-o', '-'],
                            check=True, capture_output=True, text=True).stdout
        called |= set(re.findall(r'^declare [^@]*@(_Z\w+)\(', ir, re.M))
    for m in sorted(called - listed):
        failures.append('Clang calls %s, which the overload list lacks' % m)
    for m in sorted(listed - called):
        failures.append('the overload list has %s, which Clang never calls' % m)
    # The archive: every bound overload defined, nothing else, each a jump to its export.
    nm = subprocess.run(['nm', '--defined-only', archive], check=True, capture_output=True, text=True).stdout
    at = {}
    for l in nm.splitlines():
        f = l.split()
        if len(f) == 3 and f[1] == 'T':
            at[f[2]] = int(f[0], 16)
    defined = set(at)
    for m in sorted(bound - defined):
        failures.append('%s is bound but not defined in %s' % (m, archive))
    for m in sorted(defined - bound):
        failures.append('%s is defined in %s but not listed as bound' % (m, archive))
    dis = subprocess.run(['objdump', '-dr', '--no-show-raw-insn', archive], check=True, capture_output=True,
                         text=True).stdout
    jumps, others, member, calls, func = {}, [], None, {}, None
    for l in dis.splitlines():
        mem = re.match(r'^(\S+\.o):\s+file format', l)
        if mem:
            member = mem.group(1)
            continue
        fn = re.match(r'^[0-9a-f]+ <(\S+)>:$', l)
        if fn:
            func = fn.group(1)
            continue
        ins = re.match(r'^\s+([0-9a-f]+):\t(\S+)', l)
        rel = re.match(r'^\s+([0-9a-f]+): R_X86_64_PLT32\s+(\S+)-0x4$', l)
        if member != 'cl_binding.S.o':
            if rel:
                calls.setdefault(func, set()).add(rel.group(2))
            continue
        if rel:
            jumps[int(rel.group(1), 16) - 1] = rel.group(2)
        elif ins and not ins.group(2).startswith(('jmp', 'nop', 'data16', 'xchg', 'cs')):
            others.append(l.strip())
    if others:
        failures.append('the binding holds instructions other than jumps: %s' % others[:5])
    target = {r[0]: r[4] for r in rows}
    export = {r[0]: r[2] for r in rows}
    for m in sorted(glued & defined):
        # A glue function calls its export, or the overload it widens its argument for
        # (which the compiler may have inlined down to the export).
        if not {target[m], export[m]} & calls.get(m, set()):
            failures.append('%s calls neither %s nor %s' % (m, target[m], export[m]))
    for m in sorted((bound - glued) & defined):
        if jumps.get(at[m]) != target[m]:
            failures.append('%s jumps to %s, not to %s' % (m, jumps.get(at[m]), target[m]))
    for f in failures[:40]:
        print(f)
    print('%d declarations, %d overload names (%d bound), %d names called by Clang: %s' % (
        len(decls), len(listed), len(bound), len(called), 'FAIL' if failures else 'ok'))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
