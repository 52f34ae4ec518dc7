#!/usr/bin/env python3
"""Checks the Windows DLL's export and import tables.

  check_dll.py OBJDUMP DLL EXPORTS_TXT

1. The export table holds exactly the names of EXPORTS_TXT, each once, every
   one with a name (no export by ordinal only).
2. The DLL imports from Windows system DLLs only (the C runtime that ships with
   Windows and the kernel), never from a compiler runtime DLL (libstdc++,
   libgcc, libwinpthread) that a user would have to ship beside it.
Prints the export count and the imports; exits 1 on any failure.
"""
import re, subprocess, sys

SYSTEM = re.compile(r'^(kernel32|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$', re.I)

def tables(objdump, dll):
    out = subprocess.run([objdump, '-p', dll], capture_output=True, text=True, check=True).stdout
    exports, imports, n_funcs = [], {}, None
    section, dll_name = None, None
    for line in out.splitlines():
        if line.startswith('[Ordinal/Name Pointer] Table'):
            section = 'names'
            continue
        m = re.match(r'^\s*Export Address Table -- Ordinal Base', line)
        if m:
            section = 'addresses'
            n_funcs = 0
            continue
        if section == 'addresses':
            if re.match(r'^\s*\[\s*\d+\]', line):
                n_funcs += 1
                continue
            if line.strip() == '':
                continue
        if section == 'names':
            m = re.match(r'^\s*\[\s*\d+\]\s+(\S+)$', line)
            if m:
                exports.append(m.group(1))
                continue
            section = None
        m = re.match(r'^\s*DLL Name: (\S+)$', line)
        if m:
            dll_name = m.group(1)
            imports[dll_name] = []
            section = 'imports'
            continue
        if section == 'imports':
            m = re.match(r'^\s+[0-9a-f]+\s+\d+\s+(\S+)$', line)
            if m:
                imports[dll_name].append(m.group(1))
            elif line.strip() == '':
                section = None
    return exports, n_funcs, imports

def main():
    objdump, dll, exports_txt = sys.argv[1:4]
    want = set(open(exports_txt).read().split())
    exports, n_funcs, imports = tables(objdump, dll)
    bad = []
    dup = sorted({n for n in exports if exports.count(n) > 1})
    if dup:
        bad.append('exported more than once: %s' % ', '.join(dup[:10]))
    extra = sorted(set(exports) - want)
    missing = sorted(want - set(exports))
    if extra:
        bad.append('%d export(s) not in the registry: %s' % (len(extra), ', '.join(extra[:10])))
    if missing:
        bad.append('%d registry export(s) missing: %s' % (len(missing), ', '.join(missing[:10])))
    if n_funcs is not None and n_funcs != len(exports):
        bad.append('%d export address(es) for %d names (exports by ordinal only?)' % (n_funcs, len(exports)))
    for d in imports:
        if not SYSTEM.match(d):
            bad.append('imports from %s, which is not a Windows system DLL' % d)
    for b in bad:
        print(b)
    print('%d exports; imports: %s' % (len(exports), '; '.join(
        '%s (%d: %s)' % (d, len(f), ' '.join(sorted(f))) for d, f in sorted(imports.items())) or 'none'))
    return 1 if bad else 0

if __name__ == '__main__':
    sys.exit(main())
