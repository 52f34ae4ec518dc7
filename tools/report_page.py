#!/usr/bin/env python3
"""The report as one page: build/report/index.html, plots embedded as SVG.

  report_page.py RAWDIR OUT.html

RAWDIR holds what `./run.sh report` printed, one file per section (the page never
runs anything itself, so its numbers are the text report's):

  profiles.txt  `qarn ulp EXPORT --bins K` runs: a PASS/FAIL line, then 'bin LO HI ULP'
  speed.txt     qarn_bench's ratio table (ours, SLEEF, libm, libmvec per export)
  kernels.txt   qarn_kernels' table (error and time per work-item, ours and SLEEF)
  pocl.txt      qarn_pocl's table (the same kernels built by PoCL: its built-ins and ours)
  slices.txt    `qarn_bench --slices`: eight slices per line, slowest over fastest last

Needs matplotlib (Debian's python3-matplotlib); exits 3 without it.
"""
import html
import io
import os
import re
import sys

try:
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
except ImportError:
    print('report_page.py: matplotlib is missing (apt-get install python3-matplotlib)', file=sys.stderr)
    sys.exit(3)

VARIANTS = ('default', '_native', '_half', '_rm')


def read(rawdir, name):
    try:
        with open(os.path.join(rawdir, name)) as f:
            return f.read()
    except FileNotFoundError:
        return ''


def split_export(name):
    """expf8_native -> ('exp', 'f', 8, '_native'); exp4 -> ('exp', 'd', 4, 'default')."""
    variant = 'default'
    for v in VARIANTS[1:]:
        if name.endswith(v):
            name, variant = name[:-len(v)], v
    m = re.match(r'^(.*?)(f?)(\d+)$', name)
    if not m:
        return None
    return m.group(1), 'f' if m.group(2) else 'd', int(m.group(3)), variant


# ---- parsing ----------------------------------------------------------------------
def parse_profiles(text):
    out, cur = [], None
    for line in text.splitlines():
        m = re.match(r'^(PASS|FAIL) (\S+) .*?worst ([0-9.e+]+|inf) ulp \((?:bound ([0-9.e+]+) ulp|no bound stated)\)', line)
        if m:
            cur = {'export': m.group(2), 'worst': float(m.group(3)), 'bound': float(m.group(4)) if m.group(4) else None,
                   'bins': []}
            out.append(cur)
            continue
        m = re.match(r'^bin (\S+) (\S+) (\S+)$', line)
        if m and cur is not None:
            cur['bins'].append(tuple(float(v) for v in m.groups()))
    return [p for p in out if p['bins']]


def parse_speed(text):
    rows = []
    for line in text.splitlines():
        m = re.match(r'^(\S+)\s+([0-9.]+)\s+(.*?)\s{2,}(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)(\s+<-- miss)?$', line)
        if not m or split_export(m.group(1)) is None:
            continue
        num = lambda s: None if s == '-' else float(s)
        rows.append({'export': m.group(1), 'ours': float(m.group(2)), 'sleef_fn': m.group(3),
                     'sleef': num(m.group(4)), 'libm': num(m.group(6)), 'libmvec': num(m.group(8)),
                     'miss': bool(m.group(10))})
    return rows


def parse_kernels(text):
    rows = []
    for line in text.splitlines():
        m = re.match(r'^(\w+)\s+(float|double)\s+(\d+)\s+(\d+)\s+\|\s+(\S+)\s+(\S+)\s+\|\s+(\S+)\s+(\S+)\s+(\S+)x$', line)
        if m:
            rows.append({'kernel': m.group(1), 'prec': m.group(2), 'width': int(m.group(3)),
                         'err': float(m.group(5)), 'err_sleef': float(m.group(6)),
                         'ns': float(m.group(7)), 'ns_sleef': float(m.group(8))})
    return rows


def parse_pocl(text):
    """qarn_pocl's rows; '-' (a side that did not run, e.g. stock PoCL crashed) becomes None."""
    def num(t):
        return None if t == '-' else float(t.rstrip('x'))
    rows, notes = [], []
    for line in text.splitlines():
        m = re.match(r'^(\w+)\s+(float|double)\s+(\d+)\s+(\d+)\s+\|\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+\|\s+(\S+)\s+(\S+)$',
                     line)
        if m:
            rows.append({'kernel': m.group(1), 'prec': m.group(2), 'width': int(m.group(3)),
                         'ns_stock': num(m.group(5)), 'ns': num(m.group(6)), 'ns_unwidened': num(m.group(7)),
                         'err_stock': num(m.group(9)), 'err': num(m.group(10))})
        elif re.match(r'^\s+(stock|ours|widened): ', line) and rows:
            notes.append(f"{rows[-1]['kernel']} {rows[-1]['prec']} {rows[-1]['width']}, {line.strip()}")
        elif line.startswith('PoCL not run: '):
            notes.append(line)
    return rows, notes


def parse_slices(text):
    rows = []
    for line in text.splitlines():
        m = re.match(r'^(\S+)\s+([xyz])([~ ])\[.*\]\s.*\s([0-9.]+)(  <-- over 2)?(  \(main [0-9.]+\))?$', line)
        if m and split_export(m.group(1)):
            rows.append({'set': m.group(1) + ' ' + m.group(2) + ('~' if m.group(3) == '~' else ''),
                         'ratio': float(m.group(4)), 'over': bool(m.group(5))})
    return rows


# ---- plots --------------------------------------------------------------------------
def svg(fig):
    # (Data series carry ids "data...", so that a test can tell a plot with data from an empty frame.)
    buf = io.StringIO()
    fig.savefig(buf, format='svg', bbox_inches='tight')
    plt.close(fig)
    text = buf.getvalue()
    return text[text.index('<svg'):]


def by_family(rows, item):
    """(family, precision) -> [item(row, variant)] in the order of the rows."""
    groups = {}
    for r in rows:
        fam, prec, _, variant = split_export(r['export'])
        groups.setdefault((fam, prec), []).append(item(r, variant))
    return sorted(groups.items())


def accuracy_plots(profiles):
    figs = []
    for (fam, prec), items in by_family(profiles, lambda p, variant: (variant, p)):
        fig, ax = plt.subplots(figsize=(6.4, 2.8))
        for i, (variant, p) in enumerate(sorted(items, key=lambda t: VARIANTS.index(t[0]))):
            xs = [(lo + hi) / 2 for lo, hi, _ in p['bins']]
            ys = [max(u, 1e-3) for _, _, u in p['bins']]
            line, = ax.step(xs, ys, where='mid', label=f"{p['export']} (worst {p['worst']:.2f})", gid=f'data{i}')
            if p['bound'] is not None:
                ax.axhline(p['bound'], color=line.get_color(), linestyle='--', linewidth=0.8)
        lo, hi = items[0][1]['bins'][0][0], items[0][1]['bins'][-1][1]
        if lo * hi > 0 and max(hi / lo, lo / hi) >= 1000:
            ax.set_xscale('symlog' if lo < 0 else 'log')
        ax.set_yscale('log')
        ax.set_xlabel('x')
        ax.set_ylabel('worst error (ulp)')
        ax.set_title(f"{fam} ({'float' if prec == 'f' else 'double'}): error across the domain; dashed: the bound")
        ax.legend(fontsize=7)
        figs.append((f'{fam} {prec}', svg(fig)))
    return figs


def speed_plots(rows):
    figs = []
    peers = (('ours', 'libocl_qarn_e9'), ('sleef', 'SLEEF'), ('libmvec', 'libmvec'), ('libm', 'libm (scalar)'))
    for (fam, prec), items in by_family(rows, lambda r, _: r):
        fig, ax = plt.subplots(figsize=(max(4.0, 0.55 * len(items) + 2), 2.8))
        n = len(peers)
        for j, (key, label) in enumerate(peers):
            xs = [i + (j - (n - 1) / 2) * 0.2 for i in range(len(items))]
            ys = [r[key] if r[key] is not None else 0 for r in items]
            for k, b in enumerate(ax.bar(xs, ys, width=0.2, label=label)):
                b.set_gid(f'data{j}_{k}')
        ax.set_xticks(range(len(items)))
        ax.set_xticklabels([r['export'] for r in items], rotation=30, ha='right', fontsize=7)
        ax.set_ylabel('ns per element')
        ax.set_title(f"{fam} ({'float' if prec == 'f' else 'double'}): time per element (lower is faster)")
        ax.legend(fontsize=7)
        figs.append((f'{fam} {prec}', svg(fig)))
    return figs


def work_item_bars(rows, sides, title):
    """Time per work-item of each kernel configuration, one bar per (key, label) side."""
    if not rows:
        return None
    fig, ax = plt.subplots(figsize=(max(6.0, 0.3 * len(rows) + 2), 3.2))
    labels = [f"{r['kernel']} {r['prec'][0]}{r['width']}" for r in rows]
    xs = range(len(rows))
    w = 0.8 / len(sides)
    for j, (key, label) in enumerate(sides):
        dx = (j - (len(sides) - 1) / 2) * w
        for k, b in enumerate(ax.bar([x + dx for x in xs], [r[key] or 0 for r in rows], width=w, label=label)):
            b.set_gid(f'data{j}_{k}')
    ax.set_yscale('log')
    ax.set_xticks(list(xs))
    ax.set_xticklabels(labels, rotation=60, ha='right', fontsize=6)
    ax.set_ylabel('ns per work-item')
    ax.set_title(title)
    ax.legend(fontsize=7)
    return svg(fig)


def kernel_plot(rows):
    return work_item_bars(rows, (('ns', 'on libocl_qarn_e9'), ('ns_sleef', 'on SLEEF')),
                          'OpenCL C kernels compiled by clang: time per work-item')


def pocl_plot(rows):
    return work_item_bars([r for r in rows if r['ns'] is not None],
                          (('ns', 'PoCL on libocl_qarn_e9'), ('ns_unwidened', 'the same, scalar calls not widened'),
                           ('ns_stock', 'stock PoCL')),
                          'The kernels built by PoCL at run time: time per work-item')


def slice_plot(rows):
    if not rows:
        return None
    rows = sorted(rows, key=lambda r: r['ratio'])
    fig, ax = plt.subplots(figsize=(7.0, 3.0))
    ax.plot(range(len(rows)), [r['ratio'] for r in rows], marker='.', linestyle='none', gid='data0')
    ax.axhline(2.0, color='red', linestyle='--', linewidth=0.8)
    for i, r in enumerate(rows):
        if r['over']:
            ax.annotate(r['set'], (i, r['ratio']), fontsize=5, rotation=45)
    ax.set_yscale('log')
    ax.set_xlabel('slice sets, by ratio')
    ax.set_ylabel('slowest / fastest slice')
    ax.set_title('Even speed over the domain (dashed: 2)')
    return svg(fig)


# ---- the page -------------------------------------------------------------------------
def table(headers, rows):
    h = ''.join(f'<th>{html.escape(x)}</th>' for x in headers)
    body = ''.join('<tr>' + ''.join(f'<td>{html.escape(str(c))}</td>' for c in r) + '</tr>' for r in rows)
    return f'<table><tr>{h}</tr>{body}</table>'


def page(rawdir):
    profiles = parse_profiles(read(rawdir, 'profiles.txt'))
    speed = parse_speed(read(rawdir, 'speed.txt'))
    kernels = parse_kernels(read(rawdir, 'kernels.txt'))
    slices = parse_slices(read(rawdir, 'slices.txt'))
    pocl, pocl_notes = parse_pocl(read(rawdir, 'pocl.txt'))
    parts = ['<!doctype html><html><head><meta charset="utf-8"><title>libocl_qarn_e9 report</title><style>'
             'body{font-family:sans-serif;max-width:72em;margin:auto}figure{margin:1em 0}'
             'table{border-collapse:collapse;font-size:80%}td,th{border:1px solid #ccc;padding:2px 6px;text-align:right}'
             '</style></head><body><h1>libocl_qarn_e9: accuracy and speed</h1>']
    sections = []

    def section(anchor, title, intro, body):
        sections.append((anchor, title))
        parts.append(f'<h2 id="{anchor}">{html.escape(title)}</h2><p>{intro}</p>{body}')

    figs = accuracy_plots(profiles)
    section('accuracy', 'Accuracy across the domain',
            'Worst error in ulp against MPFR in slices of each operand range, per variant (width 8 float, '
            '4 double); the dashed line of the same colour is the variant\'s bound.',
            ''.join(f'<figure data-plot="{html.escape(k)}">{s}</figure>' for k, s in figs) or '<p>(no run)</p>')
    figs = speed_plots(speed)
    rows = [(r['export'], r['ours'], r['sleef'] or '-', f"{r['ours'] / r['sleef']:.2f}" if r['sleef'] else '-',
             r['libmvec'] or '-', f"{r['ours'] / r['libmvec']:.2f}" if r['libmvec'] else '-', r['libm'] or '-',
             f"{r['ours'] / r['libm']:.2f}" if r['libm'] else '-') for r in speed]
    section('speed', 'Speed against SLEEF, libmvec and libm',
            'Nanoseconds per element in the same timing loop; ratio = ours / theirs (below 1 is faster).',
            ''.join(f'<figure data-plot="{html.escape(k)}">{s}</figure>' for k, s in figs) +
            table(('export', 'ours', 'SLEEF', 'ratio', 'libmvec', 'ratio', 'libm', 'ratio'), rows))
    k = kernel_plot(kernels)
    rows = [(r['kernel'], r['prec'], r['width'], r['err'], r['err_sleef'], r['ns'], r['ns_sleef'],
             f"{r['ns_sleef'] / r['ns']:.2f}x") for r in kernels]
    section('kernels', 'OpenCL C kernels',
            'Each kernel of kernels/cl compiled by clang and run on this library and on SLEEF: worst error '
            'of an output against a higher-precision run, and time per work-item.',
            (f'<figure data-plot="kernels">{k}</figure>' if k else '<p>(not run)</p>') +
            table(('kernel', 'precision', 'width', 'err ours (ulp)', 'err SLEEF', 'ns ours', 'ns SLEEF', 'speedup'),
                  rows))
    p = pocl_plot(pocl)
    dash = lambda v, f='{}': '-' if v is None else f.format(v)
    rows = [(r['kernel'], r['prec'], r['width'], dash(r['ns_stock']), dash(r['ns']), dash(r['ns_unwidened']),
             f"{r['ns_stock'] / r['ns']:.2f}x" if r['ns_stock'] and r['ns'] else '-', dash(r['err_stock']),
             dash(r['err'])) for r in pocl]
    section('pocl', 'The kernels in PoCL',
            'The same kernels built from source at run time by PoCL\'s CPU device, once with PoCL\'s own '
            'built-ins and once with the built-ins answered by this library: time per work-item and worst error '
            'against the reference. Width 1 also runs with every scalar built-in call kept one call per '
            'work-item ("unwidened"); by default PoCL\'s loop vectoriser hands scalar calls to the 8-lane '
            '(float) or 4-lane (double) exports where it can, and the line under a row names them. A "-" is a '
            'side that did not run.',
            (f'<figure data-plot="pocl">{p}</figure>' if p else '<p>(PoCL not run)</p>') +
            (table(('kernel', 'precision', 'width', 'ns stock', 'ns ours', 'ns unwidened', 'speedup', 'err stock (ulp)',
                    'err ours (ulp)'), rows) if rows else '') +
            ''.join(f'<p>{html.escape(n)}</p>' for n in pocl_notes))
    s = slice_plot(slices)
    flagged = [r['set'] for r in slices if r['over']]
    section('slices', 'Even speed over the domain',
            'Slowest over fastest of eight slices of each operand range ("~": the tiny band from the smallest '
            'normal number). Above 2: ' + (html.escape(', '.join(flagged)) if flagged else 'none') + '.',
            f'<figure data-plot="slices">{s}</figure>' if s else '<p>(not run)</p>')
    toc = ''.join(f'<li><a href="#{a}">{html.escape(t)}</a></li>' for a, t in sections)
    parts.insert(1, f'<ul>{toc}</ul>')
    parts.append('</body></html>')
    return ''.join(parts)


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    rawdir, out = sys.argv[1], sys.argv[2]
    text = page(rawdir)
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out, 'w') as f:
        f.write(text)
    print(f'report page: {out} ({text.count("<figure")} plots)')
    return 0


if __name__ == '__main__':
    sys.exit(main())
