#!/usr/bin/env python3
"""Writes the module-definition file of the Windows DLL from the export list.

  make_def.py EXPORTS_TXT OUT_DEF [LIBRARY_NAME]

EXPORTS_TXT is the build's list of present exports, one a line; the .def names
exactly those (the linker exports nothing else), and lets a Windows toolchain
make its own import library (`lib /def:libocl_qarn_e9.def /machine:x64`).
"""
import sys

def main():
    src, out = sys.argv[1], sys.argv[2]
    lib = sys.argv[3] if len(sys.argv) > 3 else 'libocl_qarn_e9.dll'
    names = sorted(set(open(src).read().split()))
    text = 'LIBRARY %s\nEXPORTS\n' % lib + ''.join('    %s\n' % n for n in names)
    try:
        if open(out).read() == text:
            return 0
    except OSError:
        pass
    open(out, 'w').write(text)
    return 0

if __name__ == '__main__':
    sys.exit(main())
