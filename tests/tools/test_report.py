#!/usr/bin/env python3
"""The report page from a small run: every section there, no plot without data.

  test_report.py --qarn=PATH --bench=PATH [--kernels=PATH] [--pocl=PATH] --page=tools/report_page.py WORKDIR

Runs the tools as `./run.sh report` does, on a few exports, writes the page with
the system's python3 (where Debian's matplotlib lives) and checks it.  Exit 77
(skipped) when matplotlib is missing.
"""
import os
import re
import shutil
import subprocess
import sys


def main():
    opts = dict(a[2:].split('=', 1) for a in sys.argv[1:] if a.startswith('--'))
    work = [a for a in sys.argv[1:] if not a.startswith('--')][0]
    raw = os.path.join(work, 'raw')
    shutil.rmtree(raw, ignore_errors=True)  # sections are appended to: start from none
    os.makedirs(raw)
    py = '/usr/bin/python3' if os.path.exists('/usr/bin/python3') else sys.executable
    if subprocess.run([py, '-c', 'import matplotlib'], capture_output=True).returncode:
        print('skipped: matplotlib is missing (apt-get install python3-matplotlib)')
        return 77

    def run(args, out):
        r = subprocess.run(args, capture_output=True, text=True, timeout=300)
        with open(os.path.join(raw, out), 'a') as f:
            f.write(r.stdout)
        return r.stdout

    for e in ('expf8', 'expf8_native', 'exp4', 'sinf8'):
        run([opts['qarn'], 'ulp', e, '-n', '2000', '--bins', '16'], 'profiles.txt')
    speed = run([opts['bench'], '--quick', '--benchmark_filter=^(qarn/expf(4|8)|sleef/.*expf.*|libm/expf|libmvec/.*expf)$'],
                'speed.txt')
    if 'kernels' in opts:
        run([opts['kernels'], '--quick', '--kernel', 'softmax'], 'kernels.txt')
    pocl_ran = False
    if 'pocl' in opts:
        # Exit 77: PoCL (or its device) is not there; the section must then say so.
        r = subprocess.run([opts['pocl'], '--quick', '--kernel', 'softmax', '--config', 'f8'], capture_output=True,
                           text=True, timeout=600)
        with open(os.path.join(raw, 'pocl.txt'), 'a') as f:
            f.write(r.stdout)
        pocl_ran = r.returncode == 0
    run([opts['bench'], '--slices', '--rounds=2', '--elems=256', '--filter=^(expf8|sin4)$'], 'slices.txt')
    out = os.path.join(work, 'index.html')
    r = subprocess.run([py, opts['page'], raw, out], capture_output=True, text=True)
    failures = []
    if r.returncode or not r.stdout.startswith('report page: '):
        failures.append(f'report_page.py: exit {r.returncode}: {r.stdout}{r.stderr}')
    else:
        page = open(out).read()
        for anchor in ('accuracy', 'speed', 'kernels', 'pocl', 'slices'):
            if f'id="{anchor}"' not in page:
                failures.append(f'no section {anchor}')
        figures = re.findall(r'<figure data-plot="([^"]*)">(.*?)</figure>', page, re.S)
        want = {'exp f', 'exp d', 'sin f', 'slices'} | ({'kernels'} if 'kernels' in opts else set()) | \
            ({'pocl'} if pocl_ran else set())
        names = {n for n, _ in figures}
        if not want <= names:
            failures.append(f'plots missing: {sorted(want - names)} (have {sorted(names)})')
        for name, fig in figures:
            # Data: the series the page marks as such, drawn (a path or the markers of one).
            series = re.findall(r'<g id="data[^"]*">(.*?)</g>', fig, re.S)
            if not any(re.search(r'<path d="M [^"]*L|<use ', g) for g in series):
                failures.append(f'plot {name!r} holds no data')
        if 'expf8' not in page or not re.search(r'<td>expf8</td><td>[0-9.]+</td>', page):
            failures.append('the speed table lacks expf8')
        if pocl_ran and not re.search(r'<td>softmax</td><td>float</td><td>8</td><td>[0-9.]+</td><td>[0-9.]+</td>', page):
            failures.append('the PoCL table lacks softmax float 8 with both times')
        if 'Sleef_expf8' not in speed:
            failures.append('the benchmark run lacks SLEEF')
    for f in failures:
        print('FAIL:', f)
    print(f'{len(failures)} failures')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
