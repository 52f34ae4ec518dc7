#!/usr/bin/env python3
"""Static checks of the System V entries (libocl_qarn_e9_sysv.a).

  check_shims.py ARCHIVE EXPORTS_JSON

Every entry the manifest names exists, and each one:
  - reaches exactly its own export, by one call or one jump;
  - writes only registers a System V callee may change and the export's argument
    registers: rax, rcx, rdx, r8, r9, r11 and xmm0-xmm5/ymm0-ymm5 (never rbx, rbp,
    r12-r15, nor the export's preserved ymm6-ymm15), and rsp only to align the call;
  - calls with rsp 16-byte aligned and jumps with rsp as it came (balanced);
  - uses no instruction beyond AVX.
Exits 1 with the offending lines.
"""
import json, re, subprocess, sys

FN = re.compile(r'^[0-9a-f]+ <([^>]+)>:$')
RELOC = re.compile(r'R_X86_64_(?:PLT32|PC32)\s+(\S+?)(?:-0x4)?$')
ALLOWED = re.compile(r'^%([re]?ax|[re]?cx|[re]?dx|r8d?|r9d?|r11d?|[xy]mm[0-5])$')
BEYOND_AVX = re.compile(r'%zmm|%k[0-7]|\s(vfn?m(add|sub)|vpbroadcast|vperm[dq]|vinserti128|vextracti128)')


def main():
    archive, manifest = sys.argv[1], sys.argv[2]
    text = subprocess.run(['objdump', '-d', '-r', '--no-show-raw-insn', archive], capture_output=True,
                          text=True, check=True).stdout
    fns, fn = {}, None
    for line in text.splitlines():
        m = FN.match(line)
        if m:
            fn = m.group(1)
            fns[fn] = []
        elif fn and line.strip():
            fns[fn].append(line.strip())
    want = set()
    for e in json.load(open(manifest))['exports']:
        want |= {s for s in e['c_symbol'].values() if s != e['name']}
    bad = ['missing entry %s' % s for s in sorted(want - set(fns))]
    bad += ['entry %s is named by no export' % s for s in sorted(set(fns) - want)]
    for name, lines in fns.items():
        export = re.sub(r'_sysv(_clang)?$', '', name)
        depth, transfers = 0, 0
        for i, l in enumerate(lines):
            if '\t' not in l or l.endswith(':') or 'nop' in l or 'R_X86_64' in l:
                continue
            parts = l.split('\t')
            ins = parts[1] if len(parts) > 1 else ''
            if BEYOND_AVX.search(' ' + ins):
                bad.append('%s: beyond AVX: %s' % (name, ins))
            op = ins.split()[0] if ins.split() else ''
            if op in ('call', 'jmp'):
                transfers += 1
                reloc = lines[i + 1] if i + 1 < len(lines) else ''
                m = RELOC.search(reloc)
                if not m or m.group(1) != export:
                    bad.append('%s: %s reaches %s, not %s' % (name, op, m.group(1) if m else '?', export))
                if op == 'call' and depth % 16 != 8:
                    bad.append('%s: calls with rsp not 16-byte aligned' % name)
                if op == 'jmp' and depth != 0:
                    bad.append('%s: jumps with rsp moved by %d' % (name, depth))
                continue
            if op == 'ret':
                if depth != 0:
                    bad.append('%s: returns with rsp moved by %d' % (name, depth))
                continue
            ops = ins.split(None, 1)[1].split(',') if len(ins.split(None, 1)) > 1 else []
            dest = ops[-1].strip() if ops else ''
            if dest == '%rsp':
                m = re.match(r'(sub|add)\s+\$0x([0-9a-f]+),%rsp', ins)
                if not m:
                    bad.append('%s: writes rsp: %s' % (name, ins))
                else:
                    depth += int(m.group(2), 16) * (1 if m.group(1) == 'sub' else -1)
            elif dest.startswith('%') and not ALLOWED.match(dest):
                bad.append('%s: writes %s: %s' % (name, dest, ins))
        if transfers != 1:
            bad.append('%s: %d calls or jumps, not one' % (name, transfers))
    for b in bad:
        print(b)
    print('%d System V entries checked, %d faults' % (len(fns), len(bad)))
    sys.exit(1 if bad else 0)


if __name__ == '__main__':
    main()
