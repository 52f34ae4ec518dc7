#!/usr/bin/env python3
"""The hot path of exports, old build against new, by a static model.

    tools/hot_mca.py OLD.so NEW.so REGEX [--mcpu=znver3] [--all]

For each export whose short name matches REGEX (e.g. '^exp2f(8|16)_native$'),
takes the straight path from the entry to its return when no lane is special
(every conditional branch falls through: the special-lane branch leads to the
cold part, which the compiler places out of line), and asks llvm-mca for the
cycles per call of that instruction sequence repeated (throughput, no caches,
no code placement).  Prints old and new cycles and their ratio; exports whose
paths are the same instructions are left out unless --all.

Timing the two builds side by side measures the same thing with the machine's
own noise, which here is larger than the differences looked for: the same
bytes at another address move by 3 to 19 per cent.  The model has no such
noise, and its ratio is the one a change of the path's instructions makes.
"""
import re
import subprocess
import sys

PREFIX = "__ocl_qarn_e9_"


def exports(lib):
    out = subprocess.run(["nm", "-D", "--defined-only", lib], capture_output=True, text=True, check=True).stdout
    return sorted(l.split()[2] for l in out.splitlines() if len(l.split()) == 3 and l.split()[2].startswith(PREFIX))


def disassemble(lib, sym):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", "-M", "att", f"--disassemble={sym}", lib],
                         capture_output=True, text=True, check=True).stdout
    ins, body = [], False
    for line in out.splitlines():
        if line.endswith(f"<{sym}>:"):
            body = True
            continue
        if body:
            m = re.match(r"^\s*([0-9a-f]+):\s+(.*)$", line)
            if not m:
                if line.strip() == "" and ins:
                    break
                continue
            ins.append((int(m.group(1), 16), m.group(2).split("#")[0].strip()))
    return ins


def hot_path(ins):
    """The fall-through path from the entry to the first return."""
    at = {a: i for i, (a, _) in enumerate(ins)}
    path, i, seen = [], 0, set()
    while i < len(ins) and i not in seen:
        seen.add(i)
        addr, text = ins[i]
        op = text.split()[0]
        if op.startswith("ret"):
            path.append("ret")
            return path
        if op == "jmp":
            tgt = int(text.split()[1], 16)
            if tgt in at:  # a jump within the function: follow it
                i = at[tgt]
                continue
            path.append("jmp .Lout")  # a tail call
            return path
        if op.startswith("j"):
            path.append(f"{op} .Lout")  # the special-lane branch, not taken
        elif op.startswith("call"):
            path.append("call .Lout")
        else:
            path.append(text)
        i += 1
    return path


NO_DEST = ("vtest", "vptest", "test", "cmp", "vcomi", "vucomi", "comi", "ucomi", "j", "call", "ret", "push")


def inputs(path):
    """Vector registers the path reads before it writes them: the call's operands."""
    written, read = set(), []
    for text in path:
        parts = text.split(None, 1)
        ops = re.findall(r"%[xy]mm(\d+)|\([^)]*\)|\$[^,]+|%\w+", parts[1]) if len(parts) > 1 else []
        regs = [(m.start(), int(m.group(1))) for m in re.finditer(r"%[xy]mm(\d+)", parts[1])] if len(parts) > 1 else []
        operands = [o.strip() for o in re.split(r",(?![^(]*\))", parts[1])] if len(parts) > 1 else []
        dest = operands[-1] if operands and not parts[0].startswith(NO_DEST) else ""
        for o in operands[:-1] if dest else operands:
            for m in re.finditer(r"%[xy]mm(\d+)", o):
                r = int(m.group(1))
                if r not in written and r not in read:
                    read.append(r)
        m = re.fullmatch(r"%[xy]mm(\d+)", dest)
        if m:
            written.add(int(m.group(1)))
    return read


def cycles(path, mcpu):
    # Each call gets fresh operands (a zero idiom per input register), so the
    # model times independent calls, as the benchmark does, not a chain of them.
    head = [f"vxorps %ymm{r},%ymm{r},%ymm{r}" for r in inputs(path)]
    asm = "\n".join(head + path) + "\n.Lout:\n"
    r = subprocess.run(["llvm-mca-15", f"-mcpu={mcpu}", "-iterations=400", "-"], input=asm,
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(r.stderr.strip().splitlines()[-1] if r.stderr.strip() else "llvm-mca failed")
    tot = int(re.search(r"Total Cycles:\s+(\d+)", r.stdout).group(1))
    return tot / 400.0


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    opts = dict(a[2:].split("=", 1) if "=" in a else (a[2:], "1") for a in argv if a.startswith("--"))
    if len(args) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    old, new, pattern = args
    mcpu = opts.get("mcpu", "znver3")
    rx = re.compile(pattern)
    names = [s for s in exports(new) if rx.search(s[len(PREFIX):])]
    if not names:
        print("no export matches", pattern, file=sys.stderr)
        return 2
    worst = 1.0
    print(f"{'export':28s} {'old':>8s} {'new':>8s} {'ratio':>7s}   (cycles per call, llvm-mca -mcpu={mcpu})")
    for s in names:
        po, pn = hot_path(disassemble(old, s)), hot_path(disassemble(new, s))
        strip = lambda p: [re.sub(r"0x[0-9a-f]+\(%rip\)", "K(%rip)", t) for t in p]
        if strip(po) == strip(pn) and "all" not in opts:
            continue
        co, cn = cycles(po, mcpu), cycles(pn, mcpu)
        worst = max(worst, cn / co)
        print(f"{s[len(PREFIX):]:28s} {co:8.2f} {cn:8.2f} {cn / co:7.3f}   ({len(po)} -> {len(pn)} instructions)")
    print(f"largest ratio {worst:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
